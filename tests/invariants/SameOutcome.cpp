// Whole machines compared: what two runs a user could tell apart differ in.
#include "invariants/RunInvariants.h"
#include "invariants/StoredValues.h"

namespace tarvox::invariants {

std::vector<std::u16string> ListNames(const MemoryPlatform& machine, std::u16string_view key,
                                      std::u16string_view name) {
  const std::optional<Stored> value = machine.GetValue(key, name);
  if (!value || value->bytes.size() > MultiSz::kBytes) return {};
  return EntriesOf(Converted(*value));
}

std::vector<std::u16string> RunSnapshot::ListNames(std::u16string_view key,
                                                   std::u16string_view name) const {
  const std::optional<Stored> value = Find(values_, key, name);
  if (!value || value->bytes.size() > MultiSz::kBytes) return {};
  return EntriesOf(Converted(*value));
}

std::string SameOutcome(const MemoryPlatform& a, const MemoryPlatform& b, bool logs) {
  const auto values = [](const MemoryPlatform& machine) {
    std::map<std::pair<std::u16string, std::u16string>, std::pair<std::u16string, Stored>> all;
    for (const auto& at : machine.AllValues()) {
      all[{Fold(at.key), Fold(at.name)}] = {at.name, at.value};
    }
    return all;
  };
  const auto va = values(a);
  const auto vb = values(b);
  for (const auto* side : {&va, &vb}) {
    const auto& other = side == &va ? vb : va;
    for (const auto& [at, value] : *side) {
      const auto it = other.find(at);
      if (it == other.end() || it->second.first != value.first ||
          !Same(it->second.second, value.second)) {
        return "value differs: " + Narrow(at.first) + " " + Narrow(value.first);
      }
    }
  }
  if (a.AllKeys() != b.AllKeys()) return "keys differ";
  const auto files = [&](const MemoryPlatform& machine) {
    std::map<std::u16string, std::string> all;
    for (const auto& [path, bytes] : machine.AllFileBytes()) {
      if (!logs && IsLogFile(Fold(path))) continue;
      all[path] = bytes;
    }
    return all;
  };
  const auto fa = files(a);
  const auto fb = files(b);
  if (fa != fb) {
    for (const auto& [path, bytes] : fa) {
      const auto it = fb.find(path);
      if (it == fb.end() || it->second != bytes) return "file differs: " + Narrow(path);
    }
    return "a file is there in one only";
  }
  if (!logs) return "";
  if (a.notices().size() != b.notices().size()) return "notices differ";
  for (std::size_t n = 0; n < a.notices().size(); ++n) {
    const auto& x = a.notices()[n];
    const auto& y = b.notices()[n];
    if (x.text != y.text || x.caption != y.caption || x.style != y.style) {
      return "notices differ";
    }
  }
  return "";
}

}  // namespace tarvox::invariants
