// The JSON reader's scanner. Each scan operation answers success or failure; on
// failure it sets the error (when asked for) and moves back to where the failing
// container or string started. A value position holding a byte that starts no value
// succeeds without a value (`out` stays empty); a dictionary then leaves the key out
// and an array leaves the element out.
//
// Numbers are read as doubles; a comma before a closing bracket or brace is accepted;
// single-quoted strings fail. Data in UTF-16 or UTF-32 (recognised from the pattern of
// zero bytes in its first four bytes) is converted to UTF-8 before scanning.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "json/CDataScanner.h"
#include "json/Error.h"
#include "json/Value.h"

namespace zv::json {

class CJSONScanner : public CDataScanner {
 public:
  // Containers nested deeper than this fail like a value that cannot be scanned,
  // so hostile input cannot exhaust the stack.
  static constexpr int kMaxDepth = 512;

  using CDataScanner::CDataScanner;
  explicit CJSONScanner(std::string data) { setData(std::move(data)); }

  // UTF-16/UTF-32 data is converted to UTF-8 (into data the scanner owns); UTF-8 is
  // scanned in place. Scanning starts at the beginning.
  void setDataView(std::string_view data) override;

  bool strictEscapeCodes() const { return strictEscapeCodes_; }
  void setStrictEscapeCodes(bool strict) { strictEscapeCodes_ = strict; }

  bool scanJSONObject(std::optional<Value>& out, Error* error);
  bool scanJSONDictionary(DictionaryPtr& out, Error* error);
  bool scanJSONArray(ArrayPtr& out, Error* error);
  bool scanJSONStringConstant(std::string& out, Error* error);
  bool scanJSONNumberConstant(double& out, Error* error);

 private:
  bool fail(std::size_t start, int code, Error* error);
  // Scans one value and hands `emit` what the value is built from (a container
  // handle, a string view, a number, a Value), so the value is constructed once, in
  // the place `emit` puts it. `emit` is not called when the position holds no value.
  template <class Emit>
  bool scanValue(Emit&& emit, Error* error);
  // Scans a string constant. `view` is a view of the data when the string holds no
  // escape, else of `scratch`, which receives the decoded text.
  bool scanStringView(std::string_view& view, std::string& scratch, Error* error);
  bool scanEscapedString(std::string& out, std::size_t start, Error* error);

  bool strictEscapeCodes_ = false;
  int depth_ = 0;
  // Scratch stacks: a container's members are built here while it is scanned
  // (nested containers stack above them) and moved into an exactly sized container
  // at its end, so containers never grow by reallocation.
  std::vector<Dictionary::Entry> entryStack_;
  std::vector<Value> itemStack_;
  std::string stringScratch_;  // decoded strings with escapes, copied once into place
};

}  // namespace zv::json
