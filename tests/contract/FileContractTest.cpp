// File behaviour the run log and the driver and co-installer checks rely on.
#include "contract/ContractHost.h"
#include "services/FilePresence.h"

namespace tarvox::contract {
namespace {

class FileContract : public Contract {
 protected:
  std::u16string folder_ = host_->NewFolder();
  std::u16string In(std::u16string_view name) const {
    return folder_ + u"\\" + std::u16string(name);
  }
  FileFacts Facts(std::u16string_view path) {
    FileFacts facts;
    EXPECT_EQ(os_.DescribeFile(path, &facts), win::kSuccess);
    return facts;
  }
};

// The checks remove a name only when the existence test says a path names no
// file; every other answer means the file may be there.
TEST_F(FileContract, ExistenceTestSaysWhyAPathNamesNoFile) {
  host_->PutFile(In(u"flt.sys"), "driver");
  host_->PutFile(In(u"OrvaneCo.dll"), "x");
  host_->MakeFolders(In(u"Long Folder Name"));
  host_->PutFile(In(u"Long Folder Name\\x.sys"), "driver");
  const std::u16string literal = u"\\\\?\\" + folder_;
  struct Case {
    std::u16string path;
    Status answer;
  };
  const Case cases[] = {
      {In(u"flt.sys"), win::kSuccess},
      {In(u"FLT.SYS"), win::kSuccess},
      {folder_, win::kSuccess},  // a folder counts
      // A doubled separator (a folder value that ends in a backslash) still
      // names the file; so does a path through "." or "..".
      {folder_ + u"\\\\flt.sys", win::kSuccess},
      {In(u"no-such-folder\\..\\flt.sys"), win::kSuccess},
      {In(u".\\flt.sys"), win::kSuccess},
      {In(u"flt.bak"), win::kFileNotFound},
      {In(u"missing\\flt.sys"), win::kPathNotFound},
      {In(u"flt.sys\\inner.sys"), win::kPathNotFound},  // a file as a folder
      {In(u"a|b.sys"), win::kInvalidName},  // no file name holds '|'
      // A file search takes these as wildcards: no file has such a name.
      {In(u"Orvane*.dll"), win::kInvalidName},
      {In(u"OrvaneCo.dl?"), win::kInvalidName},
      {In(u"OrvaneCo.dl>"), win::kInvalidName},
      {In(u"OrvaneCo<"), win::kInvalidName},
      {In(u"OrvaneCo\"dll"), win::kInvalidName},
      // A search finds nothing for a path that ends in a separator.
      {folder_ + u"\\", win::kFileNotFound},
      {In(u"flt.sys/"), win::kFileNotFound},
      {u"C:\\", win::kFileNotFound},
      // Win32 calls drop the dots and blanks that end a path's last name
      // (and one dot that ends any other) and read a reserved name as a
      // device; the literal "\\?\" form takes each name as written, as
      // Windows' loader takes a driver's path. Letter case and short names
      // hold in both.
      {In(u"flt.sys "), win::kSuccess},
      {In(u"flt.sys. . "), win::kSuccess},
      {folder_ + u"\\.\\x.\\..\\flt.sys", win::kSuccess},
      {In(u"NUL"), win::kSuccess},
      {literal + u"\\flt.sys", win::kSuccess},
      {literal + u"\\FLT.SYS", win::kSuccess},
      {u"\\\\?\\" + host_->ShortPath(In(u"Long Folder Name")) + u"\\x.sys", win::kSuccess},
      {literal + u"\\flt.sys ", win::kFileNotFound},
      {literal + u"\\flt.sys.", win::kFileNotFound},
      {literal + u"\\NUL", win::kFileNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    EXPECT_EQ(os_.FindPath(c.path), c.answer);
  }
  // A drive that does not exist: Windows answers 3; Wine answers 2, which
  // names no file either.
  EXPECT_EQ(FilePresence(os_.FindPath(u"Q:\\flt.sys")), 0);
  if (!host_->wine()) {
    EXPECT_EQ(os_.FindPath(u"Q:\\flt.sys"), win::kPathNotFound);
  }
  // A network path that leads nowhere says nothing about the file.
  EXPECT_EQ(FilePresence(os_.FindPath(u"\\\\tarvox-nohost\\share\\flt.sys")),
            kCannotTell);

  // A relative path resolves against the current folder, whatever it is.
  host_->EnterFolder(folder_);
  EXPECT_EQ(os_.FindPath(u"flt.sys"), win::kSuccess);
  EXPECT_EQ(os_.FindPath(u".\\FLT.sys"), win::kSuccess);
  EXPECT_EQ(os_.FindPath(u"system32\\drivers\\flt.sys"), win::kPathNotFound);
}

// Moved under a literal name, a file keeps it as written: Win32 calls, which
// would trim it, find no such file, and its facts tell it from the file
// they name.
TEST_F(FileContract, LiteralNameIsKeptByARenameAndToldApartByItsFacts) {
  host_->PutFile(In(u"flt.sys"), "driver");
  const std::u16string literal = u"\\\\?\\" + folder_;
  host_->PutFile(In(u"flt.bak"), "copy");
  EXPECT_EQ(os_.RenameFile(literal + u"\\flt.bak", literal + u"\\new.sys "), win::kSuccess);
  EXPECT_EQ(os_.FindPath(literal + u"\\new.sys "), win::kSuccess);
  EXPECT_EQ(os_.FindPath(In(u"new.sys")), win::kFileNotFound);
  EXPECT_NE(Facts(literal + u"\\new.sys ").identity, Facts(In(u"new.sys")).identity);
  EXPECT_NE(Facts(literal + u"\\flt.sys ").identity, Facts(In(u"flt.sys")).identity);
  EXPECT_EQ(Facts(literal + u"\\flt.sys").identity, Facts(In(u"flt.sys")).identity);
}

// Windows refuses paths of 260 units or more to programs that are not
// long-path aware; the backend passes them in their long form, which Windows
// takes literally. They must work as shorter paths do, read the same way.
TEST_F(FileContract, PathsOf260UnitsOrMoreWorkAsShorterOnes) {
  const std::u16string deep = folder_ + u"\\" + std::u16string(120, u'd') + u"\\" +
                              std::u16string(120, u'e');
  host_->MakeFolders(deep);
  host_->PutFile(deep + u"\\flt.bak", "driver");
  ASSERT_GE(deep.size() + 8, 260u);
  EXPECT_EQ(os_.FindPath(deep + u"\\flt.bak"), win::kSuccess);
  EXPECT_EQ(os_.FindPath(deep + u"\\flt.sys"), win::kFileNotFound);
  EXPECT_EQ(os_.FindPath(deep + u"\\missing\\flt.sys"), win::kPathNotFound);
  EXPECT_EQ(os_.FindPath(deep + u"\\x\\..\\.\\flt.bak"), win::kSuccess);
  EXPECT_EQ(os_.FindPath(deep + u"/flt.bak"), win::kSuccess);
  EXPECT_EQ(os_.FindPath(deep + u"\\\\flt.bak"), win::kSuccess);
  std::uint32_t attributes = 0;
  ASSERT_EQ(os_.GetAttributes(deep, &attributes), win::kSuccess);
  EXPECT_NE(attributes & win::kFileAttributeDirectory, 0u);

  EXPECT_EQ(os_.RenameFile(deep + u"\\x\\..\\flt.bak", deep + u"/flt.sys"),
            win::kSuccess);
  EXPECT_EQ(host_->ReadFile(deep + u"\\flt.sys"), "driver");
  FileHandle file = kNoFile;
  bool created = false;
  ASSERT_EQ(os_.OpenAppendFile(deep + u"\\TarvoxTmp.log", &file, &created),
            win::kSuccess);
  EXPECT_TRUE(created);
  EXPECT_EQ(os_.AppendToFile(file, "line\r\n"), win::kSuccess);
  os_.CloseFile(file);
  std::uint64_t length = 0;
  EXPECT_EQ(os_.FileLength(deep + u"\\TarvoxTmp.log", &length), win::kSuccess);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(os_.RenameReplacing(deep + u"\\TarvoxTmp.log", deep + u"\\Tarvox.log"),
            win::kSuccess);
  EXPECT_EQ(os_.RemoveFile(deep + u"\\Tarvox.log"), win::kSuccess);
  EXPECT_EQ(os_.FindPath(deep + u"\\Tarvox.log"), win::kFileNotFound);
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
  EXPECT_EQ(os_.FindPath(In(u"flt.bak")), win::kFileNotFound);
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
  EXPECT_EQ(os_.FindPath(In(u"new.log")), win::kFileNotFound);
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
  // Asking tells it beforehand, and moves nothing.
  EXPECT_EQ(Facts(In(u"TarvoxTmp.log")).movable, win::kSharingViolation);
  EXPECT_EQ(Facts(In(u"Tarvox.log")).movable, win::kSuccess);

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
  EXPECT_EQ(Facts(In(u"held.bak")).movable, win::kSharingViolation);
}

// Windows takes many spellings for one file: "." and "..", '/' and doubled
// separators, letter case beyond A to Z, short 8.3 names. A file's facts
// name it the same whichever is used, whether it exists or not, and tell it
// apart from every other.
TEST_F(FileContract, FactsNameAFileAlikeWhicheverWayItIsSpelled) {
  const std::u16string deep = In(u"Long Folder Name\\M\u00fcller");
  host_->MakeFolders(deep);
  host_->PutFile(deep + u"\\alias file.sys", "MZ");
  const std::u16string short_deep = host_->ShortPath(deep);
  EXPECT_NE(short_deep, deep);
  for (const std::u16string_view name : {u"alias file.sys", u"alias file.bak"}) {
    SCOPED_TRACE(name.size());
    std::u16string upper(name);
    for (auto& unit : upper) unit = unit >= u'a' && unit <= u'z' ? unit - 32 : unit;
    const std::u16string spellings[] = {
        In(u"long folder name\\.\\M\u00dcLLER\\") + upper,
        In(u"Long Folder Name//x\\..\\M\u00fcller/") + std::u16string(name),
        short_deep + u"\\" + std::u16string(name),
    };
    const FileFacts plain = Facts(deep + u"\\" + std::u16string(name));
    EXPECT_EQ(plain.exists, name.ends_with(u".sys"));
    for (const auto& spelling : spellings) EXPECT_EQ(Facts(spelling).identity, plain.identity);
  }
  const FileFacts file = Facts(deep + u"\\alias file.sys");
  EXPECT_EQ(file.links, 1u);
  EXPECT_EQ(file.movable, win::kSuccess);
  EXPECT_NE(file.identity, Facts(deep + u"\\alias file.bak").identity);
  EXPECT_NE(file.identity, Facts(deep).identity);
  EXPECT_EQ(Facts(deep).attributes & win::kFileAttributeDirectory, win::kFileAttributeDirectory);

  host_->PutHardLinkedFile(In(u"linked.log"), "x");
  EXPECT_EQ(Facts(In(u"linked.log")).links, 2u);
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
  EXPECT_EQ(os_.FindPath(In(u"plain.log")), win::kFileNotFound);
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

// What an earlier run left in the temporary log stays: lines go after it.
TEST_F(FileContract, AppendFileCreatesOrExtendsAndKeepsBytesAsGiven) {
  host_->PutFile(In(u"TarvoxTmp.log"), "left by an earlier run\r\n");
  FileHandle file = kNoFile;
  bool created = true;
  ASSERT_EQ(os_.OpenAppendFile(In(u"TarvoxTmp.log"), &file, &created),
            win::kSuccess);
  EXPECT_FALSE(created);
  EXPECT_EQ(os_.AppendToFile(file, std::string_view("a\r\nb\n\0c", 7)),
            win::kSuccess);
  EXPECT_EQ(os_.AppendToFile(file, "d"), win::kSuccess);
  // Readable while it is being written.
  const std::string expected =
      "left by an earlier run\r\n" + std::string("a\r\nb\n\0cd", 8);
  EXPECT_EQ(host_->ReadFile(In(u"TarvoxTmp.log")), expected);
  os_.CloseFile(file);
  EXPECT_EQ(host_->ReadFile(In(u"TarvoxTmp.log")), expected);

  ASSERT_EQ(os_.OpenAppendFile(In(u"new.log"), &file, &created), win::kSuccess);
  EXPECT_TRUE(created);
  os_.CloseFile(file);
  EXPECT_EQ(host_->ReadFile(In(u"new.log")), "");
}

// Windows opens no read-only file or folder for writing, nor a file another
// program holds without sharing writing; a viewer, which shares writing, is
// no obstacle. (Wine run as root opens a read-only file all the same; the
// backend answers as Windows.) Asking beforehand tells the same.
TEST_F(FileContract, AppendFileIsRefusedWhereWindowsOpensNoFileForWriting) {
  host_->PutFile(In(u"read-only.log"), "x");
  host_->MakeReadOnly(In(u"read-only.log"));
  host_->PutFile(In(u"held.log"), "x");
  host_->HoldExclusively(In(u"held.log"));
  host_->PutFile(In(u"viewed.log"), "x");
  host_->HoldShared(In(u"viewed.log"));
  struct Case {
    std::u16string path;
    Status opened;
  };
  const Case cases[] = {
      {In(u"no-such-folder\\TarvoxTmp.log"), win::kPathNotFound},
      {folder_, win::kAccessDenied},
      {In(u"read-only.log"), win::kAccessDenied},
      {In(u"held.log"), win::kSharingViolation},
      {In(u"viewed.log"), win::kSuccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    const FileFacts facts = Facts(c.path);
    if (facts.exists) {
      EXPECT_EQ(facts.writable, c.opened);
    }
    FileHandle file = kNoFile;
    bool created = false;
    EXPECT_EQ(os_.OpenAppendFile(c.path, &file, &created), c.opened);
    if (c.opened == win::kSuccess) os_.CloseFile(file);
  }
  EXPECT_EQ(host_->ReadFile(In(u"read-only.log")), "x");
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
