#include "json/CJSONSerializer.h"

#include <stdexcept>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "text/Unicode.h"

namespace zv::json {

namespace {

// Raised inside the writer when a value cannot be written; the public operations answer it
// as a Failure, so it never leaves this file.
class SerializeError : public std::runtime_error {
 public:
  SerializeError(JSONWriterCode code, const std::string& message)
      : std::runtime_error(message), code(code) {}
  JSONWriterCode code;
};

// The characters the writer escapes, each with the letter after its backslash; 0 for the
// characters written as they are (other control characters included).
struct EscapeTable {
  char code[256] = {};
  constexpr EscapeTable() {
    code[static_cast<unsigned char>('\\')] = '\\';
    code[static_cast<unsigned char>('"')] = '"';
    code[static_cast<unsigned char>('/')] = '/';
    code[static_cast<unsigned char>('\b')] = 'b';
    code[static_cast<unsigned char>('\f')] = 'f';
    code[static_cast<unsigned char>('\n')] = 'n';
    code[static_cast<unsigned char>('\r')] = 'r';
    code[static_cast<unsigned char>('\t')] = 't';
  }
};
constexpr EscapeTable kEscapes;

// The index of the first byte of text[from..] that is escaped, or text.size(). Byte by
// byte: the strings of a profile are mostly shorter than a word.
std::size_t firstEscape(std::string_view text, std::size_t from) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = from;
  while (i < text.size() && kEscapes.code[bytes[i]] == 0) ++i;
  return i;
}

// Appends to a string through a cursor: the string is grown ahead in large steps and cut
// to what was written when the writer ends (also when a SerializeError leaves it), so a
// byte costs a store instead of a capacity check and a terminator.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out), used_(out.size()) {}
  ~Writer() { out_.resize(used_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Room for at least `n` more bytes, at the cursor.
  char* room(std::size_t n) {
    if (out_.size() - used_ < n) out_.resize(std::max({used_ + n, 2 * out_.size(), kFirst}));
    return out_.data() + used_;
  }
  void advance(std::size_t n) { used_ += n; }
  void put(char c) {
    *room(1) = c;
    ++used_;
  }
  void put(const char* bytes, std::size_t n) {
    if (n != 0) std::memcpy(room(n), bytes, n);
    used_ += n;
  }

 private:
  static constexpr std::size_t kFirst = 256;
  std::string& out_;
  std::size_t used_;
};

void writeString(Writer& out, std::string_view text) {
  // Most strings need no escape: they are copied between the quotes as they are checked
  // (no call for a copy of a few bytes).
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  char* p = out.room(size + 2);
  *p++ = '"';
  std::size_t i = 0;
  for (; i < size && kEscapes.code[bytes[i]] == 0; ++i) p[i] = static_cast<char>(bytes[i]);
  if (i == size) {
    p[size] = '"';
    out.advance(size + 2);
    return;
  }
  out.advance(i + 1);
  std::size_t runStart = i;
  for (std::size_t escape = i; escape < size; escape = firstEscape(text, runStart)) {
    out.put(text.data() + runStart, escape - runStart);
    const char sequence[2] = {'\\', kEscapes.code[bytes[escape]]};
    out.put(sequence, 2);
    runStart = escape + 1;
  }
  out.put(text.data() + runStart, size - runStart);
  out.put('"');
}

void writeNumber(Writer& out, double number) {
  // Infinities (read from texts such as 1e999) are written so that they read back
  // as the same value; NaN has no JSON form and is written as null.
  if (std::isnan(number)) {
    out.put("null", 4);
    return;
  }
  if (std::isinf(number)) {
    if (number < 0) {
      out.put("-1e999", 6);
    } else {
      out.put("1e999", 5);
    }
    return;
  }
  char* buffer = out.room(32);
  auto [end, ec] = std::to_chars(buffer, buffer + 32, number);
  (void)ec;  // 32 bytes always hold the shortest form of a double
  // The reader's number characters have no '+', so "1e+21" would read back as 1:
  // exponents are written without it ("1e21").
  char* plus = std::find(buffer, end, '+');
  if (plus != end) end = std::copy(plus + 1, end, plus);
  out.advance(static_cast<std::size_t>(end - buffer));
}

void writeObject(Writer& out, const Value& value);

void writeArray(Writer& out, const Array& array) {
  out.put('[');
  bool first = true;
  for (const Value& item : array) {
    if (!first) out.put(',');
    first = false;
    writeObject(out, item);
  }
  out.put(']');
}

void writeDictionary(Writer& out, const Dictionary& dictionary) {
  out.put('{');
  bool first = true;
  for (const auto& [key, item] : dictionary) {
    if (!first) out.put(',');
    first = false;
    writeString(out, key);
    out.put(':');
    writeObject(out, item);
  }
  out.put('}');
}

void writeObject(Writer& out, const Value& value) {
  switch (value.type()) {
    case Value::Type::Null:
      out.put("null", 4);
      return;
    case Value::Type::Boolean:
      if (value.asBoolean()) {
        out.put("true", 4);
      } else {
        out.put("false", 5);
      }
      return;
    case Value::Type::Number:
      writeNumber(out, value.asNumber());
      return;
    case Value::Type::String:
      writeString(out, value.asString());
      return;
    case Value::Type::Array:
      writeArray(out, *value.asArray());
      return;
    case Value::Type::Dictionary:
      writeDictionary(out, *value.asDictionary());
      return;
    case Value::Type::Data: {
      const std::string& bytes = value.asData()->bytes;
      if (!text::isValidUtf8(bytes)) {
        throw SerializeError(kCannotSerializeObject, "Could not serialize object '<" +
                                                         std::to_string(bytes.size()) + " bytes>'");
      }
      writeString(out, bytes);
      return;
    }
    case Value::Type::Serialized: {
      const std::string& bytes = value.asSerialized()->bytes;
      out.put(bytes.data(), bytes.size());
      return;
    }
  }
  throw SerializeError(kCannotSerializeType,
                       "Cannot serialize data of type '" + std::string(value.typeName()) + "'");
}

}  // namespace

void CJSONDataSerializer::appendString(std::string& out, std::string_view text) {
  Writer writer(out);
  writeString(writer, text);
}

void CJSONDataSerializer::appendNumber(std::string& out, double number) {
  Writer writer(out);
  writeNumber(writer, number);
}

base::Result<void> CJSONDataSerializer::appendObject(std::string& out, const Value& value) {
  const std::size_t before = out.size();
  try {
    Writer writer(out);
    writeObject(writer, value);
    return {};
  } catch (const SerializeError& error) {
    out.resize(before);
    return base::Failure{kJSONWriterDomain, error.code, error.what()};
  }
}

namespace {

// Runs one writer over a fresh buffer and answers the text, or the writer's failure.
template <typename Write>
base::Result<std::string> written(Write write) {
  std::string out;
  try {
    {
      Writer writer(out);
      write(writer);
    }
    return out;
  } catch (const SerializeError& error) {
    return base::Failure{kJSONWriterDomain, error.code, error.what()};
  }
}

}  // namespace

base::Result<std::string> CJSONDataSerializer::serializeObject(const Value& value) const {
  return written([&](Writer& writer) { writeObject(writer, value); });
}

base::Result<std::string> CJSONDataSerializer::serializeArray(const Array& array) const {
  return written([&](Writer& writer) { writeArray(writer, array); });
}

base::Result<std::string> CJSONDataSerializer::serializeDictionary(
    const Dictionary& dictionary) const {
  return written([&](Writer& writer) { writeDictionary(writer, dictionary); });
}

}  // namespace zv::json
