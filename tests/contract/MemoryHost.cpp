// The contract host of the in-memory machine.
#include <string>

#include "contract/ContractHost.h"
#include "support/memory/MemoryPlatform.h"

namespace tarvox::contract {
namespace {

class MemoryHost final : public ContractHost {
 public:
  Platform& os() override { return machine_; }
  std::u16string NewFolder() override {
    std::u16string path = u"C:\\contract\\";
    for (const char c : std::to_string(++folders_)) path += char16_t(c);
    machine_.AddFolder(path);
    return path;
  }
  void MakeFolders(std::u16string_view path) override { machine_.AddFolder(path); }
  void PutFile(std::u16string_view path, std::string_view bytes) override {
    machine_.AddFile(path, bytes);
  }
  std::optional<std::string> ReadFile(std::u16string_view path) override {
    return machine_.FileBytes(path);
  }
  void MakeReadOnly(std::u16string_view path) override {
    machine_.SetReadOnly(path, true);
  }
  std::u16string ShortPath(std::u16string_view path) override {
    return machine_.ShortPathOf(path);
  }
  void PutHardLinkedFile(std::u16string_view path, std::string_view bytes) override {
    machine_.AddHardLinkedFile(path, bytes);
  }
  void HoldExclusively(std::u16string_view path) override {
    machine_.HoldExclusively(path);
  }
  void HoldShared(std::u16string_view path) override {
    machine_.HoldShared(path);
  }
  void EnterFolder(std::u16string_view folder) override {
    machine_.SetCurrentFolder(folder);
  }
  void DenyKeyAccess(std::u16string_view path, std::uint32_t access) override {
    machine_.DenyAccess(path, access);
  }
  void HoldRefusedMutex(std::u16string_view name) override {
    machine_.HoldMutex(name);
    machine_.RefuseMutex(name);
  }
  void HoldMutex(std::u16string_view name) override { machine_.HoldMutex(name); }
  // The in-memory machine's session is the whole process's.
  void EnterSessionZero(std::u16string_view) override { machine_.SetSession(0); }
  bool wine() const override { return false; }

 private:
  MemoryPlatform machine_;
  int folders_ = 0;
};

}  // namespace

std::unique_ptr<ContractHost> MakeContractHost() {
  return std::make_unique<MemoryHost>();
}

}  // namespace tarvox::contract
