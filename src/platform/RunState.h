// Process-wide state of one run, read and written by every layer above the
// platform. Each value is set once or only ever raised, never cleared.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace tarvox {

// Raised to 1 by every change that needs a reboot to take effect: a list or
// backup written, a driver file restored, the co-installer entry removed.
// Read once at the end of the run to decide on the reboot notice.
extern int g_changesMade;

// The Windows folder ("SystemRoot"), without a trailing backslash; empty
// when the variable is unset or longer than 259 units.
extern std::u16string g_systemRoot;

// Fills g_systemRoot from the environment. A value of 260 units or more
// does not fit the 260-unit buffer the Windows folder is read into: such a
// value is taken as no value at all.
void ReadSystemRoot(Platform& os);

}  // namespace tarvox
