#include "json/CDataScanner.h"

#include <charconv>
#include <cmath>

namespace zv::json {

void CDataScanner::setData(std::string data) {
  owned_ = std::move(data);
  setDataView(owned_);
}

void CDataScanner::setDataView(std::string_view data) {
  data_ = data;
  pos_ = 0;
  end_ = data_.size();
}

bool CDataScanner::scanUTF8String(std::string_view text, std::string* into) {
  if (remainingString().substr(0, text.size()) != text) return false;
  pos_ += text.size();
  if (into) *into = text;
  return true;
}

bool CDataScanner::scanCharactersFromSet(const CharacterSet& set, std::string* into) {
  const std::size_t start = pos_;
  while (pos_ < end_ && set.contains(static_cast<std::uint8_t>(data_[pos_]))) ++pos_;
  if (pos_ == start) return false;
  if (into) into->assign(data_.substr(start, pos_ - start));
  return true;
}

bool CDataScanner::scanUpToString(std::string_view text, std::string* into) {
  const std::size_t start = pos_;
  const std::size_t found = remainingString().find(text);
  pos_ = found == std::string_view::npos ? end_ : start + found;
  if (pos_ == start) return false;
  if (into) into->assign(data_.substr(start, pos_ - start));
  return true;
}

bool CDataScanner::scanUpToCharactersFromSet(const CharacterSet& set, std::string* into) {
  const std::size_t start = pos_;
  while (pos_ < end_ && !set.contains(static_cast<std::uint8_t>(data_[pos_]))) ++pos_;
  if (pos_ == start) return false;
  if (into) into->assign(data_.substr(start, pos_ - start));
  return true;
}

const CharacterSet& CDataScanner::doubleCharacters() {
  static constexpr CharacterSet set("0123456789eE-.");
  return set;
}

bool CDataScanner::scanNumber(double* value) {
  const std::size_t start = pos_;
  const CharacterSet& set = doubleCharacters();
  while (pos_ < end_ && set.contains(static_cast<std::uint8_t>(data_[pos_]))) ++pos_;
  if (pos_ == start) return false;
  // The run is converted like a text's leading number: "1-2" is 1, "-" is 0.
  double result = 0;
  const char* first = data_.data() + start;
  const char* last = data_.data() + pos_;
  auto [ptr, ec] = std::from_chars(first, last, result);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value untouched on overflow; a text's number saturates.
    result = (*first == '-') ? -HUGE_VAL : HUGE_VAL;
    // Underflow ("1e-999") also lands here; it reads as zero.
    bool underflow = false;
    for (const char* p = first; p < ptr; ++p) {
      if ((*p == 'e' || *p == 'E') && p + 1 < ptr && p[1] == '-') underflow = true;
    }
    if (underflow) result = (*first == '-') ? -0.0 : 0.0;
  } else if (ec != std::errc()) {
    result = 0;
  }
  if (value) *value = result;
  return true;
}

}  // namespace zv::json
