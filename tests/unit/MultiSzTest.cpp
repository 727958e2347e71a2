// The multi-string buffer: worked examples, and staying inside the buffer
// whatever it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "multisz/MultiSz.h"

namespace tarvox {
namespace {

// A buffer holding exactly these units (NULs written as \0), zero after.
MultiSz Holding(std::u16string_view units) {
  MultiSz list;
  std::copy(units.begin(), units.end(), list.units.begin());
  return list;
}

std::u16string_view First(const MultiSz& list, std::size_t count) {
  return std::u16string_view(list.units.data(), count);
}

using Entries = std::vector<std::u16string>;

TEST(MultiSz, LengthOfTheListsInTheLayoutTable) {
  const MultiSz empty;
  EXPECT_EQ(MultiSzLength(&empty), 0);
  const MultiSz a = Holding(std::u16string_view(u"a\0\0", 3));
  const MultiSz abc = Holding(std::u16string_view(u"abc\0\0", 5));
  const MultiSz a_b = Holding(std::u16string_view(u"a\0b\0\0", 5));
  const MultiSz ab_cd = Holding(std::u16string_view(u"ab\0cd\0\0", 7));
  const MultiSz a_b_c = Holding(std::u16string_view(u"a\0b\0c\0\0", 7));
  EXPECT_EQ(MultiSzLength(&a), 1);
  EXPECT_EQ(MultiSzLength(&abc), 3);
  EXPECT_EQ(MultiSzLength(&a_b), 3);
  EXPECT_EQ(MultiSzLength(&ab_cd), 5);
  EXPECT_EQ(MultiSzLength(&a_b_c), 5);
  EXPECT_EQ(MultiSzLength(nullptr), -1);
  // Units after the closing entry are not part of the list.
  const MultiSz leftovers = Holding(std::u16string_view(u"\0x\0\0", 4));
  EXPECT_EQ(MultiSzLength(&leftovers), 0);
}

TEST(MultiSz, RemovalWorkedExamples) {
  struct Case {
    std::u16string_view before;
    const char16_t* name;
    std::u16string_view after;  // the first units of the buffer afterwards
    Entries entries;
  };
  const Case cases[] = {
      {{u"a\0b\0c\0\0", 7}, u"b", {u"a\0c\0\0\0\0", 7}, {u"a", u"c"}},
      {{u"a\0b\0c\0\0", 7}, u"B", {u"a\0c\0\0\0\0", 7}, {u"a", u"c"}},
      {{u"a\0b\0c\0\0", 7}, u"a", {u"b\0c\0\0\0\0", 7}, {u"b", u"c"}},
      {{u"a\0b\0c\0\0", 7}, u"c", {u"a\0b\0\0\0\0", 7}, {u"a", u"b"}},
      // The second d stands after the closing entry, not in the list.
      {{u"abc\0d\0\0", 7}, u"abc", {u"d\0\0\0d\0\0", 7}, {u"d"}},
      {{u"x\0X\0y\0\0", 7}, u"x", {u"y\0\0", 3}, {u"y"}},
      {{u"a\0\0", 3}, u"a", {u"\0\0", 2}, {}},
      {{u"a\0b\0\0", 5}, u"z", {u"a\0b\0\0", 5}, {u"a", u"b"}},
      // Only A to Z fold: an accented capital is not its small letter.
      {{u"\u00c0\0\0", 3}, u"\u00e0", {u"\u00c0\0\0", 3}, {u"\u00c0"}},
      {{u"flt\0FLT\0flt2\0\0", 14}, u"Flt", {u"flt2\0\0", 6}, {u"flt2"}},
  };
  for (const Case& c : cases) {
    MultiSz list = Holding(c.before);
    SCOPED_TRACE(testing::PrintToString(MultiSzEntries(list)));
    EXPECT_EQ(MultiSzRemove(&list, c.name), 1);
    EXPECT_EQ(First(list, c.after.size()), c.after);
    EXPECT_EQ(MultiSzEntries(list), c.entries);
  }
}

TEST(MultiSz, CopyWritesOneUnitMoreThanTheSourceUses) {
  const MultiSz source = Holding(std::u16string_view(u"a\0b\0\0", 5));
  MultiSz destination;
  destination.units.fill(u'x');
  std::fill(destination.units.end() - MultiSz::kGuardUnits,
            destination.units.end(), u'\0');
  EXPECT_EQ(MultiSzCopy(&destination, &source), 1);
  EXPECT_EQ(First(destination, 7), std::u16string_view(u"a\0b\0\0\0x", 7));

  const MultiSz empty;
  EXPECT_EQ(MultiSzCopy(&destination, &empty), 1);
  EXPECT_EQ(First(destination, 3), std::u16string_view(u"\0\0b", 3));
}

TEST(MultiSz, MissingArgumentsChangeNothing) {
  MultiSz list = Holding(std::u16string_view(u"a\0\0", 3));
  const MultiSz before = list;
  EXPECT_EQ(MultiSzCopy(nullptr, &list), 0);
  EXPECT_EQ(MultiSzCopy(&list, nullptr), 0);
  EXPECT_EQ(MultiSzRemove(&list, nullptr), 0);
  EXPECT_EQ(MultiSzRemove(nullptr, u"a"), 0);
  EXPECT_EQ(list.units, before.units);
}

// Data that fills all 2048 readable bytes with no NUL: the guards close it
// as one entry of 1024 units; nothing is scanned, copied or written past the
// buffer (the sanitizer build checks that too).
TEST(MultiSz, FullBufferWithoutTerminatorsIsOneEntryClosedByTheGuards) {
  MultiSz full;
  std::fill_n(full.units.begin(), MultiSz::kUnits, u'f');
  EXPECT_EQ(MultiSzLength(&full), 1024);
  const Entries entries = MultiSzEntries(full);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].size(), 1024u);

  MultiSz copy;
  EXPECT_EQ(MultiSzCopy(&copy, &full), 1);
  EXPECT_EQ(MultiSzEntries(copy), entries);
  EXPECT_EQ(MultiSzLength(&copy), 1024);

  EXPECT_EQ(MultiSzRemove(&full, entries[0].c_str()), 1);
  EXPECT_EQ(MultiSzLength(&full), 0);
  EXPECT_TRUE(std::all_of(full.units.end() - MultiSz::kGuardUnits,
                          full.units.end(),
                          [](char16_t unit) { return unit == u'\0'; }));
}

TEST(MultiSz, ListWhoseLastEntryEndsInTheLastReadableUnit) {
  // 1022 units of entries ending with the NUL at unit 1023, no closing NUL:
  // the first guard closes it.
  MultiSz list;
  std::fill_n(list.units.begin(), 1023, u'a');
  list.units[500] = u'\0';
  EXPECT_EQ(MultiSzLength(&list), 1023);
  EXPECT_EQ(MultiSzEntries(list).size(), 2u);
  MultiSz saved;
  MultiSzCopy(&saved, &list);
  EXPECT_EQ(MultiSzEntries(saved), MultiSzEntries(list));
  const std::u16string second = MultiSzEntries(list)[1];
  MultiSzRemove(&list, second.c_str());
  EXPECT_EQ(MultiSzLength(&list), 500);
}

}  // namespace
}  // namespace tarvox
