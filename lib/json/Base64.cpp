#include "json/Base64.h"

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <memory>

namespace zv::json {

namespace {
struct BioFree {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

bool isAlphabet(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// The filter silently skips what it cannot decode, so the text is checked first:
// only alphabet characters, then at most two '=' closing the last group of four.
// Line breaks are allowed when decoding with newlines; blanks never.
bool isWellFormed(std::string_view text, bool newlines) {
  std::size_t count = 0;
  std::size_t padding = 0;
  for (unsigned char c : text) {
    if (c == '\n' || c == '\r') {
      if (!newlines) return false;
      continue;
    }
    if (c == '=') {
      ++padding;
    } else if (isAlphabet(c) && padding == 0) {
      // data after padding is not allowed
    } else {
      return false;
    }
    ++count;
  }
  return count % 4 == 0 && padding <= 2;
}
}  // namespace

std::string encodeBase64WithNewlines(std::string_view bytes, bool newlines) {
  BioPtr b64(BIO_new(BIO_f_base64()));
  BIO* sink = BIO_new(BIO_s_mem());
  if (!b64 || !sink) {
    BIO_free(sink);
    return {};
  }
  if (!newlines) BIO_set_flags(b64.get(), BIO_FLAGS_BASE64_NO_NL);
  BIO_push(b64.get(), sink);
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - offset, 1 << 30));
    const int written = BIO_write(b64.get(), bytes.data() + offset, chunk);
    if (written <= 0) return {};
    offset += static_cast<std::size_t>(written);
  }
  (void)BIO_flush(b64.get());
  char* text = nullptr;
  const long length = BIO_get_mem_data(sink, &text);
  return std::string(text, static_cast<std::size_t>(length));
}

std::optional<std::string> decodeBase64WithNewlines(std::string_view text, bool newlines) {
  if (!isWellFormed(text, newlines)) return std::nullopt;
  if (text.empty()) return std::string();
  // The filter reads lines; a text without line breaks is read as one line.
  std::string input(text);
  if (newlines && input.back() != '\n') input.push_back('\n');
  if (input.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  BioPtr b64(BIO_new(BIO_f_base64()));
  BIO* source = BIO_new_mem_buf(input.data(), static_cast<int>(input.size()));
  if (!b64 || !source) {
    BIO_free(source);
    return std::nullopt;
  }
  if (!newlines) BIO_set_flags(b64.get(), BIO_FLAGS_BASE64_NO_NL);
  BIO_push(b64.get(), source);
  std::string out;
  char buffer[4096];
  for (;;) {
    const int n = BIO_read(b64.get(), buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace zv::json
