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
  // A search finds nothing for a path that ends in a separator.
  EXPECT_FALSE(os_.PathExists(folder_ + u"\\"));
  EXPECT_FALSE(os_.PathExists(In(u"flt.sys/")));
  EXPECT_FALSE(os_.PathExists(u"C:\\"));
  EXPECT_FALSE(os_.PathExists(In(u"flt.bak")));
  EXPECT_FALSE(os_.PathExists(In(u"missing\\flt.sys")));
  // A doubled separator (a folder value that ends in a backslash) still
  // names the file; so does a path through "..".
  EXPECT_TRUE(os_.PathExists(folder_ + u"\\\\flt.sys"));
  EXPECT_TRUE(os_.PathExists(In(u"no-such-folder\\..\\flt.sys")));
  EXPECT_TRUE(os_.PathExists(In(u".\\flt.sys")));

  // A relative path resolves against the current folder, whatever it is.
  host_->EnterFolder(folder_);
  EXPECT_TRUE(os_.PathExists(u"flt.sys"));
  EXPECT_TRUE(os_.PathExists(u".\\FLT.sys"));
  EXPECT_FALSE(os_.PathExists(u"system32\\drivers\\flt.sys"));
}

TEST_F(FileContract, WildcardsNeverPassForAFile) {
  host_->PutFile(In(u"OrvaneCo.dll"), "x");
  EXPECT_FALSE(os_.PathExists(In(u"Orvane*.dll")));
  EXPECT_FALSE(os_.PathExists(In(u"OrvaneCo.dl?")));
  EXPECT_FALSE(os_.PathExists(In(u"*")));
  // The search also takes '<', '>' and '"' as wildcards.
  EXPECT_FALSE(os_.PathExists(In(u"OrvaneCo.dl>")));
  EXPECT_FALSE(os_.PathExists(In(u"OrvaneCo<")));
  EXPECT_FALSE(os_.PathExists(In(u"OrvaneCo\"dll")));
  EXPECT_TRUE(os_.PathExists(In(u"OrvaneCo.dll")));
}

TEST_F(FileContract, AttributesTellFoldersAndReadOnlyFiles) {
  host_->PutFile(In(u"plain.log"), "x");
  host_->PutFile(In(u"locked.log"), "x");
  host_->MakeReadOnly(In(u"locked.log"));
  std::uint32_t attributes = 0;
  ASSERT_EQ(os_.GetAttributes(In(u"plain.log"), &attributes), win::kSuccess);
  EXPECT_EQ(attributes & (win::kFileAttributeReadOnly |
                          win::kFileAttributeDirectory),
            0u);
  ASSERT_EQ(os_.GetAttributes(In(u"locked.log"), &attributes), win::kSuccess);
  EXPECT_NE(attributes & win::kFileAttributeReadOnly, 0u);
  ASSERT_EQ(os_.GetAttributes(folder_, &attributes), win::kSuccess);
  EXPECT_NE(attributes & win::kFileAttributeDirectory, 0u);
  EXPECT_EQ(os_.GetAttributes(In(u"missing.log"), &attributes),
            win::kFileNotFound);
  EXPECT_EQ(os_.GetAttributes(In(u"missing\\x.log"), &attributes),
            win::kPathNotFound);
}

TEST_F(FileContract, RenameMovesAFileButNeverOntoAnExistingOne) {
  host_->PutFile(In(u"flt.bak"), "backup");
  host_->PutFile(In(u"other.sys"), "other");
  EXPECT_EQ(os_.RenameFile(In(u"missing.bak"), In(u"missing.sys")),
            win::kFileNotFound);
  const Status onto_existing = os_.RenameFile(In(u"flt.bak"), In(u"other.sys"));
  EXPECT_EQ(onto_existing, win::kAlreadyExists);
  EXPECT_EQ(host_->ReadFile(In(u"other.sys")), "other");

  EXPECT_EQ(os_.RenameFile(In(u"flt.bak"), In(u"missing\\flt.sys")),
            win::kPathNotFound);

  EXPECT_EQ(os_.RenameFile(In(u"flt.bak"), In(u"flt.sys")), win::kSuccess);
  EXPECT_EQ(host_->ReadFile(In(u"flt.sys")), "backup");
  EXPECT_FALSE(os_.PathExists(In(u"flt.bak")));
}

TEST_F(FileContract, ReplaceTakesTheTargetsPlaceOrChangesNothing) {
  host_->PutFile(In(u"new.log"), "new");
  host_->PutFile(In(u"old.log"), "old");
  EXPECT_EQ(os_.RenameReplacing(In(u"missing.log"), In(u"old.log")),
            win::kFileNotFound);
  EXPECT_EQ(os_.RenameReplacing(In(u"new.log"), folder_), win::kAccessDenied);
  EXPECT_EQ(os_.RenameReplacing(In(u"new.log"), In(u"missing\\old.log")),
            win::kPathNotFound);
  EXPECT_EQ(host_->ReadFile(In(u"old.log")), "old");

  EXPECT_EQ(os_.RenameReplacing(In(u"new.log"), In(u"old.log")), win::kSuccess);
  EXPECT_EQ(host_->ReadFile(In(u"old.log")), "new");
  EXPECT_FALSE(os_.PathExists(In(u"new.log")));
  // With nothing in its way it is a plain rename.
  EXPECT_EQ(os_.RenameReplacing(In(u"old.log"), In(u"fresh.log")), win::kSuccess);
  EXPECT_EQ(host_->ReadFile(In(u"fresh.log")), "new");
}

// A log viewer opens the file sharing reading and writing but not deletion.
TEST_F(FileContract, FileInAViewerCanBeMeasuredButNotMovedOrDeleted) {
  host_->PutFile(In(u"TarvoxTmp.log"), "12345");
  host_->PutFile(In(u"Tarvox.log"), "older");
  host_->HoldShared(In(u"TarvoxTmp.log"));
  std::uint64_t length = 0;
  EXPECT_EQ(os_.FileLength(In(u"TarvoxTmp.log"), &length), win::kSuccess);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(os_.RemoveFile(In(u"TarvoxTmp.log")), win::kSharingViolation);
  EXPECT_EQ(os_.RenameFile(In(u"TarvoxTmp.log"), In(u"other.log")),
            win::kSharingViolation);
  EXPECT_EQ(os_.RenameReplacing(In(u"TarvoxTmp.log"), In(u"Tarvox.log")),
            win::kSharingViolation);
  EXPECT_EQ(host_->ReadFile(In(u"Tarvox.log")), "older");

  // Viewed as the target, it cannot be replaced either.
  host_->HoldShared(In(u"Tarvox.log"));
  host_->PutFile(In(u"next.log"), "next");
  EXPECT_EQ(os_.RenameReplacing(In(u"next.log"), In(u"Tarvox.log")),
            win::kAccessDenied);
  EXPECT_EQ(host_->ReadFile(In(u"Tarvox.log")), "older");
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
  // Windows-1252 holds some characters above U+00FF at 0x80 to 0x9F.
  EXPECT_EQ(os_.ToAnsi(u"\u20ac \u201cq\u201d \u0178"), "\x80 \x93q\x94 \x9f");
  EXPECT_EQ(os_.ToAnsi(u"\u0081\u0080"), "\x81?");
  // Each half of a surrogate pair is a unit of its own.
  EXPECT_EQ(os_.ToAnsi(u"a\U0001F600b"), "a??b");
}

}  // namespace
}  // namespace tarvox::contract
