#include "platform/RunState.h"

namespace tarvox {

int g_changesMade = 0;
std::u16string g_systemRoot;

}  // namespace tarvox
