#include <gtest/gtest.h>

#include <limits>

#include "engine/ZVShiftState.h"
#include "json/CJSONDeserializer.h"
#include "profile/Prototype.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::profile {
namespace {

// Records initA and the order of loadCompleted calls.
class Recorder : public ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "TestRecorder";
  const char* className() const override { return kClassName; }
  void initA() override { initialised = true; }
  void loadCompleted(const ObjectPtr& root) override {
    calls().emplace_back(string("id"), root.get());
  }
  static std::vector<std::pair<std::string, const ZVPrototypedObject*>>& calls() {
    static std::vector<std::pair<std::string, const ZVPrototypedObject*>> list;
    return list;
  }
  bool initialised = false;
};
const ClassRegistration<Recorder> recorderRegistration;

class KindsA : public ZVPrototypedObject {
 public:
  static constexpr const char* kClassName = "TestKinds";
  const char* className() const override { return kClassName; }
};
const ClassRegistration<KindsA> kindsRegistration;

json::DictionaryPtr prototype(std::string_view text) {
  auto dictionary = parsePrototype(text);
  EXPECT_TRUE(dictionary) << "test prototype does not parse: " << text;
  return dictionary ? dictionary : json::makeDictionary();
}

ObjectPtr build(std::string_view prototypeText, std::string_view json) {
  ObjectPtr root = ZVPrototypedObject::makeFromPrototype(prototype(prototypeText));
  EXPECT_TRUE(root->setJSON(json)) << json;
  return root;
}

TEST(PrototypedObject, HexadecimalMembersBecomeNumbersInTheTree) {
  ObjectPtr root = build(
      R"({"id":"%X","up":"%X","none":"%X","num":"%X","blank":"%X","big":"%X","odd":"%X","name":"text"})",
      R"({"id":"0x1e","up":"0X1E","none":"zz","num":5,"blank":" 0x10","big":"0x100000000",)"
      R"("odd":"1e","name":"0x10"})");
  EXPECT_EQ(
      root->JSON(),
      R"({"id":30,"up":30,"none":0,"num":5,"blank":16,"big":4294967295,"odd":30,"name":"0x10"})");
  EXPECT_EQ(root->unsignedNumber("id"), 30u);
  EXPECT_TRUE(root->value("id").isNumber());
  EXPECT_EQ(root->unsignedNumber("name"), 0u);  // a string stays a string: not a number
  EXPECT_EQ(root->number("name"), 0);           // its leading decimal number is 0
  EXPECT_EQ(root->unsignedNumber("missing"), 0u);
}

TEST(PrototypedObject, ChildrenArraysAndMismatchedKinds) {
  ObjectPtr root = build(
      R"({"@CLASS":"TestRecorder","items":[{"@CLASS":"ZVShiftState","v":"%X"}],"raw":[],)"
      R"("one":{"x":"text"},"mismatch":{"a":"text"},"cmd":"[GUIDREF]","cmd_obj":{"x":"text"},)"
      R"("plain":"text"})",
      R"({"items":[{"v":"0x2"},"skip",3,{"v":"0x3"}],"raw":[{"a":1}],"one":{"x":"1"},)"
      R"("mismatch":"str","cmd":{"x":"inline"},"plain":{"y":"2"}})");
  // Array elements that are not dictionaries are skipped; the parent is the holder.
  const ObjectArray& items = root->children("items");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1]->unsignedNumber("v"), 3u);
  EXPECT_EQ(items[0]->parent(), root);
  EXPECT_TRUE(std::dynamic_pointer_cast<engine::ZVShiftState>(items[0]));  // "@CLASS"
  EXPECT_TRUE(std::dynamic_pointer_cast<Recorder>(root));
  EXPECT_STREQ(root->child("one")->className(), "ZVPrototypedObject");  // no "@CLASS"
  // An empty prototype array builds nothing: the read answers the raw JSON array.
  EXPECT_TRUE(root->children("raw").empty());
  EXPECT_TRUE(root->read("raw").value.isArray());
  // A string where the prototype has a dictionary builds no child.
  EXPECT_FALSE(root->child("mismatch"));
  EXPECT_EQ(root->read("mismatch").value.asString(), "str");
  // An object where the prototype has a string: built under "<name>_obj" when the
  // prototype has that key, else left as raw JSON.
  ASSERT_TRUE(root->child("cmd_obj"));
  EXPECT_EQ(root->child("cmd_obj")->string("x"), "inline");
  EXPECT_FALSE(root->child("cmd"));
  EXPECT_TRUE(root->read("cmd").isNothing());  // a "[GUIDREF]" reads as nothing until resolved
  EXPECT_FALSE(root->child("plain_obj"));
  EXPECT_TRUE(root->read("plain").value.isDictionary());
}

