// Node text → JSON: the text is normalised (newlines become blanks), its blast data are
// cut out, its bracket structure is parsed into nodes, and the nodes are converted with
// the prototype as guide. A failure names its place in the caller's text.
#include <algorithm>
#include <deque>
#include <unordered_map>
#include <vector>

#include "json/CJSONSerializer.h"
#include "profile/NodeText.h"
#include "profile/NodeTextSyntax.h"
#include "profile/Prototype.h"

namespace zv::profile {

namespace {

using namespace nodetext;

constexpr std::string_view kSelectionSet = "ZVSelectionSet";

bool isWord(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), isWordChar);
}

const json::Value& emptyDictionaryValue() {
  static const json::Value empty(json::makeDictionary());
  return empty;
}

// Maps offsets of an edited text back to the text before the edit. The edits here only
// shorten the text, so each anchor says: from this new offset on, add this much.
class OffsetMap {
 public:
  void add(std::size_t newOffset, std::size_t oldOffset) {
    anchors_.emplace_back(newOffset, oldOffset);
  }
  std::size_t toOld(std::size_t offset) const {
    auto it = std::upper_bound(anchors_.begin(), anchors_.end(), offset,
                               [](std::size_t o, const auto& a) { return o < a.first; });
    if (it == anchors_.begin()) return offset;
    --it;
    return it->second + (offset - it->first);
  }

 private:
  std::vector<std::pair<std::size_t, std::size_t>> anchors_;
};

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct Node {
  std::size_t open;         // offset of "["
  std::string_view header;  // without its leading blanks
  std::size_t firstChild = kNone;
  std::size_t lastChild = kNone;
  std::size_t next = kNone;  // the next sibling
  std::size_t childCount = 0;
};

// What the reader needs of one prototype dictionary, worked out once per conversion.
struct BaseInfo {
  std::string_view group;  // its "@TEVGRP", or ""
  bool selectionSet = false;
  // Array members whose element prototype has "@TEVGRP": member name and the words.
  std::vector<std::pair<std::string_view, std::vector<std::string_view>>> groups;
};

std::vector<std::string_view> blankSeparatedWords(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == ' ') ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] != ' ') ++j;
    if (j > i) words.push_back(s.substr(i, j - i));
    i = j;
  }
  return words;
}

class Reader {
 public:
  Reader(std::string_view original, const json::Value& prototype, NodeTextError* error)
      : original_(original), prototype_(prototype), error_(error) {}

  std::optional<json::Value> run() {
    normalize();
    cutBlasts();
    if (!parseStructure()) return std::nullopt;
    json::Value root = convert(0, &prototype_, 0);
    if (failed_) return std::nullopt;
    attachBlasts(root);
    return root;
  }

 private:
  // Newline characters become one blank each. The multi-byte ones (NEXT LINE, LINE and
  // PARAGRAPH SEPARATOR) are rare: only a text holding their lead bytes is compacted.
  void normalize() {
    text_.assign(original_);
    for (char& c : text_) {
      if (c == '\n' || c == '\v' || c == '\f' || c == '\r') c = ' ';
    }
    if (text_.find_first_of("\xC2\xE2") == std::string::npos) return;
    std::size_t out = 0;
    for (std::size_t i = 0; i < text_.size(); ++i) {
      const auto c = static_cast<unsigned char>(text_[i]);
      std::size_t length = 0;
      if (c == 0xC2 && i + 1 < text_.size() && static_cast<unsigned char>(text_[i + 1]) == 0x85) {
        length = 2;
      } else if (c == 0xE2 && i + 2 < text_.size() &&
                 static_cast<unsigned char>(text_[i + 1]) == 0x80 &&
                 (static_cast<unsigned char>(text_[i + 2]) == 0xA8 ||
                  static_cast<unsigned char>(text_[i + 2]) == 0xA9)) {
        length = 3;
      }
      if (length == 0) {
        text_[out++] = static_cast<char>(c);
        continue;
      }
      text_[out++] = ' ';
      normalized_.add(out, i + length);
      i += length - 1;
    }
    text_.resize(out);
  }

