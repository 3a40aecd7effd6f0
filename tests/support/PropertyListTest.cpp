#include <gtest/gtest.h>

#include "json/CJSONSerializer.h"
#include "support/PropertyList.h"
#include "testing/TemporaryTree.h"

namespace zv::support {
namespace {

std::string compact(const json::Value& v) {
  return json::CJSONSerializer().serializeObject(v).valueOr("(not writable)");
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
  EXPECT_EQ(error, "cannot read /nonexistent/file.plist: No such file or directory");
  testing::TemporaryTree tree;
  const auto damaged = tree.write("home/damaged.plist", "<plist><dict><key>A");
  EXPECT_FALSE(readPropertyListFile(damaged, &error));
  EXPECT_EQ(error, "cannot read " + damaged.string() + ": not a property list");
}

// A file another program wrote: kinds the JSON model has no exact form for.
const char* const kForeignFile = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>When</key>
	<date>2024-02-03T04:05:06Z</date>
	<key>Above53Bits</key>
	<integer>9007199254740993</integer>
	<key>Lowest</key>
	<integer>-9223372036854775808</integer>
	<key>Highest</key>
	<integer>18446744073709551615</integer>
	<key>WholeReal</key>
	<real>2</real>
	<key>Blob</key>
	<data>AAEC/w==</data>
	<key>Nested</key>
	<dict>
		<key>Since</key>
		<date>2001-01-01T00:00:00Z</date>
		<key>Counts</key>
		<array>
			<integer>9007199254740995</integer>
			<real>1</real>
		</array>
		<key>Changed</key>
		<string>before</string>
	</dict>
	<key>Setting</key>
	<true/>
</dict>
</plist>
)";

std::string withoutBlanks(std::string text) {
  std::erase_if(text, [](char c) { return c == ' ' || c == '\t' || c == '\n'; });
  return text;
}

TEST(PropertyList, KeepsEveryValueTheWriterDidNotChangeExactly) {
  auto value = readPropertyList(kForeignFile);
  ASSERT_TRUE(value);
  const auto& root = *value->asDictionary();
  EXPECT_GT(root.find("Highest")->asNumber(), 1.8e19);  // unsigned, not -1
  EXPECT_EQ(root.find("Lowest")->asNumber(), -9223372036854775808.0);

  root.find("Nested")->asDictionary()->set("Changed", json::Value("after"));
  value->asDictionary()->set("X", json::Value(1));
  const std::string written = withoutBlanks(writePropertyListXML(*value, kForeignFile));
  for (const char* kept : {
           "<key>When</key><date>2024-02-03T04:05:06Z</date>",
           "<key>Above53Bits</key><integer>9007199254740993</integer>",
           "<key>Lowest</key><integer>-9223372036854775808</integer>",
           "<key>Highest</key><integer>18446744073709551615</integer>",
           "<key>WholeReal</key><real>2",
           "<key>Blob</key><data>AAEC/w==</data>",
           "<key>Since</key><date>2001-01-01T00:00:00Z</date>",
           "<array><integer>9007199254740995</integer><real>1",
           "<key>Changed</key><string>after</string>",
           "<key>Setting</key><true/>",
           "<key>X</key><integer>1</integer></dict>",
       }) {
    EXPECT_NE(written.find(kept), std::string::npos) << kept << "\nin\n" << written;
  }
  // Without the original, the model's own forms (as before).
  const std::string plain = withoutBlanks(writePropertyListXML(*value));
  EXPECT_NE(plain.find("<key>When</key><string>2024-02-03T04:05:06Z</string>"), std::string::npos);
  // A damaged original keeps nothing and costs nothing.
  EXPECT_EQ(writePropertyListXML(*value, "<plist><dict"), writePropertyListXML(*value));
}

TEST(PropertyList, RefusesIntegersBeyond64BitsInsteadOfClampingThem) {
  const auto file = [](const std::string& integer) {
    return "<plist version=\"1.0\"><dict>\n<key>A</key>\n<integer>" + integer +
           "</integer></dict></plist>";
  };
  for (const char* big : {"99999999999999999999999", "18446744073709551616", "-9223372036854775809",
                          "0x10000000000000000"}) {
    std::string error;
    EXPECT_FALSE(readPropertyList(file(big), &error)) << big;
    EXPECT_EQ(error, std::string("not a property list this suite can keep (line 3: the integer ") +
                         big + " does not fit in 64 bits)");
  }
  for (const char* fits :
       {"-9223372036854775808", "18446744073709551615", " 7 ", "0x10", "12abc"}) {
    EXPECT_TRUE(readPropertyList(file(fits))) << fits;
  }
  // Text that only looks like an integer element is not one.
  EXPECT_TRUE(readPropertyList(
      "<plist><dict><!-- <integer>99999999999999999999999</integer> --></dict></plist>"));
}

TEST(PropertyList, TheFileWriterRefusesWhatTheReaderWouldNotGiveBack) {
  testing::TemporaryTree tree;
  const auto path = tree.write("home/p.plist", kForeignFile);
  auto root = json::makeDictionary();
  root->set("Name", json::Value(std::string("a\0b", 3)));
  std::string error;
  EXPECT_FALSE(writePropertyListFile(path, json::Value(root), &error));
  EXPECT_EQ(error, "cannot write " + path.string() +
                       ": the root/Name holds a NUL character, which a property list cannot store");
  auto nested = json::makeDictionary();
  nested->set(std::string("k\0", 2), json::Value(1));
  root->set("Name", json::Value(nested));
  EXPECT_FALSE(writePropertyListFile(path, json::Value(root), &error));
  EXPECT_EQ(tree.read("home/p.plist"), kForeignFile);

  std::string bytes;
  auto value = readPropertyListFile(path, &error, &bytes);
  ASSERT_TRUE(value) << error;
  EXPECT_EQ(bytes, kForeignFile);
  ASSERT_TRUE(writePropertyListFile(path, *value, &error, 0644, bytes)) << error;
  EXPECT_EQ(withoutBlanks(tree.read("home/p.plist")),
            withoutBlanks(writePropertyListXML(*value, bytes)));
}

}  // namespace
}  // namespace zv::support
