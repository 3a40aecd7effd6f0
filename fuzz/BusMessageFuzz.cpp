// Any arguments a peer on the session bus can send, as the focus providers, the
// status-notifier watch and the GNOME Shell extension list read them: the input chooses a
// signature (any, also a nonsensical one) and the values to fill it, sd-bus builds the
// message as it would arrive, and every reader runs over it. Reading must not crash, hang
// or grow without bound, and a message sd-bus refuses to build is simply not read.
//
// Input: one byte N, N bytes of signature, then the values in order (numbers as little-
// endian bytes, strings as a length byte and their bytes, array lengths as one byte,
// variants as an index into a table of signatures).
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/linux/BusValues.h"
#include "platform/linux/GnomeShellExtensions.h"

using namespace zv::platform;

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint64_t number(int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t{byte()} << (8 * i);
    return value;
  }
  std::string text() {
    std::string value;
    for (std::uint8_t n = byte(); n > 0 && at_ < size_; --n) value += static_cast<char>(byte());
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The length of the one complete type at the start of `signature`; 0 when there is none.
std::size_t completeType(const char* signature) {
  switch (*signature) {
    case 'a': {
      const std::size_t element = completeType(signature + 1);
      return element ? element + 1 : 0;
    }
    case '(':
    case '{': {
      const char close = *signature == '(' ? ')' : '}';
      std::size_t length = 1;
      while (signature[length] && signature[length] != close) {
        const std::size_t member = completeType(signature + length);
        if (!member) return 0;
        length += member;
      }
      return signature[length] == close ? length + 1 : 0;
    }
    case '\0':
      return 0;
    default:
      return std::strchr("ybnqiuxtdsogv", *signature) ? 1 : 0;
  }
}

constexpr const char* kVariantTypes[] = {"u", "i", "s", "d", "b", "x", "as", "a{sv}", "(us)", "v"};

// Appends one value of the complete type `type`.
int append(sd_bus_message* m, const std::string& type, Input& in, int depth) {
  if (depth > 20) return -1;
  const char letter = type[0];
  switch (letter) {
    case 'y': {
      const std::uint8_t v = in.byte();
      return sd_bus_message_append_basic(m, letter, &v);
    }
    case 'b': {
      const int v = in.byte() & 1;
      return sd_bus_message_append_basic(m, letter, &v);
    }
    case 'n':
    case 'q': {
      const auto v = static_cast<std::uint16_t>(in.number(2));
      return sd_bus_message_append_basic(m, letter, &v);
    }
    case 'i':
    case 'u': {
      const auto v = static_cast<std::uint32_t>(in.number(4));
      return sd_bus_message_append_basic(m, letter, &v);
    }
    case 'x':
    case 't': {
      const std::uint64_t v = in.number(8);
      return sd_bus_message_append_basic(m, letter, &v);
    }
    case 'd': {
      const std::uint64_t bits = in.number(8);
      double v;
      std::memcpy(&v, &bits, sizeof v);
      return sd_bus_message_append_basic(m, letter, &v);
    }
    case 's':
    case 'o':
    case 'g': {
      const std::string v = in.text();
      return sd_bus_message_append_basic(m, letter, v.c_str());
    }
    case 'v': {
      const char* contents = kVariantTypes[in.byte() % std::size(kVariantTypes)];
      int r = sd_bus_message_open_container(m, 'v', contents);
      if (r >= 0) r = append(m, contents, in, depth + 1);
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
    case 'a': {
      const std::string element = type.substr(1);
      int r = sd_bus_message_open_container(m, 'a', element.c_str());
      for (int n = in.byte() % 5; r >= 0 && n > 0; --n) r = append(m, element, in, depth + 1);
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
    default: {  // ( … ) or { … }
      const std::string contents = type.substr(1, type.size() - 2);
      int r = sd_bus_message_open_container(m, letter == '(' ? 'r' : 'e', contents.c_str());
      for (std::size_t at = 0; r >= 0 && at < contents.size();) {
        const std::size_t length = completeType(contents.c_str() + at);
        r = append(m, contents.substr(at, length), in, depth + 1);
        at += length;
      }
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
  }
}

// A bus that is started (so that sd-bus makes messages) but never talks to anyone.
sd_bus* quietBus() {
  static sd_bus* bus = [] {
    int fds[2];
    sd_bus* b = nullptr;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return b;
    if (sd_bus_new(&b) < 0 || sd_bus_set_fd(b, fds[0], fds[0]) < 0 || sd_bus_start(b) < 0) {
      return static_cast<sd_bus*>(nullptr);
    }
    return b;
  }();
  return bus;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sd_bus* bus = quietBus();
  if (!bus) return 0;
  Input in(data, size);
  const std::string signature = in.text();
  sd_bus_message* m = nullptr;
  if (sd_bus_message_new_signal(bus, &m, "/com/zenvor/Kinetra/Focus", "com.zenvor.Kinetra.Focus1",
                                "FocusChanged") < 0) {
    return 0;
  }
  int r = 0;
  for (std::size_t at = 0; r >= 0 && at < signature.size();) {
    const std::size_t length = completeType(signature.c_str() + at);
    if (!length) break;
    r = append(m, signature.substr(at, length), in, 0);
    at += length;
  }
  static std::uint64_t cookie = 0;
  if (r >= 0 && sd_bus_message_seal(m, ++cookie, 0) >= 0) {
    if (const auto values = readBusValues(m)) {
      focusReportFromValues(*values, true);
      focusReportFromValues(*values, false);
      extensionInfoFromValues(*values);
      for (const BusValue& value : *values) {
        value.asBool();
        value.member("state");
      }
    }
  }
  sd_bus_message_unref(m);
  return 0;
}