TEST(PrototypedObject, KindsAreFixedPerClassByTheFirstPrototype) {
  auto first = ZVPrototypedObject::makeFromPrototype(
      prototype(R"({"@CLASS":"TestKinds","km":"%X","kd":2})"));
  auto later = ZVPrototypedObject::makeFromPrototype(
      prototype(R"({"@CLASS":"TestKinds","km":"text","kn":1.5,"kd":"text"})"));
  EXPECT_EQ(later->kind("km"), MemberKind::UnsignedNumber);  // the first registration wins
  EXPECT_EQ(later->kind("kd"), MemberKind::Double);
  EXPECT_EQ(later->kind("kn"), MemberKind::Double);
  EXPECT_EQ(later->kind("_obj_order"), MemberKind::Object);
  EXPECT_EQ(later->kind("nothing"), MemberKind::None);
  // Plain objects share one table, which subclasses fall back to.
  ZVPrototypedObject::makeFromPrototype(prototype(R"({"pk":"%X"})"));
  auto plain = ZVPrototypedObject::makeFromPrototype(prototype(R"({"pk":"text","pl":"text"})"));
  EXPECT_EQ(plain->kind("pk"), MemberKind::UnsignedNumber);
  EXPECT_EQ(first->kind("pl"), MemberKind::String);
  // Construction gives the prototype an empty "_obj_order" (in place) and calls initA.
  auto proto = prototype(R"({"@CLASS":"TestRecorder","_obj_order":["x"]})");
  auto recorder = std::dynamic_pointer_cast<Recorder>(ZVPrototypedObject::makeFromPrototype(proto));
  ASSERT_TRUE(recorder);
  EXPECT_TRUE(recorder->initialised);
  EXPECT_TRUE(proto->find("_obj_order")->asArray()->empty());
  EXPECT_EQ(recorder->prototypeDictionary(), proto);
  // A prototype that is not a JSON object builds nothing.
  ZVPrototypedObject object;
  json::Error error;
  EXPECT_FALSE(object.initWithPrototypeJSON("[1]", nullptr, &error));
  EXPECT_FALSE(object.initWithPrototypeJSON("{\"a\":", nullptr, &error));
  EXPECT_NE(error.code, 0);
}

TEST(PrototypedObject, NodeNumberingFollowsCollectionOrder) {
  ObjectPtr root = build(
      R"({"a":{"aa":{"x":"text"}},"list":[{"c":{"x":"text"}}],"b":{"x":"text"}})",
      R"({"a":{"x":"a","aa":{"x":"aa"}},"list":[{"x":"e0","c":{"x":"c0"}},{"x":"e1","c":{"x":"c1"}}],)"
      R"("b":{"x":"b"}})");
  std::string order, indices;
  for (const ObjectPtr& node : root->allNodes()) {
    order += node->string("x") + " ";
    indices += std::to_string(node->index()) + " ";
  }
  // Direct object members are numbered before the subtrees; numbers may repeat.
  EXPECT_EQ(order, " a aa e0 c0 e1 c1 b ");
  EXPECT_EQ(indices, "0 1 2 3 4 5 6 2 ");
}

TEST(PrototypedObject, ReferencesBindToTheNearestDefinition) {
  const char* proto =
      R"({"items":[{"d":"[GUID]","r":"[GUIDREF]","x":"text"}],"ref":{"r":"[GUIDREF]"}})";
  ObjectPtr root =
      build(proto, R"({"items":[{"d":"G","_obj_order":["d"]},{"r":"G","_obj_order":["r"]},)"
                   R"({"r":"G","_obj_order":["r"]},{"x":"1","_obj_order":["x"]},)"
                   R"({"d":"G","_obj_order":["d"]},{"r":"G","_obj_order":["r"]},)"
                   R"({"r":"NOPE","_obj_order":["r"]}],"ref":{"r":"G","_obj_order":["r"]}})");
  const ObjectArray& items = root->children("items");
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[1]->reference("r"), items[0]);  // distance 1 against 3
  EXPECT_EQ(items[2]->reference("r"), items[0]);  // 2 against 2: the one collected first
  EXPECT_EQ(items[5]->reference("r"), items[4]);  // 5 against 1
  // The object member "ref" has index 1: its nearest definition is items[0] (index 2).
  EXPECT_EQ(root->child("ref")->reference("r"), items[0]);
  EXPECT_EQ(root->child("ref")->read("r").object, items[0]);
  // Unresolved: nothing, though the JSON holds the GUID, which stays visible.
  EXPECT_FALSE(items[6]->reference("r"));
  EXPECT_TRUE(items[6]->read("r").isNothing());
  EXPECT_EQ(items[6]->value("r").asString(), "NOPE");
  // Before the tree is resolved a reference is nothing too.
  ObjectPtr unresolved = ZVPrototypedObject::makeFromPrototype(prototype(proto));
  unresolved->setJSONDictionary(json::CJSONDeserializer().deserializeAsDictionary(
      R"({"items":[{"d":"G","_obj_order":["d"]},{"r":"G","_obj_order":["r"]}]})"));
  EXPECT_FALSE(unresolved->children("items")[1]->reference("r"));
}

