// What a contract test needs besides the platform under test: a folder of its
// own and ways to arrange files and keys that the tool itself never makes.
// One host per backend: the in-memory machine natively, real Windows calls
// under Wine. The same tests run against both.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/Platform.h"

namespace tarvox::contract {

class ContractHost {
 public:
  virtual ~ContractHost() = default;
  virtual Platform& os() = 0;
  // A new empty folder, as an absolute path without a trailing backslash.
  virtual std::u16string NewFolder() = 0;
  // A folder and every folder along its path.
  virtual void MakeFolders(std::u16string_view path) = 0;
  virtual void PutFile(std::u16string_view path, std::string_view bytes) = 0;
  virtual std::optional<std::string> ReadFile(std::u16string_view path) = 0;
  virtual void MakeReadOnly(std::u16string_view path) = 0;
  // The path as GetShortPathNameW spells it: every part that has a short
  // (8.3) name by that name.
  virtual std::u16string ShortPath(std::u16string_view path) = 0;
  // A file that has a second name beside it (a hard link).
  virtual void PutHardLinkedFile(std::u16string_view path, std::string_view bytes) = 0;
  // Keeps the file open with no sharing until the host goes.
  virtual void HoldExclusively(std::u16string_view path) = 0;
  // Keeps the file open for reading, sharing reading and writing but not
  // deletion, as a log viewer does, until the host goes.
  virtual void HoldShared(std::u16string_view path) = 0;
  // Makes `folder` the current folder, against which relative paths
  // resolve.
  virtual void EnterFolder(std::u16string_view folder) = 0;
  // Opening the key with any right of `access` is refused from now on.
  virtual void DenyKeyAccess(std::u16string_view path,
                             std::uint32_t access) = 0;
  // Holds a mutex whose security refuses every other opening, as another
  // user's process does, until the host goes.
  virtual void HoldRefusedMutex(std::u16string_view name) = 0;
  // Holds a mutex as another program does, until the host goes.
  virtual void HoldMutex(std::u16string_view name) = 0;
  // From now on the plain and "Local\" forms of the mutex name `name` reach
  // its "Global\" one, as every name does in session 0 (where services,
  // SYSTEM agents and scheduled tasks run). Under Wine, which runs every
  // process in session 1, a symbolic link in the session's namespace does
  // it, held until the host goes.
  virtual void EnterSessionZero(std::u16string_view name) = 0;
  // Whether the backend is the real Win32 calls under Wine. Where Wine is
  // known to differ from Windows, a test says so and checks Windows'
  // answer on the in-memory machine alone (tests/WINDOWS-NOT-WINE.md).
  virtual bool wine() const = 0;
};

std::unique_ptr<ContractHost> MakeContractHost();

class Contract : public ::testing::Test {
 protected:
  std::unique_ptr<ContractHost> host_ = MakeContractHost();
  Platform& os_ = host_->os();
};

// Bytes of UTF-16 text, for values and files.
inline std::string Bytes(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()),
                     text.size() * 2);
}

}  // namespace tarvox::contract
