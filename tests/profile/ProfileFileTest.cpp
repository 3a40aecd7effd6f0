#include <gtest/gtest.h>

#include <filesystem>

#include "json/CJSONDeserializer.h"
#include "profile/ProfileFile.h"
#include "testing/TemporaryTree.h"

namespace zv::profile {
namespace {

json::Value parse(std::string_view text) {
  auto value = json::CJSONDeserializer().deserialize(text);
  EXPECT_TRUE(value);
  return value ? *value : json::Value();
}

TEST(ProfileFile, TextEncodings) {
  const std::string text = "[profile=Caf\xC3\xA9 ]";
  const std::string bytes = encodeProfileText(text);
  EXPECT_EQ(bytes.substr(0, 6), std::string("\xFF\xFE[\0p\0", 6));  // BOM, little-endian
  EXPECT_EQ(decodeProfileText(bytes), text);
  // A big-endian mark, UTF-8 with or without its mark, and UTF-16 without a mark.
  EXPECT_EQ(decodeProfileText(std::string("\xFE\xFF\0[\0a\0]", 8)), "[a]");
  EXPECT_EQ(decodeProfileText("\xEF\xBB\xBF[a]"), "[a]");
  EXPECT_EQ(decodeProfileText("[a]"), "[a]");
  EXPECT_EQ(decodeProfileText(std::string("[\0a\0]\0", 6)), "[a]");
  EXPECT_EQ(decodeProfileText(std::string("\0[\0a\0]", 6)), "[a]");
  EXPECT_EQ(decodeProfileText(""), "");
  std::string error;
  EXPECT_FALSE(decodeProfileText("[\xC3(]", &error));
  EXPECT_EQ(error, "neither UTF-16 nor UTF-8 text");
  // A UTF-16 file cut short by one byte is damaged, not quietly shortened.
  for (const std::string& cut : {std::string("\xFF\xFE[\0a\0]", 7), std::string("[\0a\0]", 5),
                                 std::string("\xFE\xFF\0[\0", 5)}) {
    EXPECT_FALSE(decodeProfileText(cut, &error)) << cut.size();
    EXPECT_EQ(error, "UTF-16 text of an odd number of bytes (the file is cut short)");
  }
}

TEST(ProfileFile, SavingNeverDamagesTheFile) {
  testing::TemporaryTree tree;
  const auto path = tree.path("home/Profiles/Mine.pr0");
  std::filesystem::create_directories(path.parent_path());
  const json::Value prototype = parse("{}");
  std::string error;

  ASSERT_TRUE(saveProfileJSON(path, parse(R"({"profile":"Mine","_obj_order":["profile"]})"),
                              prototype, &error))
      << error;
  const std::string good = tree.read("home/Profiles/Mine.pr0");
  EXPECT_EQ(good, encodeProfileText(" [profile=Mine ] "));
  auto loaded = loadProfileJSON(path, prototype, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->asDictionary()->find("profile")->asString(), "Mine");

  // A conversion that fails writes nothing.
  EXPECT_FALSE(saveProfileJSON(path, parse(R"({"profile":null,"_obj_order":["profile"]})"),
                               prototype, &error));
  EXPECT_EQ(error, "cannot convert the profile to node text: a null value under \"profile\"");
  EXPECT_EQ(tree.read("home/Profiles/Mine.pr0"), good);
  // Text the format cannot hold would make a file that no longer loads: refused.
  for (const char* value : {"a]b", "a[b", "say \\\"hi\\\"", "back\\\\slash"}) {
    const std::string json =
        std::string(R"({"profile":")") + value + R"(","_obj_order":["profile"]})";
    EXPECT_FALSE(saveProfileJSON(path, parse(json), prototype, &error)) << value;
    EXPECT_EQ(tree.read("home/Profiles/Mine.pr0"), good) << value;
  }
  EXPECT_EQ(error.rfind("the profile holds text that node text cannot store", 0), 0u) << error;
  // JSON that is not a profile would be written as " [ ] ", which loads as no profile.
  for (const char* notAProfile : {R"("hello")", "[1,2,3]", "{}", R"({"name":"x"})"}) {
    EXPECT_FALSE(saveProfileJSON(path, parse(notAProfile), prototype, &error)) << notAProfile;
    EXPECT_EQ(error.rfind("not a profile: the JSON is ", 0), 0u) << error;
    EXPECT_EQ(tree.read("home/Profiles/Mine.pr0"), good) << notAProfile;
  }
  EXPECT_EQ(error,
            "not a profile: the JSON is a dictionary without a \"profile\" member, where a "
            "profile is a dictionary with a \"profile\" member");
  // No temporary files are left behind.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);

  // A damaged file loads as nothing, with the place of the fault.
  tree.write("home/Profiles/Broken.pr0", encodeProfileText("[profile=x\r\n  [a=1 ] junk ]"));
  EXPECT_FALSE(loadProfileJSON(tree.path("home/Profiles/Broken.pr0"), prototype, &error));
  EXPECT_EQ(error, tree.path("home/Profiles/Broken.pr0").string() +
                       ": line 2, column 10: text after a child node");
  EXPECT_FALSE(loadProfileJSON(tree.path("home/Profiles/None.pr0"), prototype, &error));
}

}  // namespace
}  // namespace zv::profile
