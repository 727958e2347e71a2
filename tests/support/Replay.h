// A check's prediction carried out: its changes made on another machine, in
// their order, for comparison with what a real run does.
#pragma once

#include <vector>

#include "platform/overlay/OverlayPlatform.h"

namespace tarvox::testing {

void ReplayChanges(const std::vector<OverlayPlatform::Change>& changes, Platform& target);

}  // namespace tarvox::testing