  // Takes the data out of every blast node ("[blast=NAME data<COUNT DATA>]") and cuts
  // the node down to "[blast=NAME]", so that the data never reaches the header rules.
  void cutBlasts() {
    if (text_.find(kBlastOpen) == std::string::npos) return;
    std::string cut;
    cut.reserve(text_.size());
    std::size_t from = 0;
    while (true) {
      const std::size_t open = text_.find(kBlastOpen, from);
      if (open == std::string::npos) break;
      const std::size_t close = text_.find(']', open);
      if (close == std::string::npos) break;  // unbalanced: the structure step reports it
      const std::size_t nameBegin = open + kBlastOpen.size();
      const std::string_view content(text_.data() + nameBegin, close - nameBegin);
      const std::size_t blank = content.find(' ');
      cut.append(text_, from, nameBegin - from);
      if (blank == std::string_view::npos) {
        cut.append(content);  // no blank after the name: no data, nothing to cut
        cut.push_back(']');
        from = close + 1;
        continue;
      }
      const std::string_view name = content.substr(0, blank);
      extractData(name, content.substr(blank + 1));
      cut.append(name);
      cut.push_back(']');
      cutMap_.add(cut.size(), close + 1);
      from = close + 1;
    }
    cut.append(text_, from, std::string::npos);
    text_ = std::move(cut);
  }

  // "data<" COUNT " " DATA ">": DATA without its blanks. Anything else carries no data.
  void extractData(std::string_view name, std::string_view rest) {
    std::size_t i = 0;
    while (i < rest.size() && rest[i] == ' ') ++i;
    if (rest.substr(i, 5) != "data<") return;
    i += 5;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
    if (i >= rest.size() || rest[i] != ' ') return;
    ++i;
    const std::size_t end = rest.find('>', i);
    if (end == std::string_view::npos) return;
    std::string data;
    for (char c : rest.substr(i, end - i)) {
      if (c != ' ') data.push_back(c);
    }
    for (auto& [known, value] : blasts_) {
      if (known == name) {
        value = std::move(data);
        return;
      }
    }
    blasts_.emplace_back(std::string(name), std::move(data));
  }

  bool fail(std::size_t offset, std::string message) {
    failed_ = true;
    if (error_) {
      error_->message = std::move(message);
      error_->offset = NodeTextError::kNoOffset;
      std::size_t original = offset;
      if (offset != NodeTextError::kNoOffset) {
        original = normalized_.toOld(cutMap_.toOld(offset));
        if (original > original_.size()) original = original_.size();
        error_->offset = original;
        error_->line = 1;
        error_->column = 1;
        for (std::size_t i = 0; i < original; ++i) {
          const auto c = static_cast<unsigned char>(original_[i]);
          if (c == '\n') {
            ++error_->line;
            error_->column = 1;
          } else if ((c & 0xC0) != 0x80) {
            ++error_->column;
          }
        }
      }
    }
    return false;
  }

  std::size_t skipBlanks(std::size_t i) const {
    while (i < text_.size() && text_[i] == ' ') ++i;
    return i;
  }

  // The bracket structure, iteratively (so that deep garbage cannot overflow the stack).
  bool parseStructure() {
    std::size_t i = skipBlanks(0);
    if (i >= text_.size()) return fail(NodeTextError::kNoOffset, "the text holds no node");
    if (text_[i] != '[') return fail(i, "text before the top-level node");
    std::vector<std::size_t> open;
    while (true) {
      // text_[i] == '[': a node starts.
      if (open.size() >= kMaxNesting) return fail(i, "nodes nested too deeply");
      const std::size_t headerBegin = i + 1;
      std::size_t j = headerBegin;
      while (j < text_.size() && text_[j] != '[' && text_[j] != ']') {
        const char c = text_[j];
        if (c == '"') return fail(j, "a double quote in a node header");
        if (c == '\\') return fail(j, "a backslash in a node header");
        if (c == '\t') return fail(j, "a tab in a node header");
        ++j;
      }
      std::string_view header(text_.data() + headerBegin, j - headerBegin);
      const std::size_t lead = header.find_first_not_of(' ');
      header = lead == std::string_view::npos ? std::string_view() : header.substr(lead);
      if (!open.empty() && header.empty()) return fail(i, "a nested node without header");
      const std::size_t index = nodes_.size();
      nodes_.push_back(Node{i, header});
      if (!open.empty()) {
        Node& parent = nodes_[open.back()];
        (parent.lastChild == kNone ? parent.firstChild : nodes_[parent.lastChild].next) = index;
        parent.lastChild = index;
        ++parent.childCount;
      }
      open.push_back(index);
      i = j;
      // Children and closing brackets.
      while (true) {
        if (i >= text_.size()) {
          return fail(nodes_[open.back()].open, "this node is never closed");
        }
        if (text_[i] == '[') break;  // a child node
        // text_[i] == ']'
        open.pop_back();
        i = skipBlanks(i + 1);
        if (open.empty()) {
          if (i < text_.size()) {
            return fail(
                i, text_[i] == '[' ? "a second top-level node" : "text after the top-level node");
          }
          return true;
        }
        if (i >= text_.size()) {
          return fail(nodes_[open.back()].open, "this node is never closed");
        }
        if (text_[i] != '[' && text_[i] != ']') return fail(i, "text after a child node");
      }
    }
  }

