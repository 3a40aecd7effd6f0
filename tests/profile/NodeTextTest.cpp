#include <gtest/gtest.h>

#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"
#include "profile/NodeText.h"

namespace zv::profile {
namespace {

json::Value parse(std::string_view text) {
  auto value = json::CJSONDeserializer().deserialize(text);
  EXPECT_TRUE(value) << "test JSON does not parse: " << text;
  return value ? *value : json::Value();
}

// Node text → compact JSON, or "error: <line, column: message>".
std::string toJson(std::string_view text, std::string_view prototype = "{}") {
  NodeTextError error;
  auto value = tevnodes2json(text, parse(prototype), &error);
  if (!value) return "error: " + error.describe();
  return json::CJSONSerializer::serializer().serializeObject(*value).valueOr("error: not writable");
}

// JSON → node text, or "error: <message>".
std::string toText(std::string_view json, std::string_view prototype = "{}") {
  NodeTextError error;
  auto text = json2tevnodes(parse(json), parse(prototype), &error);
  if (!text) return "error: " + error.message;
  return *text;
}

// Node text → JSON → node text.
std::string rewrite(std::string_view text, std::string_view prototype = "{}") {
  NodeTextError error;
  auto value = tevnodes2json(text, parse(prototype), &error);
  if (!value) return "error: " + error.describe();
  auto again = json2tevnodes(*value, parse(prototype), &error);
  return again ? *again : "error: " + error.message;
}

TEST(NodeTextReader, HeadersBareWordsAttributesAndOrder) {
  // Attributes in text order, "_obj_order" keeping the blanks before later keys, quoted
  // values with blanks or exactly "=", and blanks around "=".
  EXPECT_EQ(
      toJson("[node=a second='two words'  latched=x eq='=' [child=1 ]]"),
      R"({"node":"a","second":"two words","latched":"x","eq":"=","_obj_order":)"
      R"(["node"," second","  latched"," eq","child"],"child":{"child":"1","_obj_order":["child"]}})");
  // A bare word keeps its trailing blank; the first attribute after it loses its blanks.
  EXPECT_EQ(toJson("[action  page=0x7 usage=0x4 ]"),
            R"({"page":"0x7","usage":"0x4","_obj_order":["action ","page"," usage"]})");
  EXPECT_EQ(toJson("[band = 5 ]"), R"({"band":"5","_obj_order":["band"]})");
  // Duplicate keys keep the first position and the last value; both stay in the order.
  EXPECT_EQ(toJson("[a x=1 y=2 x=3 ]"), R"({"x":"3","y":"2","_obj_order":["a ","x"," y"," x"]})");
  // A run with two "=" takes everything before the second as the key; junk is skipped.
  EXPECT_EQ(toJson("[n a=b=c junk q='x=y' ]"),
            R"({"a=b":"c","q":"x=y","_obj_order":["n ","a=b"," q"]})");
  // Text through the parts of a blank-separated value: a quote inside is kept.
  EXPECT_EQ(toJson("[n v=it's ]"), R"({"v":"it's","_obj_order":["n ","v"]})");
}

TEST(NodeTextReader, DictionaryOrArrayAndCollections) {
  // Groups collect the types their element's "@TEVGRP" lists (an array even for one
  // child, in text order across types); repeated other types become "<type>_group".
  const char* prototype = R"({"items":[{"@TEVGRP":"item other"}]})";
  EXPECT_EQ(
      toJson("[root=r [item=1 ] [thing=a ] [other=2 ] [thing=b ] [single=s ] [item=3 ]]",
             prototype),
      R"({"root":"r","_obj_order":["root","item","thing","other","thing","single","item"],)"
      R"("items":[{"item":"1","_obj_order":["item"]},{"other":"2","_obj_order":["other"]},)"
      R"({"item":"3","_obj_order":["item"]}],"thing_group":[{"thing":"a","_obj_order":)"
      R"(["thing"]},{"thing":"b","_obj_order":["thing"]}],"single":{"single":"s","_obj_order":)"
      R"(["single"]}})");
  EXPECT_EQ(toJson("[r=1 [one=a ]]", R"({"ones":[{"@TEVGRP":"one"}]})"),
            R"({"r":"1","_obj_order":["r","one"],"ones":[{"one":"a","_obj_order":["one"]}]})");
  // A header without "=" is a list: its children collection after collection.
  EXPECT_EQ(toJson("[r=1 [list [b=1 ] [a=1 ] [b=2 ]]]"),
            R"({"r":"1","_obj_order":["r","list"],"list":[{"b":"1","_obj_order":["b"]},)"
            R"({"b":"2","_obj_order":["b"]},{"a":"1","_obj_order":["a"]}]})");
  // ... unless its first word is the group string of its prototype, or the prototype
  // is a selection set.
  EXPECT_EQ(toJson("[r=1 [block [x=1 ]]]", R"({"blocks":[{"@TEVGRP":"block"}]})"),
            R"({"r":"1","_obj_order":["r","block"],"blocks":[{"_obj_order":["block ","x"],)"
            R"("x":{"x":"1","_obj_order":["x"]}}]})");
  EXPECT_EQ(toJson("[r=1 [block [x=1 ]]]"),
            R"({"r":"1","_obj_order":["r","block"],"block":[{"x":"1","_obj_order":["x"]}]})");
  EXPECT_EQ(toJson("[r=1 [sel [hid=0x1 ] [hid=0x2 ]]]",
                   R"({"sel":{"@CLASS":"ZVSelectionSet","combo":[{"@TEVGRP":"hid"}]}})"),
            R"({"r":"1","_obj_order":["r","sel"],"sel":{"_obj_order":["sel ","hid","hid"],)"
            R"("combo":[{"hid":"0x1","_obj_order":["hid"]},{"hid":"0x2","_obj_order":["hid"]}]}})");
  // An empty root header reads as a dictionary with nothing in it.
  EXPECT_EQ(toJson("[ ]"), R"({"_obj_order":[]})");
}

TEST(NodeTextReader, PrototypeCursorFollowsTheFormat) {
  // The children of a list element see the element's own prototype, not its member:
  // here "i" below "x" is found in the group "inner" of the element prototype.
  EXPECT_EQ(toJson("[r=1 [o=1 [x=1 [i=1 ] [i=2 ]]]]",
                   R"({"outer":[{"@TEVGRP":"o","inner":[{"@TEVGRP":"i"}]}]})"),
            R"({"r":"1","_obj_order":["r","o"],"outer":[{"o":"1","_obj_order":["o","x"],)"
            R"("x":{"x":"1","_obj_order":["x","i","i"],"inner":[{"i":"1","_obj_order":["i"]},)"
            R"({"i":"2","_obj_order":["i"]}]}}]})");
  // A string in the prototype under the collection's name keeps the cursor where it is.
  EXPECT_EQ(toJson("[r=1 [s=1 [k=1 ] [k=2 ]]]", R"({"s":"text","g":[{"@TEVGRP":"k"}]})"),
            R"({"r":"1","_obj_order":["r","s"],"s":{"s":"1","_obj_order":["s","k","k"],)"
            R"("g":[{"k":"1","_obj_order":["k"]},{"k":"2","_obj_order":["k"]}]}})");
  EXPECT_EQ(toJson("[r=1 [s=1 [k=1 ] [k=2 ]]]", R"({"g":[{"@TEVGRP":"k"}]})"),
            R"({"r":"1","_obj_order":["r","s"],"s":{"s":"1","_obj_order":["s","k","k"],)"
            R"("k_group":[{"k":"1","_obj_order":["k"]},{"k":"2","_obj_order":["k"]}]}})");
}

TEST(NodeTextReader, BlastData) {
  const char* prototype = R"({"blasts":[{"@TEVGRP":"blast"}]})";
  // The count never merges with the data's digits; blanks and line breaks in the data
  // go; a name without a blank after it carries no data.
  EXPECT_EQ(toJson("[p=1 [blast=Logo data<0 12 34\r\n 56>] [blast=Other data<7 abc>] "
                   "[blast=Bare]]",
                   prototype),
            R"({"p":"1","_obj_order":["p","blast","blast","blast"],"blasts":[{"blast":"Logo",)"
            R"("_obj_order":["blast"],"data":"123456"},{"blast":"Other","_obj_order":["blast"],)"
            R"("data":"abc"},{"blast":"Bare","_obj_order":["blast"]}]})");
  // Without a "blasts" member the data are dropped.
  EXPECT_EQ(
      toJson("[p=1 [blast=Logo data<0 42>]]"),
      R"({"p":"1","_obj_order":["p","blast"],"blast":{"blast":"Logo","_obj_order":["blast"]}})");
  // Data may hold what headers may not.
  EXPECT_EQ(toJson("[p=1 [blast=Q data<0 a\"b\\c>]]", prototype),
            R"({"p":"1","_obj_order":["p","blast"],"blasts":[{"blast":"Q","_obj_order":["blast"],)"
            R"("data":"a\"b\\c"}]})");
  // Written back in the blast form, the count always 0 and a blank before ">".
  EXPECT_EQ(rewrite("[p=1 [blast=Logo data<9 0042>]]", prototype),
            " [p=1 \r\n   [blast=Logo data<0 0042 >] ] ");
}