TEST(PrototypedObject, ReferenceCyclesAndDetachedObjects) {
  const char* proto = R"({"shifts":[{"s":"[GUID]","fallback":"[GUIDREF]","n":"text"}]})";
  ObjectPtr root = build(proto, R"({"shifts":[{"s":"A","fallback":"B","n":"a","_obj_order":["s"]},)"
                                R"({"s":"B","fallback":"A","n":"b","_obj_order":["s"]},)"
                                R"({"s":"C","fallback":"C","n":"c","_obj_order":["s"]}]})");
  const ObjectArray& shifts = root->children("shifts");
  ASSERT_EQ(shifts.size(), 3u);
  EXPECT_EQ(shifts[0]->reference("fallback"), shifts[1]);
  EXPECT_EQ(shifts[1]->reference("fallback"), shifts[0]);
  EXPECT_EQ(shifts[2]->reference("fallback"), shifts[2]);
  // Node collection does not follow references, so cycles cannot loop.
  EXPECT_EQ(root->allNodes().size(), 4u);
  // An object held elsewhere survives a rebuild, detached, with its JSON as it was;
  // the old tree is freed although its nodes refer to each other (the leak checker of
  // the sanitizer build verifies).
  ObjectPtr held = shifts[0];
  std::weak_ptr<ZVPrototypedObject> other = shifts[1];
  ASSERT_TRUE(root->setJSON(R"({"shifts":[{"s":"A","n":"new","_obj_order":["s"]}]})"));
  EXPECT_TRUE(other.expired());
  EXPECT_EQ(held->string("n"), "a");
  EXPECT_FALSE(held->reference("fallback"));  // its target is gone
  EXPECT_NE(root->children("shifts")[0], held);
}

TEST(PrototypedObject, SetJSONOnBadTextChangesNothing) {
  ObjectPtr root = build(R"({"@CLASS":"TestRecorder","kids":[{"id":"text"}]})",
                         R"({"id":"root","kids":[{"id":"k"}]})");
  const std::string before = root->JSON();
  const ObjectPtr kid = root->children("kids")[0];
  json::Error error;
  for (const char* bad : {"{\"id\":", "[1,2]", "", "\"text\"", "{\"id\" \"x\"}"}) {
    EXPECT_FALSE(root->setJSON(bad, &error)) << bad;
    EXPECT_EQ(root->JSON(), before) << bad;
    ASSERT_EQ(root->children("kids").size(), 1u);
    EXPECT_EQ(root->children("kids")[0], kid) << bad;
  }
  EXPECT_FALSE(root->setJSON(json::DictionaryPtr()));
  // Still usable.
  EXPECT_TRUE(root->setJSON(R"({"id":"again"})"));
  EXPECT_EQ(root->string("id"), "again");
}

TEST(PrototypedObject, LoadCompletedRunsOnceForEveryNodeRootFirst) {
  Recorder::calls().clear();
  ObjectPtr root =
      build(R"({"@CLASS":"TestRecorder","id":"text","one":{"@CLASS":"TestRecorder","id":"text"},)"
            R"("list":[{"@CLASS":"TestRecorder","id":"text"}]})",
            R"({"id":"root","list":[{"id":"e0"},{"id":"e1"}],"one":{"id":"one"}})");
  std::string order;
  for (const auto& [id, passedRoot] : Recorder::calls()) {
    order += id + " ";
    EXPECT_EQ(passedRoot, root.get());
  }
  EXPECT_EQ(order, "root e0 e1 one ");
}

