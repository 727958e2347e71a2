// A run that keeps no pass: every name is judged each time it appears. The
// tests run machines both ways and compare all they leave.
#pragma once

#include "services/PassedNames.h"

namespace tarvox::testing {

class NoPassedNames : public PassedNames {
 public:
  bool Has(std::u16string_view) const override { return false; }
  void Add(std::u16string_view) override {}
};

}  // namespace tarvox::testing
