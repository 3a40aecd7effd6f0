#include <gtest/gtest.h>

#include <cmath>

#include "json/CJSONDeserializer.h"
#include "json/CJSONScanner.h"
#include "json/CJSONSerializer.h"

namespace zv::json {
namespace {

// Reads `text` and answers the compact JSON the writer makes of it, or
// "error <code>" / "no value".
std::string roundTrip(std::string_view text, bool strict = false) {
  CJSONDeserializer reader;
  reader.setStrictEscapeCodes(strict);
  Error error;
  auto value = reader.deserialize(text, &error);
  if (!value) return error.code ? "error " + std::to_string(error.code) : "no value";
  return CJSONSerializer::serializer().serializeObject(*value).valueOr("(not writable)");
}

TEST(JsonReader, ContainersAcceptWhitespaceAndTrailingCommas) {
  EXPECT_EQ(roundTrip("{ \t\n\v\f\r }"), "{}");
  EXPECT_EQ(roundTrip("[ \n ]"), "[]");
  EXPECT_EQ(roundTrip("[1,2,]"), "[1,2]");
  EXPECT_EQ(roundTrip("{\"a\":1,}"), "{\"a\":1}");
  EXPECT_EQ(roundTrip(" {\"a\" : [ true , false , null ] , \"b\" : {} } trailing"),
            "{\"a\":[true,false,null],\"b\":{}}");
}

TEST(JsonReader, DictionariesKeepInsertionOrderAndLastDuplicate) {
  EXPECT_EQ(roundTrip("{\"z\":1,\"a\":2,\"m\":3}"), "{\"z\":1,\"a\":2,\"m\":3}");
  EXPECT_EQ(roundTrip("{\"a\":1,\"b\":2,\"a\":3}"), "{\"a\":3,\"b\":2}");
  // Large enough to use the dictionary's index.
  std::string text = "{";
  for (int i = 0; i < 40; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"k7\":\"again\"}";
  auto dict = CJSONDeserializer().deserializeAsDictionary(text);
  ASSERT_TRUE(dict);
  EXPECT_EQ(dict->size(), 40u);
  EXPECT_EQ(dict->find("k7")->asString(), "again");
  EXPECT_EQ(dict->entry(7).first, "k7");
  EXPECT_EQ(dict->find("k39")->asNumber(), 39);
}

TEST(JsonReader, EscapedKeysSurviveNestedValues) {
  EXPECT_EQ(roundTrip(R"({"k\u0065y":{"in\u006eer":{"x\ty":1}},"pl\u0061in":2})"),
            R"({"key":{"inner":{"x\ty":1}},"plain":2})");
}

TEST(JsonReader, StringsAndEscapes) {
  EXPECT_EQ(roundTrip(R"("a\"b\\c\/d\b\f\n\r\t")"), R"("a\"b\\c\/d\b\f\n\r\t")");
  EXPECT_EQ(roundTrip(R"("\u00e9\u00C9")"), "\"\xC3\xA9\xC3\x89\"");
  EXPECT_EQ(roundTrip(R"("\ud83d\ude00")"), "\"\xF0\x9F\x98\x80\"");  // a pair is one character
  EXPECT_EQ(roundTrip(R"("\ud83d")"), "\"\xEF\xBF\xBD\"");            // a lone surrogate
  EXPECT_EQ(roundTrip(R"("\q")"), "\"q\"");
  EXPECT_EQ(roundTrip(R"("\q")", true), "error -13");
  EXPECT_EQ(roundTrip(R"("\u12g4")"), "error -12");
  EXPECT_EQ(roundTrip(R"("\u12")"), "error -12");
  EXPECT_EQ(roundTrip("'single'"), "error -11");
  // End of input inside a string fails, it never hangs or reads past the data.
  EXPECT_EQ(roundTrip("\"open"), "error -11");
  EXPECT_EQ(roundTrip("\"open\\"), "error -11");
  EXPECT_EQ(roundTrip("[\"open"), "error -8");
}

TEST(JsonReader, NumbersAreDoublesFromTheLongestRun) {
  auto number = [](std::string_view text) {
    auto value = CJSONDeserializer().deserialize(text);
    EXPECT_TRUE(value && value->type() == Value::Type::Number) << text;
    return value ? value->asNumber() : -999;
  };
  EXPECT_EQ(number("-1.5e3"), -1500.0);
  EXPECT_EQ(number("1-2"), 1.0);  // taken whole, converted as its leading number
  EXPECT_EQ(number("-"), 0.0);
  EXPECT_EQ(number("0.25"), 0.25);
  EXPECT_EQ(number("1e999"), HUGE_VAL);
  EXPECT_EQ(number("1e-999"), 0.0);
  EXPECT_EQ(roundTrip("[1-2,3]"), "[1,3]");
  EXPECT_EQ(roundTrip("1e999"), "1e999");  // infinity reads back as itself
  double out = 0;
  CJSONScanner scanner{std::string("x")};
  Error error;
  EXPECT_FALSE(scanner.scanJSONNumberConstant(out, &error));
  EXPECT_EQ(error.code, -14);
  EXPECT_EQ(error.description, "Could not scan number constant.");
}

TEST(JsonReader, LiteralsAndPositionsWithoutValue) {
  EXPECT_EQ(roundTrip("true"), "true");
  EXPECT_EQ(roundTrip("nul"), "no value");
  EXPECT_EQ(roundTrip("x"), "no value");
  // A key whose value position holds no value is left out.
  EXPECT_EQ(roundTrip("{\"a\":,\"b\":1}"), "{\"b\":1}");
  EXPECT_EQ(roundTrip("{\"a\": }"), "{}");
  // An array leaves a missing element out.
  EXPECT_EQ(roundTrip("[1,,2]"), "[1,2]");
  EXPECT_EQ(roundTrip("[tru]"), "error -9");
}

TEST(JsonReader, ErrorCodesDescriptionsAndDomains) {
  struct Case {
    const char* text;
    int code;
    const char* description;
  };
  const Case cases[] = {
      {"{1:2}", -2, "Could not scan dictionary. Failed to scan a key."},
      {"{\"a\" 1}", -3, "Could not scan dictionary. Key was not terminated with a ':' character."},
      {"{\"a\":\"x}", -4, "Could not scan dictionary. Failed to scan a value."},
      {"{\"a\":1 \"b\":2}", -5,
       "Could not scan dictionary. Key value pairs not delimited with a ',' character."},
      {"{\"a\":1", -5,
       "Could not scan dictionary. Key value pairs not delimited with a ',' character."},
      {"[\"x]", -8, "Could not scan array. Could not scan a value."},
      {"[1 2]", -9, "Could not scan array. Array not terminated by a ']' character."},
      {"[1", -9, "Could not scan array. Array not terminated by a ']' character."},
  };
  for (const Case& c : cases) {
    Error error;
    EXPECT_FALSE(CJSONDeserializer().deserialize(c.text, &error)) << c.text;
    EXPECT_EQ(error.domain, "CJSONScannerErrorDomain") << c.text;
    EXPECT_EQ(error.code, c.code) << c.text;
    EXPECT_EQ(error.description, c.description) << c.text;
  }
  Error error;
  EXPECT_FALSE(CJSONDeserializer().deserializeAsDictionary("[1]", &error));
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.description,
            "Could not scan dictionary. Dictionary that does not start with '{' character.");
  EXPECT_FALSE(CJSONDeserializer().deserializeAsArray("{}", &error));
  EXPECT_EQ(error.code, -7);
  EXPECT_EQ(error.description, "Could not scan array. Array not started by a '{' character.");
  EXPECT_TRUE(CJSONDeserializer().deserializeAsArray(" [] "));

  for (auto read :
       {+[](Error* e) { return bool(CJSONDeserializer().deserialize("", e)); },
        +[](Error* e) { return bool(CJSONDeserializer().deserializeAsDictionary("", e)); },
        +[](Error* e) { return bool(CJSONDeserializer().deserializeAsArray("", e)); }}) {
    Error empty;
    EXPECT_FALSE(read(&empty));
    EXPECT_EQ(empty.domain, "CJSONDeserializerErrorDomain");
    EXPECT_EQ(empty.code, -1);
    EXPECT_EQ(empty.description, "");
  }
}

TEST(JsonReader, FailureRestoresTheScanPosition) {
  CJSONScanner scanner{std::string("  {\"a\":[1,}")};
  scanner.skipWhitespace();
  std::optional<Value> value;
  Error error;
  EXPECT_FALSE(scanner.scanJSONObject(value, &error));
  EXPECT_EQ(scanner.scanLocation(), 2u);  // where the failing dictionary started
  EXPECT_FALSE(value);

  CJSONScanner strings{std::string("x \"abc")};
  strings.setScanLocation(1);
  std::string text;
  EXPECT_FALSE(strings.scanJSONStringConstant(text, &error));
  EXPECT_EQ(strings.scanLocation(), 2u);
}

TEST(JsonReader, DetectsUtf16AndUtf32) {
  const std::string utf16le("{\0\"\0a\0\"\0:\0\"\0\xE9\0\"\0}\0", 18);
  const std::string utf16be("\0{\0\"\0a\0\"\0:\0\"\0\xE9\0\"\0}", 18);
  const std::string utf32le(
      "[\0\0\0"
      "1\0\0\0"
      "]\0\0\0",
      12);
  const std::string utf32be(
      "\0\0\0[\0\0\0"
      "1\0\0\0]",
      12);
  EXPECT_EQ(roundTrip(utf16le), "{\"a\":\"\xC3\xA9\"}");
  EXPECT_EQ(roundTrip(utf16be), "{\"a\":\"\xC3\xA9\"}");
  EXPECT_EQ(roundTrip(utf32le), "[1]");
  EXPECT_EQ(roundTrip(utf32be), "[1]");
  EXPECT_EQ(roundTrip("[1]"), "[1]");  // too short to check, read as UTF-8
}

TEST(JsonReader, DeepNestingFailsInsteadOfExhaustingTheStack) {
  std::string deep(100000, '[');
  EXPECT_EQ(roundTrip(deep), "error -8");
  std::string ok(CJSONScanner::kMaxDepth, '[');
  ok += std::string(CJSONScanner::kMaxDepth, ']');
  EXPECT_NE(roundTrip(ok).rfind("[[[", 0), std::string::npos);
}

TEST(JsonReader, DataScannerPrimitives) {
  CDataScanner s{std::string("abc  xyz123.5e1-x")};
  std::string out;
  EXPECT_TRUE(s.scanUTF8String("abc"));
  EXPECT_FALSE(s.scanCharacter('x'));
  s.skipWhitespace();
  EXPECT_TRUE(s.scanUpToCharactersFromSet(CDataScanner::doubleCharacters(), &out));
  EXPECT_EQ(out, "xyz");
  double d = 0;
  EXPECT_TRUE(s.scanNumber(&d));
  EXPECT_EQ(d, 1235.0);
  EXPECT_EQ(s.remainingString(), "x");
  EXPECT_EQ(s.scanCharacter(), 'x');
  EXPECT_TRUE(s.isAtEnd());
  EXPECT_EQ(s.currentCharacter(), 0);
  EXPECT_EQ(s.scanCharacter(), 0);
  s.setScanLocation(1000);
  EXPECT_TRUE(s.isAtEnd());
  s.setScanLocation(0);
  EXPECT_TRUE(s.scanUpToString("xyz", &out));
  EXPECT_EQ(out, "abc  ");
  EXPECT_FALSE(s.scanUpToString("xyz"));
}

}  // namespace
}  // namespace zv::json
