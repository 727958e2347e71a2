// File behaviour the run log and the driver and co-installer checks rely on.
#include "contract/ContractHost.h"

namespace tarvox::contract {
namespace {

class FileContract : public Contract {
 protected:
  std::u16string folder_ = host_->NewFolder();
  std::u16string In(std::u16string_view name) const {
    return folder_ + u"\\" + std::u16string(name);
  }
};

TEST_F(FileContract, ExistenceTestFindsFilesAndFoldersByTheirExactPath) {
  host_->PutFile(In(u"flt.sys"), "driver");
  EXPECT_TRUE(os_.PathExists(In(u"flt.sys")));
  EXPECT_TRUE(os_.PathExists(In(u"FLT.SYS")));
  EXPECT_TRUE(os_.PathExists(folder_));  // a folder counts
  EXPECT_FALSE(os_.PathExists(In(u"flt.bak")));
  EXPECT_FALSE(os_.PathExists(In(u"missing\\flt.sys")));
  // A doubled separator (a folder value that ends in a backslash) still
  // names the file; so does a path through "..".
  EXPECT_TRUE(os_.PathExists(folder_ + u"\\\\flt.sys"));
  EXPECT_TRUE(os_.PathExists(In(u"no-such-folder\\..\\flt.sys")));
  EXPECT_TRUE(os_.PathExists(In(u".\\flt.sys")));
}

TEST_F(FileContract, WildcardsNeverPassForAFile) {
  host_->PutFile(In(u"OrvaneCo.dll"), "x");
  EXPECT_FALSE(os_.PathExists(In(u"Orvane*.dll")));
  EXPECT_FALSE(os_.PathExists(In(u"OrvaneCo.dl?")));
  EXPECT_FALSE(os_.PathExists(In(u"*")));
}

TEST_F(FileContract, RenameMovesAFileButNeverOntoAnExistingOne) {
  host_->PutFile(In(u"flt.bak"), "backup");
  host_->PutFile(In(u"other.sys"), "other");
  EXPECT_EQ(os_.RenameFile(In(u"missing.bak"), In(u"missing.sys")),
            win::kFileNotFound);
  const Status onto_existing = os_.RenameFile(In(u"flt.bak"), In(u"other.sys"));
  EXPECT_EQ(onto_existing, win::kAlreadyExists);
  EXPECT_EQ(host_->ReadFile(In(u"other.sys")), "other");

  EXPECT_EQ(os_.RenameFile(In(u"flt.bak"), In(u"flt.sys")), win::kSuccess);
  EXPECT_EQ(host_->ReadFile(In(u"flt.sys")), "backup");
  EXPECT_FALSE(os_.PathExists(In(u"flt.bak")));
}

TEST_F(FileContract, RenameOfAFileHeldOpenIsASharingViolation) {
  host_->PutFile(In(u"held.bak"), "x");
  host_->HoldExclusively(In(u"held.bak"));
  EXPECT_EQ(os_.RenameFile(In(u"held.bak"), In(u"held.sys")),
            win::kSharingViolation);
}

TEST_F(FileContract, RemoveRefusesReadOnlyFilesAndFolders) {
  host_->PutFile(In(u"Tarvox.log"), "old");
  host_->MakeReadOnly(In(u"Tarvox.log"));
  EXPECT_EQ(os_.RemoveFile(In(u"Tarvox.log")), win::kAccessDenied);
  EXPECT_EQ(host_->ReadFile(In(u"Tarvox.log")), "old");
  EXPECT_EQ(os_.RemoveFile(folder_), win::kAccessDenied);
  EXPECT_EQ(os_.RemoveFile(In(u"missing.log")), win::kFileNotFound);

  host_->PutFile(In(u"plain.log"), "x");
  EXPECT_EQ(os_.RemoveFile(In(u"plain.log")), win::kSuccess);
  EXPECT_FALSE(os_.PathExists(In(u"plain.log")));
}

TEST_F(FileContract, LengthNeedsAFileThatCanBeOpened) {
  host_->PutFile(In(u"log.txt"), "12345");
  std::uint64_t length = 0;
  EXPECT_EQ(os_.FileLength(In(u"log.txt"), &length), win::kSuccess);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(os_.FileLength(In(u"missing.txt"), &length), win::kFileNotFound);
  host_->HoldExclusively(In(u"log.txt"));
  EXPECT_EQ(os_.FileLength(In(u"log.txt"), &length), win::kSharingViolation);
}

TEST_F(FileContract, WriteFileCreatesOrEmptiesAndKeepsBytesAsGiven) {
  host_->PutFile(In(u"TarvoxTmp.log"), "left over from an earlier run");
  FileHandle file = kNoFile;
  ASSERT_EQ(os_.CreateWriteFile(In(u"TarvoxTmp.log"), &file), win::kSuccess);
  EXPECT_EQ(os_.AppendToFile(file, std::string_view("a\r\nb\n\0c", 7)),
            win::kSuccess);
  EXPECT_EQ(os_.AppendToFile(file, "d"), win::kSuccess);
  // Readable while it is being written.
  EXPECT_EQ(host_->ReadFile(In(u"TarvoxTmp.log")),
            std::string("a\r\nb\n\0cd", 8));
  os_.CloseFile(file);
  EXPECT_EQ(host_->ReadFile(In(u"TarvoxTmp.log")),
            std::string("a\r\nb\n\0cd", 8));
}

// (Not pinned: Windows refuses to empty a read-only file, but Wine run as
// root, as the tests are, does not.)
TEST_F(FileContract, WriteFileFailsWithoutItsFolder) {
  FileHandle file = kNoFile;
  EXPECT_EQ(os_.CreateWriteFile(In(u"no-such-folder\\TarvoxTmp.log"), &file),
            win::kPathNotFound);
  EXPECT_EQ(os_.CreateWriteFile(folder_, &file), win::kAccessDenied);
}

TEST_F(FileContract, AnsiTextReplacesWhatTheCodePageLacks) {
  EXPECT_EQ(os_.ToAnsi(u"SYSTEM\\CurrentControlSet 0-9 ~"),
            "SYSTEM\\CurrentControlSet 0-9 ~");
  EXPECT_EQ(os_.ToAnsi(u"caf\u00e9"), "caf\xe9");
  EXPECT_EQ(os_.ToAnsi(u"a\u4e2db"), "a?b");
  EXPECT_EQ(os_.ToAnsi(u"x\xd800y"), "x?y");  // a lone surrogate
  EXPECT_EQ(os_.ToAnsi(u"\u0100"), "?");      // no look-alike 'A'
  EXPECT_EQ(os_.ToAnsi(u""), "");
}

}  // namespace
}  // namespace tarvox::contract
