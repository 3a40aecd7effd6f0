#include <gtest/gtest.h>

#include <cmath>

#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"

namespace zv::json {
namespace {

std::string write(const Value& value) {
  return CJSONSerializer::serializer().serializeObject(value).valueOr("(failed)");
}

TEST(JsonWriter, ScalarsAndEscaping) {
  EXPECT_EQ(write(Value()), "null");
  EXPECT_EQ(write(Value::boolean(true)), "true");
  EXPECT_EQ(write(Value::boolean(false)), "false");
  EXPECT_EQ(write(Value(5)), "5");
  EXPECT_EQ(write(Value(-0.5)), "-0.5");
  EXPECT_EQ(write(Value(1e21)), "1e21");  // no "+": the reader could not take it
  EXPECT_EQ(write(Value(1.5e-7)), "1.5e-07");
  EXPECT_EQ(write(Value(0x1704u)), "5892");
  EXPECT_EQ(write(Value("a/b")), "\"a\\/b\"");
  EXPECT_EQ(write(Value("q\"\\\b\f\n\r\t\x01")), "\"q\\\"\\\\\\b\\f\\n\\r\\t\x01\"");
  EXPECT_EQ(write(Value(std::nan(""))), "null");
  EXPECT_EQ(write(Value(-HUGE_VAL)), "-1e999");
}

TEST(JsonWriter, ContainersAreCompactAndOrdered) {
  auto dict = makeDictionary();
  dict->set("z", Value(1));
  dict->set("a", Value(makeArray()));
  dict->find("a")->asArray()->push_back(Value("x"));
  dict->find("a")->asArray()->push_back(Value::boolean(false));
  dict->set("m", Value(makeDictionary()));
  EXPECT_EQ(write(Value(dict)), "{\"z\":1,\"a\":[\"x\",false],\"m\":{}}");
  dict->erase("a");
  dict->set("z", Value(2));  // replaced in place
  EXPECT_EQ(CJSONSerializer().serializeDictionary(*dict).valueOr(""), "{\"z\":2,\"m\":{}}");
  EXPECT_EQ(CJSONSerializer().serializeArray(Array{Value(1), Value("2")}).valueOr(""), "[1,\"2\"]");
}

TEST(JsonWriter, BooleansStayBooleansThroughARead) {
  auto value = CJSONDeserializer().deserialize("{\"t\":true,\"f\":false,\"one\":1,\"zero\":0}");
  ASSERT_TRUE(value);
  EXPECT_EQ(write(*value), "{\"t\":true,\"f\":false,\"one\":1,\"zero\":0}");
  const Dictionary& d = *value->asDictionary();
  EXPECT_TRUE(d.find("t")->isBoolean());
  EXPECT_TRUE(d.find("t")->isNumber());  // a boolean is also a number
  EXPECT_EQ(d.find("t")->asNumber(), 1);
  EXPECT_FALSE(d.find("one")->isBoolean());
}

TEST(JsonWriter, SerializedDataAndRawBytes) {
  auto array = makeArray();
  array->push_back(Value(CSerializedJSONData{"{\"pre\": [1, 2]}"}));
  array->push_back(Value(Data{"caf\xC3\xA9/"}));
  EXPECT_EQ(write(Value(array)), "[{\"pre\": [1, 2]},\"caf\xC3\xA9\\/\"]");
  const auto bytes = CJSONSerializer::serializer().serializeObject(Value(Data{"\xFF\xFE"}));
  ASSERT_FALSE(bytes);
  EXPECT_TRUE(bytes.failure().is(kJSONWriterDomain, kCannotSerializeObject));
  EXPECT_EQ(bytes.failure().message.rfind("Could not serialize object '", 0), 0u);
  // Appending keeps what the buffer held when a value fails.
  std::string out = "[1,";
  array->push_back(Value(Data{"\xFF"}));
  EXPECT_FALSE(CJSONDataSerializer::appendObject(out, Value(array)));
  EXPECT_EQ(out, "[1,");
}

TEST(JsonValue, ContainersAreSharedHandlesAndDeepCopiesAreNot) {
  auto parent = makeDictionary();
  auto child = makeDictionary();
  parent->set("child", Value(child));
  Value handle = *parent->find("child");
  handle.asDictionary()->set("k", Value("v"));  // write through a copy of the handle
  EXPECT_EQ(write(Value(parent)), "{\"child\":{\"k\":\"v\"}}");

  Value copy = Value(parent).deepCopy();
  child->set("k", Value("changed"));
  EXPECT_EQ(write(copy), "{\"child\":{\"k\":\"v\"}}");
  EXPECT_FALSE(copy == Value(parent));
  child->set("k", Value("v"));
  EXPECT_TRUE(copy == Value(parent));
}

TEST(JsonValue, NeutralAnswersForOtherKinds) {
  Value text("12");
  EXPECT_EQ(text.asNumber(), 0);
  EXPECT_FALSE(text.asDictionary());
  EXPECT_FALSE(text.asArray());
  EXPECT_EQ(Value(3).asString(), "");
  EXPECT_EQ(Value(DictionaryPtr()).type(), Value::Type::Null);
}

TEST(JsonValue, DictionaryIndexSurvivesEraseAndGrowth) {
  Dictionary d;
  for (int i = 0; i < 100; ++i) d.set("key" + std::to_string(i), Value(i));
  for (int i = 0; i < 100; i += 3) EXPECT_TRUE(d.erase("key" + std::to_string(i)));
  EXPECT_FALSE(d.erase("key0"));
  for (int i = 0; i < 100; ++i) {
    const Value* v = d.find("key" + std::to_string(i));
    if (i % 3 == 0) {
      EXPECT_EQ(v, nullptr);
    } else {
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->asNumber(), i);
    }
  }
  EXPECT_EQ(d.entry(0).first, "key1");
  Dictionary copy;
  copy = d;
  EXPECT_TRUE(copy == d);
  EXPECT_NE(copy.find("key98"), nullptr);
}

}  // namespace
}  // namespace zv::json
