// Version comparison and version-list parsing: the rules every update decision rests on.
#include <gtest/gtest.h>

#include <limits>

#include "update/CompareVersionStrings.h"
#include "update/VersionList.h"

namespace zv::update {
namespace {

TEST(CompareVersionStrings, AnswersWhichVersionIsNewer) {
  struct Case {
    const char* a;
    const char* b;
    std::int32_t expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"1.2", "1.3", 1},
           {"1.3", "1.2", -1},
           {"1.2", "1.2", 0},
           {"1.2", "1.2.0", 1},  // more components: newer, even when they are zero
           {"1.2.0", "1.2", -1},
           {"1.10", "1.9", -1},  // numbers, not text
           {"1.2", "1.12", 10},  // the difference of the first differing component
           {"2.0", "1.99", -1},
           {"1.2beta", "1.2", 0},  // only a component's leading integer counts
           {"x.1", "0.1", 0},
           {"", "0", 0},
           {" 3", "3", 0},
       }) {
    EXPECT_EQ(CompareVersionStrings(c.a, c.b), c.expected) << c.a << " vs " << c.b;
  }
  EXPECT_GT(CompareVersionStrings("1.2.5", "1.3"), 0) << "fewer components, yet newer";
}

TEST(CompareVersionStrings, MissingVersionsAreOldest) {
  EXPECT_EQ(CompareVersionStrings(std::nullopt, "0"), 1);
  EXPECT_EQ(CompareVersionStrings("0", std::nullopt), -1);
  EXPECT_EQ(CompareVersionStrings(std::nullopt, std::nullopt), 0);
}

TEST(CompareVersionStrings, HugeComponentsKeepTheRightSign) {
  // Components saturate at the 32-bit limits and so does the difference: a wrapped
  // subtraction would call the older version newer.
  EXPECT_GT(CompareVersionStrings("-5", "99999999999"), 0);
  EXPECT_EQ(CompareVersionStrings("-99999999999", "99999999999"),
            std::numeric_limits<std::int32_t>::max());
  EXPECT_LT(CompareVersionStrings("99999999999", "-99999999999"), 0);
  EXPECT_EQ(CompareVersionStrings("4294967297", "4294967298"), 0) << "both saturate";
}

TEST(VersionList, ReadsFourFieldLines) {
  const auto list = parseVersionList(
      "0x5A56,1704, 1.4 ,\thttps://example.org/a.deb \n"
      "5a56,0X1704,1.5,https://example.org/b.deb");
  ASSERT_EQ(list.entries.size(), 2u);
  EXPECT_EQ(list.entries[0].vendorId, 0x5A56u);
  EXPECT_EQ(list.entries[0].productId, 0x1704u);
  EXPECT_EQ(list.entries[0].version, "1.4");
  EXPECT_EQ(list.entries[0].location, "https://example.org/a.deb");
  EXPECT_EQ(list.entries[1].line, 2u);
  EXPECT_TRUE(list.problems.empty());
}

TEST(VersionList, EveryLineBreakEndsALine) {
  // CR LF, CR, LF, vertical tab, form feed, NEL, LINE and PARAGRAPH SEPARATOR.
  const auto list = parseVersionList(
      "1,1,1.0,u\r\n1,1,1.1,u\r1,1,1.2,u\v1,1,1.3,u\f1,1,1.4,u\xC2\x85"
      "1,1,1.5,u\xE2\x80\xA8"
      "1,1,1.6,u\xE2\x80\xA9"
      "1,1,1.7,u\n");
  ASSERT_EQ(list.entries.size(), 8u);
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    EXPECT_EQ(list.entries[i].version, "1." + std::to_string(i));
    EXPECT_EQ(list.entries[i].line, i + 1) << "CR LF is one line break";
  }
}

TEST(VersionList, SkipsWhatItCannotUse) {
  const auto list = parseVersionList(
      "\xEF\xBB\xBF"  // a byte-order mark is not part of the first id
      "5a56,1704,1.4,https://a\n"
      "5a56,1704,1.5\n"                  // three fields
      "5a56,1704,1.5,https://b,extra\n"  // five
      "\n   \n"                          // blank lines are no problem
      "zz,1704,1.6,https://c\n"
      "5a56,123456789,1.6,https://c\n"  // more than 32 bits
      "5a56,1704,../../.bashrc,https://d\n"
      "5a56,1704,,https://d\n"
      "5a56,1704,1.7,https://e\n");
  ASSERT_EQ(list.entries.size(), 2u);
  EXPECT_EQ(list.entries[0].version, "1.4");
  EXPECT_EQ(list.entries[1].version, "1.7");
  EXPECT_EQ(list.entries[1].line, 10u);
  const std::vector<std::string> expected = {
      "line 2: 3 fields, expected 4 (vendor,product,version,location)",
      "line 3: 5 fields, expected 4 (vendor,product,version,location)",
      "line 6: the vendor id is not a hexadecimal number",
      "line 7: the product id is not a hexadecimal number",
      "line 8: the version must be dotted numbers such as 1.4.2",
      "line 9: the version must be dotted numbers such as 1.4.2",
  };
  EXPECT_EQ(list.problems, expected);
}

TEST(VersionList, TextThatIsNotUtf8YieldsNothing) {
  const auto list = parseVersionList("5a56,1704,1.4,https://a\n\xFF\xFE");
  EXPECT_TRUE(list.entries.empty());
  ASSERT_EQ(list.problems.size(), 1u);
  EXPECT_EQ(list.problems[0], "the version list is not UTF-8 text");
}

TEST(VersionList, UsableVersionTexts) {
  for (const char* good : {"1", "1.4.2", "2.0~rc1", "1.0+deb12u1", "1_2-3"}) {
    EXPECT_TRUE(isUsableVersionText(good)) << good;
  }
  for (const char* bad :
       {"", ".", "..", ".hidden", "1/2", "1 2", "1\\2", "a\xC3\xA9", "99..0", "1.", "1.4."}) {
    EXPECT_FALSE(isUsableVersionText(bad)) << bad;
  }
  EXPECT_FALSE(isUsableVersionText(std::string(129, '1')));
}

}  // namespace
}  // namespace zv::update
