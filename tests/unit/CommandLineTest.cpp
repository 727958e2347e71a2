#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace tarvox {
namespace {

TEST(CommandLine, RemainderFollowsTheProgramNameAndItsBlanks) {
  EXPECT_EQ(CommandLineRemainder(u"Tarvox.exe -silent"), u"-silent");
  EXPECT_EQ(CommandLineRemainder(u"Tarvox.exe\t \x01-silent "), u"-silent ");
  EXPECT_EQ(CommandLineRemainder(u"\"C:\\Program Files\\Tarvox.exe\" -silent"),
            u"-silent");
  // The closing quote ends the name even without a blank after it.
  EXPECT_EQ(CommandLineRemainder(u"\"C:\\a b\\Tarvox.exe\"-silent"),
            u"-silent");
  // An unclosed quote takes the whole line as the name.
  EXPECT_EQ(CommandLineRemainder(u"\"C:\\a b\\Tarvox.exe -silent"), u"");
  EXPECT_EQ(CommandLineRemainder(u""), u"");
  EXPECT_EQ(CommandLineRemainder(u"Tarvox.exe"), u"");
}

TEST(CommandLine, OnlyTheWholeSwitchInAnyCaseIsSilent) {
  struct Case {
    std::u16string_view line;
    bool silent;
  };
  const Case cases[] = {
      {u"Tarvox.exe -silent", true},
      {u"Tarvox.exe -SILENT", true},
      {u"Tarvox.exe -Silent", true},
      {u"Tarvox.exe  -silent", true},  // two blanks
      {u"\"C:\\Program Files\\Orvane\\Tarvox.exe\" -silent", true},
      {u"Tarvox.exe -silent ", false},  // trailing blank
      {u"Tarvox.exe /silent", false},
      {u"Tarvox.exe --silent", false},
      {u"Tarvox.exe -silent -x", false},
      {u"Tarvox.exe -silen", false},
      {u"Tarvox.exe", false},
      {u"Tarvox.exe -s\u0130lent", false},  // only A to Z fold
      {u"-silent", false},                  // that is the program name
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSilentCommandLine(c.line), c.silent)
        << std::string(c.line.begin(), c.line.end());
  }
}

}  // namespace
}  // namespace tarvox
