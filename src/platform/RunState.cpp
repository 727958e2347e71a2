#include "platform/RunState.h"

namespace tarvox {

int g_changesMade = 0;
std::u16string g_systemRoot;

void ReadSystemRoot(Platform& os) {
  constexpr std::size_t kSystemRootUnits = 260;
  const auto value = os.ReadEnvironment(u"SystemRoot");
  g_systemRoot =
      (value && value->size() < kSystemRootUnits) ? *value : std::u16string();
}

}  // namespace tarvox
