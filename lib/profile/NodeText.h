// Node text: the format of profile files, and its conversion to and from the profile
// JSON.
//
// A profile file holds one node. A node is "[", a header, its child nodes, "]"; the
// header is an optional bare word and KEY=VALUE attributes (a value with a blank, or
// exactly "=", in single quotes). Blast nodes carry a data block:
// "[blast=NAME data<0 DATA>]". The writer puts CR LF and two blanks per level before
// every nested node and starts the root with " [".
//
// tevnodes2json turns node text into the profile JSON: a node becomes a dictionary (one
// string member per attribute, "_obj_order" listing the bare word, the attribute keys
// and one entry per child, in text order, then one member per collection of children)
// or an array (its children's values). The prototype decides which child types are
// collected into array members ("@TEVGRP") and which headers without "=" still make a
// dictionary. json2tevnodes writes the JSON back, restoring the text order from
// "_obj_order". Both keep every quirk of the format, since files and the editor see
// their results: bare words keep their trailing blank and later attribute keys their
// leading blanks in "_obj_order"; numbers are written in lower-case hexadecimal with
// "0x" ("band" in decimal), zero is not written; true and false become empty child
// nodes; repeated types the prototype does not group become "<type>_group"; members
// not named in "_obj_order" come out after the ordered ones.
//
// Both conversions are pure functions of their arguments, safe on any thread, and
// fail cleanly (no JSON, no text, an error saying why and where) on input they cannot
// convert; they never crash on garbage.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "json/Value.h"

namespace zv::profile {

struct NodeTextError {
  static constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);

  std::string message;
  // Where the reader stopped, in the text it was given (byte offset; line and column
  // are 1-based, the column counts characters); kNoOffset for the writer's failures.
  std::size_t offset = kNoOffset;
  std::size_t line = 0;
  std::size_t column = 0;

  // "line L, column C: MESSAGE", or MESSAGE alone.
  std::string describe() const;
};

// Node text (UTF-8) → the JSON of its root node (a dictionary, or an array when the
// root's header makes it one). Fails on unbalanced brackets, text outside a header
// between nodes, a second top-level node, a double quote, backslash or tab in a
// header, a nested node without header, an empty quoted value, and a quoted value after
// a key that is not a word. Newline characters count as blanks.
std::optional<json::Value> tevnodes2json(std::string_view nodeText, const json::Value& prototype,
                                         NodeTextError* error = nullptr);

// Profile JSON → node text (UTF-8). Fails on a null value, on a name or text value holding
// a NUL character, on an "_obj_order" that is not a list of names or that names more
// children of a type than "<type>_group" still holds, and on JSON nested too deeply. Values the
// format cannot hold ("[", "]", quotes, backslashes) are written unchanged, and the text then does
// not read back; saving (ProfileFile.h) checks that before it writes.
std::optional<std::string> json2tevnodes(const json::Value& json, const json::Value& prototype,
                                         NodeTextError* error = nullptr);

// The same with texts in and out, as the editor and the command-line tool hold them:
// the prototype as read from "tevnodes.prototype" and JSON text in the suite's form.
std::optional<std::string> tevnodes2json(std::string_view nodeText, std::string_view prototypeText,
                                         NodeTextError* error = nullptr);
std::optional<std::string> json2tevnodes(std::string_view jsonText, std::string_view prototypeText,
                                         NodeTextError* error = nullptr);

}  // namespace zv::profile