  const BaseInfo& baseInfo(const json::Dictionary* base) {
    for (auto& [dictionary, info] : bases_) {
      if (dictionary == base) return info;
    }
    BaseInfo info;
    if (base) {
      for (const auto& [key, value] : *base) {
        if (key == kGroupKey && value.isString()) info.group = value.asString();
        if (value.isString() && value.asString() == kSelectionSet) info.selectionSet = true;
        if (!value.isArray() || value.asArray()->empty()) continue;
        const json::Value& element = value.asArray()->front();
        if (!element.isDictionary()) continue;
        const json::Value* group = element.asDictionary()->find(kGroupKey);
        if (group && group->isString()) {
          info.groups.emplace_back(key, blankSeparatedWords(group->asString()));
        }
      }
    }
    bases_.emplace_back(base, std::move(info));
    return bases_.back().second;
  }

  // The collection a child type belongs to in a base: the first array member listing the
  // type in its element's "@TEVGRP" (a group), else the type itself.
  static std::optional<std::string_view> groupFor(const BaseInfo& info, std::string_view type) {
    for (const auto& [member, words] : info.groups) {
      for (std::string_view word : words) {
        if (word == type) return member;
      }
    }
    return std::nullopt;
  }

  // The node type: the header up to the first "=", then up to the first blank.
  static std::string_view typeOf(std::string_view header) {
    std::string_view type = header.substr(0, header.find('='));
    return type.substr(0, type.find(' '));
  }

  // The cursor for the children of a collection named `name`.
  static const json::Value* childCursor(const json::Value* cursor, std::string_view name) {
    if (cursor->isArray()) {
      const json::ArrayPtr& array = cursor->asArray();
      return array->empty() ? &emptyDictionaryValue() : &array->front();
    }
    if (!cursor->isDictionary()) return &emptyDictionaryValue();
    const json::Value* value = cursor->asDictionary()->find(name);
    if (!value) return &emptyDictionaryValue();
    if (value->isString()) return cursor;
    return value;
  }

  struct Collection {
    std::string_view name;  // the group's member name, or the type
    bool group;
    std::size_t count;
  };
  // Working space of one nesting level, kept across nodes so that converting a node
  // allocates only what its JSON holds.
  struct Scratch {
    std::vector<Collection> collections;
    std::vector<std::size_t> collectionOf;  // per child, in text order
    std::unordered_map<std::string_view, std::size_t> byGroup, byType;
  };

