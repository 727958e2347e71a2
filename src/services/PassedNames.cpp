#include "services/PassedNames.h"

#include "multisz/Names.h"

namespace tarvox {
namespace {

std::u16string Folded(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& unit : folded) unit = FoldAsciiLetter(unit);
  return folded;
}

}  // namespace

bool PassedNames::Has(std::u16string_view name) const {
  return names_.count(Folded(name)) != 0;
}

void PassedNames::Add(std::u16string_view name) { names_.insert(Folded(name)); }

}  // namespace tarvox
