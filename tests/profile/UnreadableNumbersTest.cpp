#include "profile/UnreadableNumbers.h"

#include <gtest/gtest.h>

#include "profile/NodeText.h"
#include "profile/Prototype.h"

namespace zv::profile {
namespace {

TEST(UnreadableNumbers, TellsHexadecimalNumbersFromMistakes) {
  for (const char* number : {"0x19", "19", " 0X1f ", "0xFFFFFFFF", "000000001", ""}) {
    EXPECT_TRUE(isHexNumberText(number)) << number;
  }
  for (const char* mistake : {"zz", "-1", "0x", "12zz", "0x100000000", "1 2", "+1"}) {
    EXPECT_FALSE(isHexNumberText(mistake)) << mistake;
  }
}

TEST(UnreadableNumbers, FindsTheMembersTheEngineWouldReadAsZero) {
  json::Error error;
  const auto prototype = parsePrototype(R"({"profile": "text", "controllers": [{
      "@TEVGRP": "controller", "controller": "text", "actions": [
        {"@TEVGRP": "action", "time": "%X", "page": "%X", "name": "text"}]}]})",
                                        &error);
  ASSERT_TRUE(prototype) << error.message();
  NodeTextError failure;
  const auto json = tevnodes2json(
      "[profile=P [controller=C [action page=0x7 time=zz name=zz ] [action time=0x100000000 ]"
      " [action page=0x7 time=0x19 ]]]",
      json::Value(prototype), &failure);
  ASSERT_TRUE(json) << failure.describe();

  const auto found = unreadableNumbers(*json, prototype);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].describe(),
            "time=zz in an action node is not a 32-bit hexadecimal number; it counts as 0x0");
  EXPECT_EQ(found[1].describe(),
            "time=0x100000000 in an action node is not a 32-bit hexadecimal number; it counts as "
            "0xffffffff");
  EXPECT_TRUE(unreadableNumbers(json::Value("text"), prototype).empty());
}

}  // namespace
}  // namespace zv::profile
