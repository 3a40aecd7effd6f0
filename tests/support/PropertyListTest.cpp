#include <gtest/gtest.h>

#include "json/CJSONSerializer.h"
#include "support/PropertyList.h"
#include "testing/TemporaryTree.h"

namespace zv::support {
namespace {

std::string compact(const json::Value& v) {
  return json::CJSONSerializer().serializeObject(v);
}

TEST(PropertyList, ReadsEveryKindInFileOrder) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>zeta</key><string>caf&#233; &amp; more</string>
  <key>alpha</key><integer>-5</integer>
  <key>real</key><real>0.5</real>
  <key>yes</key><true/>
  <key>list</key><array><integer>1</integer><false/></array>
  <key>blob</key><data>AAEC</data>
  <key>when</key><date>2001-01-01T00:01:00Z</date>
</dict></plist>)";
  std::string error;
  auto value = readPropertyList(xml, &error);
  ASSERT_TRUE(value) << error;
  const auto& d = *value->asDictionary();
  EXPECT_EQ(d.entry(0).first, "zeta");
  EXPECT_EQ(d.find("zeta")->asString(), "caf\xC3\xA9 & more");
  EXPECT_EQ(d.find("alpha")->asNumber(), -5);
  EXPECT_EQ(d.find("real")->asNumber(), 0.5);
  EXPECT_TRUE(d.find("yes")->isBoolean());
  EXPECT_EQ(compact(*d.find("list")), "[1,false]");
  EXPECT_EQ(d.find("blob")->asData()->bytes, std::string("\0\1\2", 3));
  EXPECT_EQ(d.find("when")->asString(), "2001-01-01T00:01:00Z");
}

TEST(PropertyList, WritesAndReadsBack) {
  auto root = json::makeDictionary();
  root->set("HideStatusMenu", json::Value::boolean(true));
  root->set("Count", json::Value(42));
  root->set("Ratio", json::Value(0.25));
  root->set("Name", json::Value("Default <profile>"));
  auto list = json::makeArray();
  list->push_back(json::Value("a"));
  root->set("List", json::Value(list));
  const std::string xml = writePropertyListXML(json::Value(root));
  EXPECT_NE(xml.find("<integer>42</integer>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<true/>"), std::string::npos) << xml;
  auto back = readPropertyList(xml);
  ASSERT_TRUE(back);
  EXPECT_EQ(compact(*back), compact(json::Value(root)));

  testing::TemporaryTree tree;
  ASSERT_TRUE(writePropertyListFile(tree.path("home/p.plist"), json::Value(root)));
  auto fromFile = readPropertyListFile(tree.path("home/p.plist"));
  ASSERT_TRUE(fromFile);
  EXPECT_EQ(compact(*fromFile), compact(json::Value(root)));
}

TEST(PropertyList, ReadsTheBinaryForm) {
  // {"a": 1} in the binary form.
  const std::string binary(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\xd1\x01\x02\x51\x61\x10\x01\x08"
      "\x0b\x0d\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00"
      "\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x0f",
      50);
  std::string error;
  auto value = readPropertyList(binary, &error);
  ASSERT_TRUE(value) << error;
  EXPECT_EQ(compact(*value), "{\"a\":1}");
}

TEST(PropertyList, DamagedInputAnswersNothing) {
  for (const char* bad : {"", "not xml at all", "bplist00garbage",
                          "<?xml version=\"1.0\"?><plist><dict><key>x</key><integer>1"}) {
    std::string error;
    EXPECT_FALSE(readPropertyList(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  // A raw NUL byte inside a string would abort the process in the parser library.
  const std::string withNul("<plist><dict><key>k</key><string>a\0b</string></dict></plist>", 60);
  EXPECT_FALSE(readPropertyList(withNul));

  std::string error;
  EXPECT_FALSE(readPropertyListFile("/nonexistent/file.plist", &error));
  EXPECT_NE(error.find("/nonexistent/file.plist"), std::string::npos);
}

}  // namespace
}  // namespace zv::support