  json::Value convert(std::size_t index, const json::Value* cursor, std::size_t depth) {
    const Node& node = nodes_[index];
    const json::Dictionary* base = nullptr;
    if (cursor->isDictionary()) {
      base = cursor->asDictionary().get();
    } else if (cursor->isArray() && !cursor->asArray()->empty() &&
               cursor->asArray()->front().isDictionary()) {
      base = cursor->asArray()->front().asDictionary().get();
    }
    const BaseInfo& info = baseInfo(base);
    const std::string_view header = node.header;
    const bool isDictionary = info.selectionSet ||
                              header.substr(0, header.find(' ')) == info.group ||
                              header.find('=') != std::string_view::npos;

    // Collections in order of first appearance; maps find them once there are many.
    while (scratch_.size() <= depth) scratch_.emplace_back();
    Scratch& scratch = scratch_[depth];
    auto& collections = scratch.collections;
    collections.clear();
    scratch.collectionOf.clear();
    scratch.byGroup.clear();
    scratch.byType.clear();
    bool mapped = false;
    for (std::size_t child = node.firstChild; child != kNone; child = nodes_[child].next) {
      const std::string_view type = typeOf(nodes_[child].header);
      const auto group = groupFor(info, type);
      const std::string_view name = group ? *group : type;
      std::size_t found = collections.size();
      if (!mapped) {
        for (std::size_t c = 0; c < collections.size(); ++c) {
          if (collections[c].group == group.has_value() && collections[c].name == name) found = c;
        }
      } else {
        auto& map = group ? scratch.byGroup : scratch.byType;
        if (auto it = map.find(name); it != map.end()) found = it->second;
      }
      if (found == collections.size()) {
        collections.push_back(Collection{name, group.has_value(), 0});
        if (mapped) (group ? scratch.byGroup : scratch.byType).emplace(name, found);
        if (!mapped && collections.size() > 8) {
          for (std::size_t c = 0; c < collections.size(); ++c) {
            (collections[c].group ? scratch.byGroup : scratch.byType)
                .emplace(collections[c].name, c);
          }
          mapped = true;
        }
      }
      ++collections[found].count;
      scratch.collectionOf.push_back(found);
    }

    // The children of one collection, converted in text order.
    auto convertCollection = [&](std::size_t c, const json::Value* next, auto&& take) {
      std::size_t k = 0;
      for (std::size_t child = node.firstChild; child != kNone; child = nodes_[child].next, ++k) {
        if (scratch_[depth].collectionOf[k] != c) continue;
        take(convert(child, next, depth + 1));
        if (failed_) return false;
      }
      return true;
    };

    if (!isDictionary) {
      auto array = json::makeArray();
      array->reserve(node.childCount);
      for (std::size_t c = 0; c < scratch_[depth].collections.size(); ++c) {
        const json::Value* next = childCursor(cursor, scratch_[depth].collections[c].name);
        if (!convertCollection(c, next, [&](json::Value v) { array->push_back(std::move(v)); })) {
          return {};
        }
      }
      return json::Value(array);
    }

    auto dictionary = json::makeDictionary();
    auto order = json::makeArray();
    const std::size_t attributes =
        static_cast<std::size_t>(std::count(header.begin(), header.end(), '='));
    dictionary->reserve(attributes + 1 + collections.size());
    order->reserve(1 + attributes + node.childCount);
    if (!parseHeader(node, *dictionary, *order)) return {};
    for (std::size_t child = node.firstChild; child != kNone; child = nodes_[child].next) {
      order->push_back(json::Value(typeOf(nodes_[child].header)));
    }
    dictionary->set(kOrder, json::Value(order));
    for (std::size_t c = 0; c < scratch_[depth].collections.size(); ++c) {
      const Collection collection = scratch_[depth].collections[c];
      const json::Value* next = childCursor(cursor, collection.name);
      if (collection.group || collection.count > 1) {
        auto array = json::makeArray();
        array->reserve(collection.count);
        if (!convertCollection(c, next, [&](json::Value v) { array->push_back(std::move(v)); })) {
          return {};
        }
        if (collection.group) {
          dictionary->set(collection.name, json::Value(array));
        } else {
          dictionary->set(std::string(collection.name) + "_group", json::Value(array));
        }
      } else {
        json::Value value;
        if (!convertCollection(c, next, [&](json::Value v) { value = std::move(v); })) return {};
        dictionary->set(collection.name, std::move(value));
      }
    }
    return json::Value(dictionary);
  }

