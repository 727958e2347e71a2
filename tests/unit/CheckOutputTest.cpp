// How TarvoxCheck's output meets a console and a script: machine text that
// cannot forge a line or steer a terminal, arguments in any letter case,
// and a report written in pieces that a console takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/Arguments.h"
#include "text/Escape.h"
#include "text/Pieces.h"

namespace tarvox::check {

using text::Characters;
using text::JsonString;
using text::Shown;
using text::WriteInPieces;
namespace {

TEST(CheckText, HiddenCharactersAreEscapedInTextAndExactInJson) {
  struct Case {
    std::u16string_view text;
    const char* shown;
    std::size_t characters;  // of the text as shown
    const char* json;
  };
  const Case cases[] = {
      {u"br\u00e4nnare", "br\u00e4nnare", 8, "\"br\u00e4nnare\""},
      {u"\U0001F600", "\U0001F600", 1, "\"\U0001F600\""},  // a pair prints
      {u"a\nb\r", "a<U+000A>b<U+000D>", 18, "\"a\\u000ab\\u000d\""},
      {u"\x1b[2J", "<U+001B>[2J", 11, "\"\\u001b[2J\""},
      {u"\x7f\u0085\u009f", "<U+007F><U+0085><U+009F>", 24, "\"\\u007f\\u0085\\u009f\""},
      {std::u16string_view(u"a\0b", 3), "a<U+0000>b", 10, "\"a\\u0000b\""},
      // Halves without their pair, each apart from the others.
      {u"x\xD800", "x<U+D800>", 9, "\"x\\ud800\""},
      {u"\xDC00\xD800", "<U+DC00><U+D800>", 16, "\"\\udc00\\ud800\""},
      // Separators, direction and what prints nothing or looks like a space.
      {u"\u2028\u2029", "<U+2028><U+2029>", 16, "\"\\u2028\\u2029\""},
      {u"abc\u202Efed", "abc<U+202E>fed", 14, "\"abc\\u202efed\""},
      {u"\u200Bgood", "<U+200B>good", 12, "\"\\u200bgood\""},
      {u"\u00AD\u00A0\uFEFF", "<U+00AD><U+00A0><U+FEFF>", 24, "\"\\u00ad\\u00a0\\ufeff\""},
      {u"\U000E0041", "<U+E0041>", 9, "\"\\udb40\\udc41\""},  // a tag
      {u"\uFFFF", "<U+FFFF>", 8, "\"\\uffff\""},
      // '<' begins every escape of the text, so it is one itself; the JSON
      // has escapes of its own.
      {u"<U+000A>", "<U+003C>U+000A>", 15, "\"<U+000A>\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(Shown(c.text), c.shown);
    EXPECT_EQ(Characters(Shown(c.text)), c.characters);
    EXPECT_EQ(JsonString(c.text), c.json);
  }
}

TEST(CheckArguments, EachWholeInAnyCaseTheFirstUnknownNamed) {
  struct Case {
    std::vector<std::u16string> words;
    bool json;
    bool summary;
    bool help;
    std::optional<std::u16string> unknown;
  };
  const Case cases[] = {
      {{}, false, false, false, {}},
      {{u"--json"}, true, false, false, {}},
      {{u"--JSON"}, true, false, false, {}},
      {{u"--Json", u"--SUMMARY"}, true, true, false, {}},
      {{u"--json", u"--json"}, true, false, false, {}},
      {{u"--Help"}, false, false, true, {}},
      {{u"-H"}, false, false, true, {}},
      {{u"/?"}, false, false, true, {}},
      {{u"--json", u"extra"}, true, false, false, u"extra"},
      {{u"--help", u"/silent", u"x"}, false, false, true, u"/silent"},
      {{u""}, false, false, false, u""},
      {{u"-json"}, false, false, false, u"-json"},
      {{u"--json "}, false, false, false, u"--json "},
      {{u"--js\u0130n"}, false, false, false, u"--js\u0130n"},  // only A to Z fold
  };
  for (const Case& c : cases) {
    const Arguments arguments = ParseArguments(c.words);
    EXPECT_EQ(arguments.json, c.json);
    EXPECT_EQ(arguments.summary, c.summary);
    EXPECT_EQ(arguments.help, c.help);
    EXPECT_EQ(arguments.unknown, c.unknown);
  }
}

TEST(CheckArguments, AnUnknownOneIsAShortReasonInTheFormAskedFor) {
  EXPECT_EQ(UnknownArgumentReason(u"extra"), u"unknown argument: extra");
  EXPECT_EQ(UnknownArgumentReason(u""), u"unknown argument: (empty)");
  // Cut short, never between the halves of a pair.
  EXPECT_EQ(UnknownArgumentReason(std::u16string(63, u'a') + u"\U0001F600b"),
            u"unknown argument: " + std::u16string(63, u'a') + u"... (66 units in all)");
}

// A console that takes at most `takes` units a call, refuses calls of more
// than `refuses` units, and fails its call number `fails`.
struct Behaviour {
  std::size_t takes = 1u << 20;
  std::size_t refuses = 1u << 20;
  int fails = -1;
};

struct Console {
  Behaviour behaviour;
  std::u16string shown;
  std::vector<std::u16string> calls;

  bool Write(std::u16string_view piece, std::size_t* written) {
    calls.emplace_back(piece);
    if (static_cast<int>(calls.size()) - 1 == behaviour.fails ||
        piece.size() > behaviour.refuses) {
      return false;
    }
    *written = std::min(piece.size(), behaviour.takes);
    shown += piece.substr(0, *written);
    return true;
  }
};

TEST(CheckPieces, AReportReachesAConsoleWholeOrStopsAtTheFirstFailure) {
  // A pair straddles the end of the first piece of 8.
  const std::u16string text = u"abcdefg\U0001F600hijklmnopqrstuvwxyz";
  struct Case {
    const char* what;
    Behaviour console;
    bool whole;
    std::u16string shown;
  };
  const Case cases[] = {
      {"takes every piece", {}, true, text},
      {"refuses pieces larger than it holds", {.refuses = 8}, true, text},
      {"takes part of each piece", {.takes = 3}, true, text},
      {"fails the second call", {.fails = 1}, false, text.substr(0, 7)},
      {"takes nothing", {.takes = 0}, false, u""},
      {"refuses every piece", {.refuses = 1}, false, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Console console{c.console, {}, {}};
    EXPECT_EQ(WriteInPieces(std::u16string_view(text), 8,
                            [&](std::u16string_view piece, std::size_t* written) {
                              return console.Write(piece, written);
                            }),
              c.whole);
    EXPECT_EQ(console.shown, c.shown);
    for (const std::u16string& piece : console.calls) {
      EXPECT_LE(piece.size(), 8u);
      EXPECT_FALSE(piece.back() >= 0xD800 && piece.back() <= 0xDBFF);
    }
  }
}

}  // namespace
}  // namespace tarvox::check