TEST(NodeTextReader, LineBreaksAreBlanks) {
  EXPECT_EQ(toJson("[a=1\r\n [b=2\nc=3 ]\r\n]"), toJson("[a=1   [b=2 c=3 ]  ]"));
  EXPECT_EQ(rewrite("[a=1\r\n [b=2 ]\r\n]"), rewrite("[a=1 [b=2 ]]"));
  // LINE SEPARATOR and NEXT LINE are newline characters too.
  EXPECT_EQ(toJson("[a=1\xE2\x80\xA8[b=2\xC2\x85]]"), toJson("[a=1 [b=2 ]]"));
}

TEST(NodeTextReader, FailuresSayWhatAndWhere) {
  EXPECT_EQ(toJson(""), "error: the text holds no node");
  EXPECT_EQ(toJson("  \r\n "), "error: the text holds no node");
  EXPECT_EQ(toJson("[a=1 [b=1 ]"), "error: line 1, column 1: this node is never closed");
  EXPECT_EQ(toJson("[a=1 ]]"), "error: line 1, column 7: text after the top-level node");
  EXPECT_EQ(toJson("[a=1 ] [b=1 ]"), "error: line 1, column 8: a second top-level node");
  EXPECT_EQ(toJson("x [a=1 ]"), "error: line 1, column 1: text before the top-level node");
  EXPECT_EQ(toJson("[a=1 [b=1 ] x [c=1 ]]"), "error: line 1, column 13: text after a child node");
  EXPECT_EQ(toJson("[a=\"1\" ]"), "error: line 1, column 4: a double quote in a node header");
  EXPECT_EQ(toJson("[a=1\\ ]"), "error: line 1, column 5: a backslash in a node header");
  EXPECT_EQ(toJson("[a=\t1 ]"), "error: line 1, column 4: a tab in a node header");
  EXPECT_EQ(toJson("[a=1 [ ]]"), "error: line 1, column 6: a nested node without header");
  EXPECT_EQ(toJson("[a=1 [[b=1 ]]]"), "error: line 1, column 6: a nested node without header");
  EXPECT_EQ(toJson("[a=1 b='' ]"), "error: line 1, column 6: an empty quoted value");
  EXPECT_EQ(toJson("[a=1 b-c='x y' ]"),
            "error: line 1, column 6: a quoted value after a key that is not a word");
  // Positions count characters of the original text, across line breaks, multi-byte
  // newline characters and cut-out blast data.
  EXPECT_EQ(toJson("[a=1\r\n  [b=1 ] x ]"), "error: line 2, column 10: text after a child node");
  EXPECT_EQ(toJson("[a=1\xE2\x80\xA8 ] x"),
            "error: line 1, column 9: text after the top-level node");
  EXPECT_EQ(toJson("[a=\xC3\xA9 [blast=n data<0 12345678>] x ]"),
            "error: line 1, column 33: text after a child node");
  // Garbage nesting fails instead of exhausting the stack.
  EXPECT_EQ(toJson(std::string(100000, '[')).substr(0, 34), "error: line 1, column 2: a nested ");
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "[a=1 ";
  EXPECT_EQ(toJson(deep), "error: line 1, column 1281: nodes nested too deeply");
}