  // The header of a dictionary node: the bare word, then KEY=VALUE attributes.
  bool parseHeader(const Node& node, json::Dictionary& dictionary, json::Array& order) {
    const std::string_view h = node.header;
    const std::size_t headerOffset = static_cast<std::size_t>(h.data() - text_.data());
    const std::size_t n = h.size();
    std::size_t i = 0;

    // A bare word: a word followed by a blank or ending the header (but a word followed
    // by blanks and "=" is a key with blanks around its "=").
    std::size_t w = 0;
    while (w < n && isWordChar(h[w])) ++w;
    if (w > 0 && (w == n || h[w] == ' ')) {
      std::size_t k = w;
      while (k < n && h[k] == ' ') ++k;
      if (!(w < n && k < n && h[k] == '=')) {
        std::string word(h.substr(0, w));
        if (w < n) word.push_back(' ');
        order.push_back(json::Value(std::move(word)));
        i = w < n ? w + 1 : w;
      }
    }

    std::size_t noQuoteFrom = n;  // no closing quote exists at or after this offset
    auto value = [&](std::size_t p, std::string_view& out, std::size_t& end, bool& quoted) {
      while (p < n && h[p] == ' ') ++p;
      if (p >= n) return false;
      if (h[p] == '\'') {
        if (p + 1 >= noQuoteFrom) return false;
        const std::size_t close = h.find('\'', p + 1);
        if (close == std::string_view::npos) {
          noQuoteFrom = p + 1;
          return false;
        }
        out = h.substr(p + 1, close - p - 1);
        end = close + 1;
        quoted = true;
        return true;
      }
      std::size_t q = p;
      while (q < n && h[q] != ' ') ++q;
      out = h.substr(p, q - p);
      end = q;
      quoted = false;
      return true;
    };

    bool first = true;
    while (i < n) {
      const std::size_t blanks = i;
      while (i < n && h[i] == ' ') ++i;
      if (i >= n) break;
      const std::size_t k = i;
      std::size_t r = k;
      while (r < n && h[r] != ' ' && h[r] != '\'') ++r;
      if (r == k) {  // a quote cannot start a key
        i = k + 1;
        continue;
      }
      // The longest key first: the whole run with "=" after blanks, then the run up to
      // each of its own "=" from the right.
      std::string_view key, text;
      std::size_t end = 0;
      bool quoted = false, found = false;
      std::size_t e = r;
      while (e < n && h[e] == ' ') ++e;
      if (e < n && h[e] == '=' && value(e + 1, text, end, quoted)) {
        key = h.substr(k, r - k);
        found = true;
      }
      for (std::size_t q = r; !found && q-- > k + 1;) {
        if (h[q] == '=' && value(q + 1, text, end, quoted)) {
          key = h.substr(k, q - k);
          found = true;
        }
      }
      if (!found) {
        i = r;
        continue;
      }
      if (quoted && text.empty()) return fail(headerOffset + k, "an empty quoted value");
      if (quoted && !isWord(key)) {
        return fail(headerOffset + k, "a quoted value after a key that is not a word");
      }
      std::string entry;
      if (!first) entry.assign(h.substr(blanks, k - blanks));
      entry.append(key);
      order.push_back(json::Value(std::move(entry)));
      dictionary.set(key, json::Value(text));
      first = false;
      i = end;
    }
    return true;
  }

  // Blast data goes to the first element of the root's "blasts" whose value under its
  // first order entry is the blast's name; data without such a record is dropped.
  void attachBlasts(json::Value& root) {
    if (blasts_.empty() || !root.isDictionary()) return;
    const json::Value* blasts = root.asDictionary()->find("blasts");
    if (!blasts || !blasts->isArray()) return;
    for (auto& [name, data] : blasts_) {
      for (const json::Value& element : *blasts->asArray()) {
        if (!element.isDictionary()) continue;
        const json::Dictionary& record = *element.asDictionary();
        const json::Value* order = record.find(kOrder);
        if (!order || !order->isArray() || order->asArray()->empty()) continue;
        const json::Value* value = record.find(order->asArray()->front().asString());
        if (value && value->isString() && value->asString() == name) {
          element.asDictionary()->set("data", json::Value(data));
          break;
        }
      }
    }
  }

  std::string_view original_;
  const json::Value& prototype_;
  NodeTextError* error_;
  std::string text_;
  OffsetMap normalized_;  // offsets in the normalised text → the original
  OffsetMap cutMap_;      // offsets in the cut text → the normalised text
  std::vector<std::pair<std::string, std::string>> blasts_;
  std::vector<Node> nodes_;
  std::vector<std::pair<const json::Dictionary*, BaseInfo>> bases_;
  std::deque<Scratch> scratch_;  // by depth; a deque keeps references stable as it grows
  bool failed_ = false;
};

}  // namespace

std::string NodeTextError::describe() const {
  if (offset == kNoOffset) return message;
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

std::optional<json::Value> tevnodes2json(std::string_view nodeText, const json::Value& prototype,
                                         NodeTextError* error) {
  return Reader(nodeText, prototype, error).run();
}

std::optional<std::string> tevnodes2json(std::string_view nodeText, std::string_view prototypeText,
                                         NodeTextError* error) {
  json::DictionaryPtr prototype = parsePrototype(prototypeText);
  if (!prototype) {
    if (error) *error = NodeTextError{"the prototype is not a JSON object"};
    return std::nullopt;
  }
  auto value = tevnodes2json(nodeText, json::Value(prototype), error);
  if (!value) return std::nullopt;
  auto text = json::CJSONSerializer::serializer().serializeObject(*value);
  if (!text) {
    if (error) *error = NodeTextError{text.failure().message};
    return std::nullopt;
  }
  return std::move(*text);
}

}  // namespace zv::profile
