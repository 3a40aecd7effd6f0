#include "platform/linux/BusValues.h"

#include <cerrno>
#include <cmath>
#include <limits>

#include "platform/linux/BusConnection.h"

namespace zv::platform {

namespace {

// The kernel's largest process id (PID_MAX_LIMIT on 64-bit systems).
constexpr std::int64_t kMaxPid = 4194304;
// Names and paths longer than this are not what a desktop reports.
constexpr std::size_t kMaxText = 4096;

class Reader {
 public:
  explicit Reader(sd_bus_message* message) : message_(message) {}

  // Reads the values of the current container (or of the message) into `into`.
  int readAll(std::vector<BusValue>& into, std::size_t depth) {
    if (depth > kMaxBusDepth) return -E2BIG;
    for (;;) {
      char type = 0;
      const char* contents = nullptr;
      int r = sd_bus_message_peek_type(message_, &type, &contents);
      if (r <= 0) return r;
      if (++count_ > kMaxBusValues) return -E2BIG;
      BusValue value;
      value.type = type;
      if (type == SD_BUS_TYPE_ARRAY || type == SD_BUS_TYPE_STRUCT ||
          type == SD_BUS_TYPE_DICT_ENTRY || type == SD_BUS_TYPE_VARIANT) {
        r = sd_bus_message_enter_container(message_, type, contents);
        if (r <= 0) return r < 0 ? r : -EBADMSG;
        r = readAll(value.items, depth + 1);
        if (r < 0) return r;
        r = sd_bus_message_exit_container(message_);
        if (r < 0) return r;
      } else {
        r = readBasic(type, value);
        if (r <= 0) return r < 0 ? r : -EBADMSG;
      }
      into.push_back(std::move(value));
    }
  }

 private:
  int readBasic(char type, BusValue& value) {
    union {
      std::uint8_t y;
      int b;
      std::int16_t n;
      std::uint16_t q;
      std::int32_t i;
      std::uint32_t u;
      std::int64_t x;
      std::uint64_t t;
      double d;
      const char* s;
      int h;
    } raw{};
    const int r = sd_bus_message_read_basic(message_, type, &raw);
    if (r <= 0) return r;
    switch (type) {
      case SD_BUS_TYPE_BYTE:
        value.integer = raw.y;
        break;
      case SD_BUS_TYPE_BOOLEAN:
        value.integer = raw.b ? 1 : 0;
        break;
      case SD_BUS_TYPE_INT16:
        value.integer = raw.n;
        break;
      case SD_BUS_TYPE_UINT16:
        value.integer = raw.q;
        break;
      case SD_BUS_TYPE_INT32:
        value.integer = raw.i;
        break;
      case SD_BUS_TYPE_UINT32:
        value.integer = raw.u;
        break;
      case SD_BUS_TYPE_INT64:
        value.integer = raw.x;
        break;
      case SD_BUS_TYPE_UINT64:
        if (raw.t <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
          value.integer = static_cast<std::int64_t>(raw.t);
        break;
      case SD_BUS_TYPE_DOUBLE:
        value.number = raw.d;
        break;
      case SD_BUS_TYPE_STRING:
      case SD_BUS_TYPE_OBJECT_PATH:
      case SD_BUS_TYPE_SIGNATURE:
        value.text = raw.s ? raw.s : "";
        break;
      default:  // a file descriptor: nothing we use; sd-bus keeps and closes it
        break;
    }
    return 1;
  }

  sd_bus_message* message_;
  std::size_t count_ = 0;
};

}  // namespace

const BusValue& BusValue::unwrapped() const {
  const BusValue* value = this;
  // Variants nest at most as deep as the reader went.
  while (value->type == SD_BUS_TYPE_VARIANT && value->items.size() == 1) value = &value->items[0];
  return *value;
}

std::optional<std::int64_t> BusValue::asInteger() const {
  const BusValue& value = unwrapped();
  if (value.integer) return value.integer;
  if (value.type == SD_BUS_TYPE_DOUBLE && std::isfinite(value.number) &&
      value.number == std::trunc(value.number) && std::fabs(value.number) < 9.0e15) {
    return static_cast<std::int64_t>(value.number);
  }
  return std::nullopt;
}

const std::string* BusValue::asText() const {
  const BusValue& value = unwrapped();
  if (value.type == SD_BUS_TYPE_STRING || value.type == SD_BUS_TYPE_OBJECT_PATH ||
      value.type == SD_BUS_TYPE_SIGNATURE) {
    return &value.text;
  }
  return nullptr;
}

std::optional<bool> BusValue::asBool() const {
  const auto integer = asInteger();
  if (!integer) return std::nullopt;
  return *integer != 0;
}

const BusValue* BusValue::member(std::string_view key) const {
  const BusValue& dictionary = unwrapped();
  if (dictionary.type != SD_BUS_TYPE_ARRAY) return nullptr;
  for (const BusValue& entry : dictionary.items) {
    if (entry.type != SD_BUS_TYPE_DICT_ENTRY || entry.items.size() != 2) continue;
    const std::string* name = entry.items[0].asText();
    if (name && *name == key) return &entry.items[1].unwrapped();
  }
  return nullptr;
}

base::Result<std::vector<BusValue>> readBusValues(sd_bus_message* message) {
  std::vector<BusValue> values;
  int r = sd_bus_message_rewind(message, 1);
  if (r >= 0) r = Reader(message).readAll(values, 0);
  sd_bus_message_rewind(message, 1);
  if (r < 0) return busFailure(nullptr, r, "cannot read the message's arguments");
  return values;
}

std::optional<FocusReport> focusReportFromValues(const std::vector<BusValue>& values,
                                                 bool withExecutable) {
  if (values.empty()) return std::nullopt;
  const auto pid = values[0].asInteger();
  if (!pid || *pid < 0 || *pid > kMaxPid) return std::nullopt;
  FocusReport report;
  report.pid = static_cast<std::int32_t>(*pid);
  const std::string* texts[2] = {nullptr, nullptr};
  for (std::size_t i = 1; i < values.size() && i < 3; ++i) {
    texts[i - 1] = values[i].asText();
    if (!texts[i - 1]) return std::nullopt;
  }
  const std::string* executable = withExecutable ? texts[0] : nullptr;
  const std::string* name = withExecutable ? texts[1] : texts[0];
  if (executable && executable->starts_with('/') && executable->size() <= kMaxText &&
      executable->find('\0') == std::string::npos) {
    report.executable = *executable;
  }
  if (name && name->size() <= kMaxText) report.name = *name;
  return report;
}

}  // namespace zv::platform