TEST(NodeTextWriter, ValuesNumbersAndNames) {
  // Numbers in lower-case hexadecimal with "0x" ("band" in decimal), zero not written,
  // quoting of values with blanks or exactly "=", the bare word of the first entry.
  EXPECT_EQ(toText(R"({"a":30,"band":30,"neg":-5,"z":0,"f":1.5,"e":"","q":"x y","eq":"=",)"
                   R"("_obj_order":["x","a","band","neg","z","f","e","q","eq"]})"),
            " [x a=0x1e band=30 neg=0x-5 f=0x1.8 q='x y' eq='=' ] ");
  // Order entries are trimmed; members outside the order come after the ordered ones.
  EXPECT_EQ(toText(R"({"b":"2","a":"1","c":"3","_obj_order":["  a "," c"]})"), " [a=1 c=3 b=2 ] ");
  // true and false are empty child nodes; nested nodes start on a new line, indented.
  EXPECT_EQ(toText(R"({"r":"1","t":true,"f":false,"_obj_order":["r","t"]})"),
            " [r=1 \r\n   [t ] \r\n   [f ] ] ");
  // A child is named only where its type differs from its member's name.
  EXPECT_EQ(
      toText(
          R"({"r":"1","_obj_order":["r","child","same"],)"
          R"("child":{"other":"x","_obj_order":["other"]},"same":{"same":"y","_obj_order":["same"]}})"),
      " [r=1 \r\n   [child other=x ] \r\n   [same=y ] ] ");
  // Lists are written under their name, their elements unnamed.
  EXPECT_EQ(toText(R"({"r":"1","_obj_order":["r","list"],"list":[{"b":"1","_obj_order":["b"]},)"
                   R"(["nested"],"text",0]})"),
            " [r=1 \r\n   [list \r\n     [b=1 ] \r\n     [ 0=nested ] 2=text ] ] ");
}

