// The contract host of the real Windows calls (run under Wine).
#include <windows.h>

#include <vector>

#include "contract/ContractHost.h"
#include "platform/win32/Win32Platform.h"
#include "wine/WinTestSupport.h"

namespace tarvox::contract {
namespace {

using wintest::Utf16;
using wintest::Wide;

class Win32Host final : public ContractHost {
 public:
  Platform& os() override { return platform_; }
  std::u16string NewFolder() override {
    const std::wstring path =
        L"C:\\tarvox-contract\\" + std::to_wstring(GetCurrentProcessId()) +
        L"-" + std::to_wstring(++folders_);
    wintest::MakeFolders(path);
    return Utf16(path);
  }
  void MakeFolders(std::u16string_view path) override {
    wintest::MakeFolders(Wide(path));
  }
  void PutFile(std::u16string_view path, std::string_view bytes) override {
    wintest::WriteFileBytes(Wide(path), std::string(bytes));
  }
  std::optional<std::string> ReadFile(std::u16string_view path) override {
    return wintest::ReadFileBytes(Wide(path));
  }
  void MakeReadOnly(std::u16string_view path) override {
    wintest::MakeReadOnly(Wide(path));
  }
  std::u16string ShortPath(std::u16string_view path) override {
    wchar_t short_path[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(Wide(path).c_str(), short_path, MAX_PATH);
    EXPECT_GT(length, 0u) << "short path, error " << GetLastError();
    return Utf16(std::wstring_view(short_path, length < MAX_PATH ? length : 0));
  }
  void PutHardLinkedFile(std::u16string_view path, std::string_view bytes) override {
    PutFile(path, bytes);
    const std::wstring second = Wide(path) + L".second";
    EXPECT_TRUE(CreateHardLinkW(second.c_str(), Wide(path).c_str(), nullptr))
        << "hard link, error " << GetLastError();
  }
  void HoldExclusively(std::u16string_view path) override {
    held_.push_back(wintest::HoldExclusively(Wide(path)));
  }
  void HoldShared(std::u16string_view path) override {
    held_.push_back(wintest::HoldShared(Wide(path)));
  }
  void EnterFolder(std::u16string_view folder) override {
    ASSERT_TRUE(SetCurrentDirectoryW(Wide(folder).c_str()));
  }
  void DenyKeyAccess(std::u16string_view path, std::uint32_t access) override {
    wintest::DenyKeyAccess(Wide(path), access);
  }
  void HoldRefusedMutex(std::u16string_view name) override {
    // An empty DACL grants nothing to anybody.
    SECURITY_DESCRIPTOR descriptor;
    ACL empty;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    held_.emplace_back(CreateMutexW(&attributes, TRUE, Wide(name).c_str()));
    ASSERT_TRUE(held_.back().valid());
  }
  // Made here, not through the platform: not the tool's own mutex.
  void HoldMutex(std::u16string_view name) override {
    held_.emplace_back(CreateMutexW(nullptr, TRUE, Wide(name).c_str()));
    ASSERT_TRUE(held_.back().valid());
  }
  void EnterSessionZero(std::u16string_view name) override {
    held_.push_back(wintest::LinkSessionNameToGlobal(Wide(name)));
    ASSERT_TRUE(held_.back().valid());
  }
  bool wine() const override { return true; }

 private:
  Win32Platform platform_;
  std::vector<wintest::OwnedHandle> held_;
  int folders_ = 0;
};

}  // namespace

std::unique_ptr<ContractHost> MakeContractHost() {
  return std::make_unique<Win32Host>();
}

}  // namespace tarvox::contract