TEST(PrototypedObject, WritesGoIntoTheSharedJSON) {
  ObjectPtr root = build(
      R"({"@CLASS":"TestKinds","wname":"text","wnum":1,"whex":"%X","wkid":{"wname":"text","whex":"%X"}})",
      R"({"wname":"a","wkid":{"wname":"b","_obj_order":["wname"]}})");
  ObjectPtr kid = root->child("wkid");
  ASSERT_TRUE(kid);
  EXPECT_TRUE(kid->setString("wname", "changed"));
  EXPECT_TRUE(kid->setUnsignedNumber("whex", 0x90001));
  EXPECT_TRUE(root->write("wnum", json::Value(2.5)));
  EXPECT_TRUE(root->setNumber("whex", -1));  // stored as unsigned 32-bit
  EXPECT_EQ(root->JSON(),
            R"({"wname":"a","wkid":{"wname":"changed","_obj_order":["wname"],"whex":589825},)"
            R"("wnum":2.5,"whex":4294967295})");
  // Refused: no setter for object members, names the class does not know, wrong kinds.
  EXPECT_FALSE(root->setString("wkid", "x"));
  EXPECT_FALSE(root->write("unknown", json::Value("x")));
  EXPECT_FALSE(root->write("wname", json::Value(1)));
  EXPECT_FALSE(root->write("wnum", json::Value("1")));
  EXPECT_FALSE(root->setString("whex", "0x1"));
  // The built child is not replaced by a write (there is none), and reads see writes.
  EXPECT_EQ(root->child("wkid"), kid);
  EXPECT_EQ(root->read("wnum").value.asNumber(), 2.5);
  EXPECT_EQ(kid->read("whex").value.asNumber(), 0x90001);
}

TEST(PrototypedObject, TypedReadsConvertLikeTheModel) {
  ObjectPtr root =
      build(R"({"t":"text","n":1})",
            R"({"a":"12.5abc","b":" -3","c":"abc","d":"0x10","e":"inf",)"
            R"("f":"2147483648","g":"-9999999999","h":1e10,"i":-1,"j":true,"k":"1.9"})");
  EXPECT_EQ(root->number("a"), 12.5);
  EXPECT_EQ(root->number("b"), -3);
  EXPECT_EQ(root->number("c"), 0);
  EXPECT_EQ(root->number("d"), 0);
  EXPECT_EQ(root->number("e"), 0);
  EXPECT_EQ(root->number("j"), 1);
  EXPECT_EQ(root->integer("k"), 1);
  EXPECT_EQ(root->integer("f"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(root->integer("g"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(root->integer("h"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(root->unsignedNumber("i"), 0xFFFFFFFFu);
  EXPECT_EQ(root->unsignedNumber("a"), 0u);
  EXPECT_EQ(root->string("h"), "");
  EXPECT_TRUE(root->value("missing").isNull());
  EXPECT_FALSE(root->has("missing"));
  EXPECT_TRUE(root->has("a"));
}

TEST(PrototypedObject, NodeTypeAndValue) {
  ObjectPtr root = build(
      R"({"controls":[{"button":"%X","action":"text"}],"empty":{"x":"text"}})",
      R"({"controls":[{"button":"0x90001","_obj_order":["button"]},)"
      R"({"page":"0x7","_obj_order":["action ","page"]},{"button":"0x90002","_obj_order":["button"]}],)"
      R"("empty":{"_obj_order":[]}})");
  const ObjectArray& controls = root->children("controls");
  EXPECT_EQ(controls[0]->tevNodeType(), "button");
  EXPECT_EQ(controls[0]->tevNodeValue(), json::Value(0x90001));  // a "%X" member: a number
  EXPECT_EQ(controls[1]->tevNodeType(), "action ");              // untrimmed
  EXPECT_TRUE(controls[1]->tevNodeValue().isNull());
  EXPECT_EQ(root->child("empty")->tevNodeType(), "");
  EXPECT_EQ(root->child("empty")->tevNodeValue(), json::Value(""));
  EXPECT_EQ(root->tevNodeChildWithValue(json::Value(0x90002)), controls[2]);
  EXPECT_FALSE(root->tevNodeChildWithValue(json::Value("0x90002")));  // a string is not a number
  // Raw JSON containers answer like nodes.
  EXPECT_EQ(tevNodeValue(root->value("controls")), json::Value(""));
  EXPECT_FALSE(tevNodeChildWithValue(json::Value(json::makeDictionary()), json::Value(1)));
}

}  // namespace
}  // namespace zv::profile
