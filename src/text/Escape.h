// Text of the machine (names, keys, device ids, log lines, arguments) as the
// reports show it. Whoever can write a filter name can put anything in it: a
// line feed that forges a line of the report ("Result: nothing to repair"),
// an escape sequence that steers the terminal, a right-to-left override that
// turns text around, a zero-width space that makes two names look alike.
//
// The text report shows each such character as "<U+" and its number in four
// to six upper-case hex digits and ">": a line feed is <U+000A>, a surrogate
// without its pair <U+D800>. '<' itself is shown as <U+003C>, so "<U+" in a
// report always begins an escape and two different names never look alike.
// The JSON report keeps the exact text: such characters are \u escapes there
// (a lone surrogate its own \udXXX, so that two such names stay apart), and
// the document too can be shown on a terminal without harm.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvox::text {

// Whether a character does not print as itself: C0 and C1 controls and DEL;
// a surrogate without its pair; line and paragraph separators; bidirectional
// controls; format characters and others that print nothing (zero-width
// spaces and joiners, soft hyphen, word joiner, variation selectors, tags,
// fillers); spaces other than the plain one, which look like it but are not
// what anyone types; and noncharacters.
bool Hidden(char32_t code);

// `text` as UTF-8 for the text report, hidden characters and '<' escaped.
std::string Shown(std::u16string_view text);

// `text` escaped as Shown escapes it, kept in UTF-16, for a log line. A
// character for which `keeps` (given its units) answers false is escaped
// too: one the log's code page cannot hold would become '?' there.
std::u16string ShownUnits(std::u16string_view text,
                          const std::function<bool(std::u16string_view)>& keeps = {});

// Names of a list as the text report shows them: each Shown, joined by
// ", "; "(no name)" for none.
std::string ShownList(const std::vector<std::u16string>& names);

// Characters (code points) in UTF-8 text: the width of a column.
std::size_t Characters(std::string_view utf8);

// `text` as a quoted JSON string, exact: '"' and '\' escaped, each hidden
// character as \u escapes (a character beyond U+FFFF as its two halves, a
// lone surrogate as itself).
std::string JsonString(std::u16string_view text);
// The report's own words (UTF-8, never from the machine) as a quoted JSON
// string.
std::string JsonString(std::string_view words);

// At most `most` units of `text` from its start, never ending between the
// halves of a surrogate pair.
std::u16string_view Prefix(std::u16string_view text, std::size_t most);

}  // namespace tarvox::text
