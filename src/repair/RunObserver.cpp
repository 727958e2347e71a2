#include "repair/RunObserver.h"

namespace tarvox {

RunObserver* g_runObserver = nullptr;

}  // namespace tarvox