TEST(NodeTextWriter, FailuresAndUnstorableValues) {
  EXPECT_EQ(toText(R"({"a":null,"_obj_order":["r","a"],"r":"1"})"),
            "error: a null value under \"a\"");
  EXPECT_EQ(toText(R"({"r":"1","x":null,"_obj_order":["r"]})"), "error: a null value under \"x\"");
  EXPECT_EQ(toText(R"({"r":"1","_obj_order":["r","k","k","k"],)"
                   R"("k_group":[{"k":"1","_obj_order":["k"]},{"k":"2","_obj_order":["k"]}]})"),
            "error: \"_obj_order\" names more \"k\" children than \"k_group\" holds");
  EXPECT_EQ(toText(R"({"r":"1","_obj_order":"r"})"), "error: \"_obj_order\" is not a list");
  EXPECT_EQ(toText(R"({"r":"1","_obj_order":["r",5]})"),
            "error: \"_obj_order\" holds something other than names");
  std::string deep = R"({"a":)";
  for (int i = 0; i < 300; ++i) deep += R"({"a":)";
  deep += "1" + std::string(301, '}');
  EXPECT_EQ(toText(deep), "error: the JSON is nested too deeply");
  // A NUL cannot stand in node text, wherever it comes: a value, an attribute's name, a
  // bare word, a node's name.
  EXPECT_EQ(toText(R"({"r":"a\u0000b","_obj_order":["r"]})"),
            "error: the value of \"r\" holds a NUL character, which node text cannot hold");
  EXPECT_EQ(toText(R"({"r":"1","x\u0000y":"2","_obj_order":["r"]})"),
            "error: the name \"x\\0y\" holds a NUL character, which node text cannot hold");
  EXPECT_EQ(toText(R"({"w\u0000":"","r":"1","_obj_order":["w\u0000","r"]})"),
            "error: the name \"w\\0\" holds a NUL character, which node text cannot hold");
  EXPECT_EQ(toText(R"({"r":"1","_obj_order":["r"],"c\u0000":{"k":"1"}})"),
            "error: the name \"c\\0\" holds a NUL character, which node text cannot hold");
  EXPECT_EQ(toText(R"({"r":"a\u0001b","_obj_order":["r"]})"), " [r=a\u0001b ] ")
      << "other control characters are the format's to carry";
  // A value the format cannot hold is written unchanged; the text then does not read.
  const std::string text = toText(R"({"a":"x]y","_obj_order":["a"]})");
  EXPECT_EQ(text, " [a=x]y ] ");
  EXPECT_EQ(toJson(text).substr(0, 6), "error:");
}

TEST(NodeTextRoundTrip, QuirkFileIsStable) {
  // Repeated ungrouped types go back to their places among the other children; a
  // selection set without "=" in its header; a list node; blast data with digits; a
  // multi-type group comes out after the node's other children.
  const char* prototype =
      R"({"sel":{"@CLASS":"ZVSelectionSet","hids":[{"@TEVGRP":"hid"}]},)"
      R"("blasts":[{"@TEVGRP":"blast"}],"hids":[{"@TEVGRP":"hid"}],"mixed":[{"@TEVGRP":"m n"}]})";
  const std::string written = rewrite(
      "[r=1 name='A b'  [k=1 ] [m=1 ] [g=x ] [k=2 ]\r\n[sel [hid=0x1 ]] [list [b=1 ] [b=2 ]] "
      "[n=2 ] [blast=B data<0 0042 >]]",
      prototype);
  EXPECT_EQ(written,
            " [r=1 name='A b' \r\n   [k=1 ] \r\n   [g=x ] \r\n   [k=2 ] \r\n   [sel \r\n     "
            "[hid=0x1 ] ] "
            "\r\n   [list \r\n     [b=1 ] \r\n     [b=2 ] ] \r\n   [blast=B data<0 0042 >] \r\n"
            "   [m=1 ] \r\n   [n=2 ] ] ");
  EXPECT_EQ(rewrite(written, prototype), written);
}

}  // namespace
}  // namespace zv::profile
