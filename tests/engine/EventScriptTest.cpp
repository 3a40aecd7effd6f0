#include <gtest/gtest.h>

#include "engine/EventScript.h"

namespace zv::engine {
namespace {

using namespace std::chrono_literals;

TEST(EventScript, StepsPausesNotesAndTheirForms) {
  EventScriptError error;
  const auto steps = parseEventScript(
      "# comment\r\n"
      "+0 0x90009 1   # trailing comment\r\n"
      "\t+120\t589833\t0\n"
      "+5 0x10030 -7\n"
      "##\n"
      "  ## Media   layer  \n"
      "+3600000\n"
      "+1 0xFFFFFFFF -2147483648",
      &error);
  ASSERT_TRUE(steps) << error.describe();
  ASSERT_EQ(steps->size(), 6u) << "an empty note is a comment";
  const auto& s = *steps;
  EXPECT_TRUE(s[0].hasEvent && s[0].delay == 0ms && s[0].element == 0x90009 && s[0].value == 1);
  EXPECT_TRUE(s[1].hasEvent && s[1].delay == 120ms && s[1].element == 0x90009 && s[1].value == 0);
  EXPECT_EQ(s[2].value, -7);
  EXPECT_EQ(s[3].note, "Media   layer");
  EXPECT_EQ(s[3].line, 6u);
  EXPECT_FALSE(s[3].hasEvent);
  EXPECT_TRUE(!s[4].hasEvent && s[4].note.empty() && s[4].delay == 1h) << "a pause";
  EXPECT_TRUE(s[5].element == 0xFFFFFFFFu && s[5].value == INT32_MIN);
  EXPECT_TRUE(parseEventScript("")->empty());
}

TEST(EventScript, FailuresNameTheLine) {
  struct Case {
    const char* text;
    std::size_t line;
    const char* message;
  } cases[] = {
      {"+0 1 1\n0x90004 1", 2,
       "expected '+MS ELEMENT VALUE' (for example '+120 0x90009 0'), got '0x90004 1'"},
      {"+0 0x90004", 1,
       "expected '+MS ELEMENT VALUE' (for example '+120 0x90009 0'), got '+0 0x90004'"},
      {"+0x10 1 1", 1,
       "expected '+MS ELEMENT VALUE' (for example '+120 0x90009 0'), got '+0x10 1 1'"},
      {"+-5 1 1", 1, "expected '+MS ELEMENT VALUE' (for example '+120 0x90009 0'), got '+-5 1 1'"},
      {"+1 0x1ffffffff 1", 1, "'0x1ffffffff' is not an element identifier (for example 0x90009)"},
      {"+1 -1 1", 1, "'-1' is not an element identifier (for example 0x90009)"},
      {"+1 1 2147483648", 1, "'2147483648' is not a value (a 32-bit whole number)"},
      {"+1 1 \x01\xff", 1, "'\\x01\\xFF' is not a value (a 32-bit whole number)"},
      {"+3600001", 1, "a delay of 3600001 ms is longer than an hour"},
  };
  for (const Case& c : cases) {
    EventScriptError error;
    EXPECT_FALSE(parseEventScript(c.text, &error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.message, c.message) << c.text;
  }
  std::string day;
  for (int i = 0; i < 25; ++i) day += "+3600000\n";
  EventScriptError error;
  EXPECT_FALSE(parseEventScript(day, &error));
  EXPECT_EQ(error.describe(), "line 25: the script runs longer than a day");
}

}  // namespace
}  // namespace zv::engine
