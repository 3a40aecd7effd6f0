// The user-client protocol between zenvor-driver and its clients (the device library, the
// kinetra tool). Header-only: both sides compile this file; neither links the other.
//
// Transport
// ---------
// One zenvor-driver process serves one mouse on a Unix-domain SOCK_SEQPACKET socket named
//
//     <services folder>/<driver class>@<device id>
//
//   services folder  $KINETRA_SERVICES_DIR, else /run/kinetra/services (servicesFolder())
//   driver class     "com_Zenvor_driver_usb_Skarn" (USB) or "com_Zenvor_driver_bt_Skarn"
//                    (Bluetooth): the class the library looks for by name
//   device id        the kernel name of the mouse's hidraw node ("hidraw3"), or
//                    "simulated-PPPP" (product ID, 4 lower-case hex digits) for a daemon
//                    started with --simulate
//
// e.g. /run/kinetra/services/com_Zenvor_driver_usb_Skarn@hidraw3. Connecting is opening
// the user client (connection type 0). Every message is one packet (one send, one recv);
// all numbers are little-endian. A peer never has to reassemble anything.
//
// Conversation
// ------------
// 1. The daemon answers every connection with a greeting frame. Its result is 0 when the
//    connection is accepted, kReturnNotPrivileged when the peer's uid may not use the
//    device (the daemon closes the socket right after). Only root, the daemon's own user
//    and the user of the active session on the device's seat are accepted.
// 2. The client sends call frames; each is answered by exactly one reply frame, in order.
//    A client may have one call outstanding: the daemon reads the next call only after it
//    has replied to the previous one.
// 3. After a successful method 2 (sSetElementEventCallback) the daemon sends completion
//    frames, one per element event, at any time: also between a call and its reply, so a
//    client waiting for a reply must set completions aside (or handle them) as they come.
//
// A frame the daemon cannot decode (wrong kind, wrong length, counts beyond the limits
// below) closes that client's connection, never the daemon. A well-formed call whose
// counts differ from the method's shape is answered with kReturnBadArgument and the method
// does not run. Method numbers of kMethodCount and above are answered with
// kReturnUnsupported. A client that stops reading is disconnected once kMaxQueuedFrames
// frames wait for it; the mouse never waits for a client.
//
// Frames
// ------
//   greeting   (daemon → client, 16 bytes)
//     0  u32 kind = kGreetingFrame
//     4  u32 protocol version (kProtocolVersion)
//     8  u32 result: kReturnSuccess or kReturnNotPrivileged
//     12 u32 0
//
//   call       (client → daemon, 40 bytes + 8 × scalar count + structure size)
//     0  u32 kind = kCallFrame
//     4  u32 method number
//     8  u32 tag: any value; the reply carries it back
//     12 u32 input scalar count            (at most kMaxScalars)
//     16 u32 input structure size, bytes   (at most kMaxStructSize)
//     20 u32 output scalar count expected  (at most kMaxScalars)
//     24 u32 output structure size expected (at most kMaxStructSize)
//     28 u32 0
//     32 u64 reference: for method 2, the value every completion carries back (the
//            library passes its interface there); ignored by the other methods
//     40 the input scalars (u64 each), then the input structure's bytes
//
//   reply      (daemon → client, 24 bytes + 8 × scalar count + structure size)
//     0  u32 kind = kReplyFrame
//     4  u32 method number of the call
//     8  u32 tag of the call
//     12 u32 result (return codes below)
//     16 u32 output scalar count    (the method's shape when the method ran, also when it
//                                    reports a failure; 0 when the call was refused)
//     20 u32 output structure size  (likewise)
//     24 the output scalars (u64 each), then the output structure's bytes
//
//   completion (daemon → client, 72 bytes): one element event
//     0  u32 kind = kCompletionFrame
//     4  u32 result = 0
//     8  u32 argument count = 6
//     12 u32 0
//     16 u64 reference given with method 2
//     24 6 × u64 arguments: element (page << 16 | usage), its current value, its bit size
//        in the report, 0, 0, 0
//   A receiver ignores a completion whose argument count is not 6.
//
// Methods (kMethodShapes gives the exact counts the daemon checks)
// -------
//   0  sUserClientOpen            none; succeeds
//   1  sUserClientClose           none; succeeds (closing the socket is what ends the client)
//   2  sSetElementEventCallback   registers this connection for completions
//   3  sGetDeviceInfo             out: ZVDeviceInfo (20 bytes): vendor, product and the
//                                 device's type word (read once when the driver starts)
//   4  sElementOverride           in: element, enable (non-zero = on). Overrides the element
//                                 and at once sends its current value as an element event
//   5  sControlRequest            in: ZVControlRequest (48 bytes); out: the data word (8
//                                 bytes). Device-to-host requests (requestType bit 7 set)
//                                 are carried out on USB; host-to-device ones only for a
//                                 root peer (else kReturnNotPrivileged). More than 8 data
//                                 bytes: kReturnBadArgument. A failed transfer:
//                                 kReturnError; no USB access: kReturnNotAttached.
//                                 Bluetooth: nothing is sent, the data word comes back as
//                                 given
//   6  sSeizeOverrides            in: seize. Non-zero: only this client gets element events;
//                                 0: every registered client gets them again. A client that
//                                 disconnects gives the exclusive interface up
//   7  sUserClientIsActive        out: 1 when this client holds the exclusive interface, else 0
//   8  sSetPrecAim                in: percentage, element (0 keeps the precision element)
//   9  sSetCPI                    in: x, y, mode; none; succeeds
//   10 sSetMouseAxis              in: element, axis (1 = X, 2 = Y, other = none)
//   11 sSetMouseAxisSensitivity   in: sensitivity, axis; none; succeeds
//   12 sReportAllElementEvents    in: one scalar; none; succeeds
//   13 sSetHatControl             in: element
//   14 sGetFeatureByte            in: report ID (low 8 bits); out: byte 1 of that feature
//                                 report read into 8 zeroed bytes (0 when it is shorter);
//                                 kReturnError (and 0) when the device does not answer
//   15 sSetButtonStates           in: button bits, forced on in every report
// Elements the device does not have are ignored (the call still succeeds). Overrides, axes,
// the hat, precision and forced buttons belong to the device, not to the client: they stay
// when the client that set them disconnects.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zv::userclient {

inline constexpr std::uint32_t kProtocolVersion = 1;

// ---- Names -----------------------------------------------------------------------------

inline constexpr std::string_view kUsbDriverClass = "com_Zenvor_driver_usb_Skarn";
inline constexpr std::string_view kBluetoothDriverClass = "com_Zenvor_driver_bt_Skarn";
inline constexpr std::string_view kUserClientClass = "com_Zenvor_userclient_Skarn";

inline constexpr const char* kServicesFolderVariable = "KINETRA_SERVICES_DIR";
inline constexpr const char* kDefaultServicesFolder = "/run/kinetra/services";

// $KINETRA_SERVICES_DIR when set and not empty, else /run/kinetra/services.
inline std::string servicesFolder() {
  const char* value = std::getenv(kServicesFolderVariable);
  return value && *value ? std::string(value) : std::string(kDefaultServicesFolder);
}

// "<class>@<device id>"
inline std::string serviceName(std::string_view driverClass, std::string_view deviceId) {
  std::string name(driverClass);
  name += '@';
  name += deviceId;
  return name;
}

// "<folder>/<class>@<device id>"
inline std::string servicePath(std::string_view folder, std::string_view driverClass,
                               std::string_view deviceId) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + serviceName(driverClass, deviceId);
}

struct ServiceName {
  std::string driverClass;
  std::string deviceId;
};

// Splits "<class>@<device id>" at its first '@'; nothing when either part is empty or the
// name holds a '/'.
inline std::optional<ServiceName> parseServiceName(std::string_view name) {
  const std::size_t at = name.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == name.size()) return std::nullopt;
  if (name.find('/') != std::string_view::npos) return std::nullopt;
  return ServiceName{std::string(name.substr(0, at)), std::string(name.substr(at + 1))};
}

// ---- Methods ---------------------------------------------------------------------------

enum Method : std::uint32_t {
  sUserClientOpen = 0,
  sUserClientClose = 1,
  sSetElementEventCallback = 2,
  sGetDeviceInfo = 3,
  sElementOverride = 4,
  sControlRequest = 5,
  sSeizeOverrides = 6,
  sUserClientIsActive = 7,
  sSetPrecAim = 8,
  sSetCPI = 9,
  sSetMouseAxis = 10,
  sSetMouseAxisSensitivity = 11,
  sReportAllElementEvents = 12,
  sSetHatControl = 13,
  sGetFeatureByte = 14,
  sSetButtonStates = 15,
};
inline constexpr std::uint32_t kMethodCount = 16;

// The exact counts a call of the method must give: input scalars, input structure bytes,
// output scalars, output structure bytes.
struct MethodShape {
  const char* name;
  std::uint32_t scalarsIn;
  std::uint32_t structIn;
  std::uint32_t scalarsOut;
  std::uint32_t structOut;
};

inline constexpr std::size_t kControlRequestSize = 48;
inline constexpr std::size_t kDeviceInfoSize = 20;

inline constexpr MethodShape kMethodShapes[kMethodCount] = {
    {"sUserClientOpen", 0, 0, 0, 0},
    {"sUserClientClose", 0, 0, 0, 0},
    {"sSetElementEventCallback", 0, 0, 0, 0},
    {"sGetDeviceInfo", 0, 0, 0, kDeviceInfoSize},
    {"sElementOverride", 2, 0, 0, 0},
    {"sControlRequest", 0, kControlRequestSize, 0, 8},
    {"sSeizeOverrides", 1, 0, 0, 0},
    {"sUserClientIsActive", 0, 0, 1, 0},
    {"sSetPrecAim", 2, 0, 0, 0},
    {"sSetCPI", 3, 0, 0, 0},
    {"sSetMouseAxis", 2, 0, 0, 0},
    {"sSetMouseAxisSensitivity", 2, 0, 0, 0},
    {"sReportAllElementEvents", 1, 0, 0, 0},
    {"sSetHatControl", 1, 0, 0, 0},
    {"sGetFeatureByte", 1, 0, 1, 0},
    {"sSetButtonStates", 1, 0, 0, 0},
};

// The method's name, or nullptr for numbers of kMethodCount and above.
constexpr const char* methodName(std::uint32_t method) {
  return method < kMethodCount ? kMethodShapes[method].name : nullptr;
}

// ---- Return codes ----------------------------------------------------------------------

inline constexpr std::uint32_t kReturnSuccess = 0;
inline constexpr std::uint32_t kReturnError = 0xE00002BC;          // general failure
inline constexpr std::uint32_t kReturnNoMemory = 0xE00002BD;       // out of memory
inline constexpr std::uint32_t kReturnNotPrivileged = 0xE00002C1;  // peer may not do this
inline constexpr std::uint32_t kReturnBadArgument = 0xE00002C2;    // counts differ from shape
inline constexpr std::uint32_t kReturnUnsupported = 0xE00002C7;    // no such method
inline constexpr std::uint32_t kReturnNotAttached = 0xE00002D9;    // the device is gone

constexpr const char* returnCodeName(std::uint32_t code) {
  switch (code) {
    case kReturnSuccess:
      return "success";
    case kReturnError:
      return "general error";
    case kReturnNoMemory:
      return "out of memory";
    case kReturnNotPrivileged:
      return "not privileged";
    case kReturnBadArgument:
      return "bad argument (counts differ from the method's shape)";
    case kReturnUnsupported:
      return "unsupported method";
    case kReturnNotAttached:
      return "device not attached";
    default:
      return "unknown code";
  }
}

// ---- Records ---------------------------------------------------------------------------

namespace wire {
inline void putU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint32_t getU32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}
inline std::uint64_t getU64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}
}  // namespace wire

// A USB control request: six little-endian u64 words. Only the low bits named count.
struct ZVControlRequest {
  std::uint64_t requestType = 0;  // low 8 bits; bit 7 set = device to host
  std::uint64_t request = 0;      // low 8 bits
  std::uint64_t value = 0;        // low 16 bits
  std::uint64_t index = 0;        // low 16 bits
  std::uint64_t length = 0;       // low 16 bits: data bytes (at most 8 fit the data word)
  std::uint64_t data = 0;         // the data word; a device-to-host request fills it

  bool deviceToHost() const { return (requestType & 0x80) != 0; }

  std::array<std::uint8_t, kControlRequestSize> encode() const {
    std::array<std::uint8_t, kControlRequestSize> bytes{};
    const std::uint64_t words[6] = {requestType, request, value, index, length, data};
    for (int i = 0; i < 6; ++i) wire::putU64(bytes.data() + 8 * i, words[i]);
    return bytes;
  }
  // Nothing unless exactly kControlRequestSize bytes are given.
  static std::optional<ZVControlRequest> decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kControlRequestSize) return std::nullopt;
    ZVControlRequest r;
    std::uint64_t* words[6] = {&r.requestType, &r.request, &r.value, &r.index, &r.length, &r.data};
    for (int i = 0; i < 6; ++i) *words[i] = wire::getU64(bytes.data() + 8 * i);
    return r;
  }
};

// What sGetDeviceInfo answers: 20 bytes, little-endian.
struct ZVDeviceInfo {
  std::uint64_t vendorID = 0;   // offset 0
  std::uint64_t productID = 0;  // offset 8
  std::uint32_t typeID = 0;     // offset 16: the device's own type word (0 on Bluetooth)

  std::array<std::uint8_t, kDeviceInfoSize> encode() const {
    std::array<std::uint8_t, kDeviceInfoSize> bytes{};
    wire::putU64(bytes.data(), vendorID);
    wire::putU64(bytes.data() + 8, productID);
    wire::putU32(bytes.data() + 16, typeID);
    return bytes;
  }
  static std::optional<ZVDeviceInfo> decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kDeviceInfoSize) return std::nullopt;
    return ZVDeviceInfo{wire::getU64(bytes.data()), wire::getU64(bytes.data() + 8),
                        wire::getU32(bytes.data() + 16)};
  }
};

// ---- Frames ----------------------------------------------------------------------------

enum FrameKind : std::uint32_t {
  kGreetingFrame = 1,
  kCallFrame = 2,
  kReplyFrame = 3,
  kCompletionFrame = 4,
};

inline constexpr std::uint32_t kMaxScalars = 16;
inline constexpr std::uint32_t kMaxStructSize = 4096;
inline constexpr std::size_t kGreetingSize = 16;
inline constexpr std::size_t kCallHeaderSize = 40;
inline constexpr std::size_t kReplyHeaderSize = 24;
inline constexpr std::size_t kCompletionSize = 72;
inline constexpr std::size_t kCompletionArguments = 6;
// No frame of either side is longer; a receive buffer of this size never truncates one.
inline constexpr std::size_t kMaxFrameSize = kCallHeaderSize + 8 * kMaxScalars + kMaxStructSize;
// Frames that may wait for a client that does not read before it is disconnected.
inline constexpr std::size_t kMaxQueuedFrames = 1024;

// The kind of a frame, or 0 when it is shorter than a kind word.
inline std::uint32_t frameKind(std::span<const std::uint8_t> frame) {
  return frame.size() < 4 ? 0 : wire::getU32(frame.data());
}

struct Greeting {
  std::uint32_t version = kProtocolVersion;
  std::uint32_t result = kReturnSuccess;
};

inline std::array<std::uint8_t, kGreetingSize> encodeGreeting(const Greeting& g) {
  std::array<std::uint8_t, kGreetingSize> bytes{};
  wire::putU32(bytes.data(), kGreetingFrame);
  wire::putU32(bytes.data() + 4, g.version);
  wire::putU32(bytes.data() + 8, g.result);
  return bytes;
}

inline std::optional<Greeting> decodeGreeting(std::span<const std::uint8_t> frame) {
  if (frame.size() != kGreetingSize || frameKind(frame) != kGreetingFrame) return std::nullopt;
  return Greeting{wire::getU32(frame.data() + 4), wire::getU32(frame.data() + 8)};
}

struct Call {
  std::uint32_t method = 0;
  std::uint32_t tag = 0;
  std::vector<std::uint64_t> scalars;
  std::vector<std::uint8_t> structure;
  std::uint32_t scalarsOut = 0;
  std::uint32_t structOut = 0;
  std::uint64_t reference = 0;
};

// A call frame. The counts are the caller's: encodeCall does not check them against the
// method's shape (kinetra driver call uses that to send any shape), only against the limits;
// it answers an empty vector when they are exceeded.
inline std::vector<std::uint8_t> encodeCall(const Call& c) {
  if (c.scalars.size() > kMaxScalars || c.structure.size() > kMaxStructSize ||
      c.scalarsOut > kMaxScalars || c.structOut > kMaxStructSize) {
    return {};
  }
  std::vector<std::uint8_t> bytes(kCallHeaderSize + 8 * c.scalars.size() + c.structure.size());
  std::uint8_t* p = bytes.data();
  wire::putU32(p, kCallFrame);
  wire::putU32(p + 4, c.method);
  wire::putU32(p + 8, c.tag);
  wire::putU32(p + 12, static_cast<std::uint32_t>(c.scalars.size()));
  wire::putU32(p + 16, static_cast<std::uint32_t>(c.structure.size()));
  wire::putU32(p + 20, c.scalarsOut);
  wire::putU32(p + 24, c.structOut);
  wire::putU64(p + 32, c.reference);
  p += kCallHeaderSize;
  for (std::uint64_t s : c.scalars) {
    wire::putU64(p, s);
    p += 8;
  }
  for (std::uint8_t b : c.structure) *p++ = b;
  return bytes;
}

// Decodes a call frame; on failure answers nothing and says why in *error (when given).
// The method number and the counts are not checked against the table here: see
// checkShape.
inline std::optional<Call> decodeCall(std::span<const std::uint8_t> frame,
                                      std::string* error = nullptr) {
  auto fail = [&](const char* why) -> std::optional<Call> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (frame.size() < kCallHeaderSize) return fail("call frame shorter than its header");
  const std::uint8_t* p = frame.data();
  if (wire::getU32(p) != kCallFrame) return fail("not a call frame");
  Call c;
  c.method = wire::getU32(p + 4);
  c.tag = wire::getU32(p + 8);
  const std::uint32_t scalarCount = wire::getU32(p + 12);
  const std::uint32_t structSize = wire::getU32(p + 16);
  c.scalarsOut = wire::getU32(p + 20);
  c.structOut = wire::getU32(p + 24);
  if (wire::getU32(p + 28) != 0) return fail("reserved call header word is not 0");
  c.reference = wire::getU64(p + 32);
  if (scalarCount > kMaxScalars || c.scalarsOut > kMaxScalars) {
    return fail("scalar count beyond the limit");
  }
  if (structSize > kMaxStructSize || c.structOut > kMaxStructSize) {
    return fail("structure size beyond the limit");
  }
  if (frame.size() != kCallHeaderSize + 8 * std::size_t{scalarCount} + structSize) {
    return fail("call frame length differs from its counts");
  }
  p += kCallHeaderSize;
  c.scalars.resize(scalarCount);
  for (std::uint32_t i = 0; i < scalarCount; ++i, p += 8) c.scalars[i] = wire::getU64(p);
  c.structure.assign(p, p + structSize);
  return c;
}

// kReturnSuccess when the call's four counts equal the method's shape, kReturnUnsupported
// for method numbers of kMethodCount and above, else kReturnBadArgument.
inline std::uint32_t checkShape(const Call& c) {
  if (c.method >= kMethodCount) return kReturnUnsupported;
  const MethodShape& s = kMethodShapes[c.method];
  if (c.scalars.size() != s.scalarsIn || c.structure.size() != s.structIn ||
      c.scalarsOut != s.scalarsOut || c.structOut != s.structOut) {
    return kReturnBadArgument;
  }
  return kReturnSuccess;
}

struct Reply {
  std::uint32_t method = 0;
  std::uint32_t tag = 0;
  std::uint32_t result = kReturnSuccess;
  std::vector<std::uint64_t> scalars;
  std::vector<std::uint8_t> structure;
};

// Answers an empty vector when the outputs exceed the limits.
inline std::vector<std::uint8_t> encodeReply(const Reply& r) {
  if (r.scalars.size() > kMaxScalars || r.structure.size() > kMaxStructSize) return {};
  std::vector<std::uint8_t> bytes(kReplyHeaderSize + 8 * r.scalars.size() + r.structure.size());
  std::uint8_t* p = bytes.data();
  wire::putU32(p, kReplyFrame);
  wire::putU32(p + 4, r.method);
  wire::putU32(p + 8, r.tag);
  wire::putU32(p + 12, r.result);
  wire::putU32(p + 16, static_cast<std::uint32_t>(r.scalars.size()));
  wire::putU32(p + 20, static_cast<std::uint32_t>(r.structure.size()));
  p += kReplyHeaderSize;
  for (std::uint64_t s : r.scalars) {
    wire::putU64(p, s);
    p += 8;
  }
  for (std::uint8_t b : r.structure) *p++ = b;
  return bytes;
}

inline std::optional<Reply> decodeReply(std::span<const std::uint8_t> frame,
                                        std::string* error = nullptr) {
  auto fail = [&](const char* why) -> std::optional<Reply> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (frame.size() < kReplyHeaderSize) return fail("reply frame shorter than its header");
  const std::uint8_t* p = frame.data();
  if (wire::getU32(p) != kReplyFrame) return fail("not a reply frame");
  Reply r;
  r.method = wire::getU32(p + 4);
  r.tag = wire::getU32(p + 8);
  r.result = wire::getU32(p + 12);
  const std::uint32_t scalarCount = wire::getU32(p + 16);
  const std::uint32_t structSize = wire::getU32(p + 20);
  if (scalarCount > kMaxScalars || structSize > kMaxStructSize) {
    return fail("reply counts beyond the limits");
  }
  if (frame.size() != kReplyHeaderSize + 8 * std::size_t{scalarCount} + structSize) {
    return fail("reply frame length differs from its counts");
  }
  p += kReplyHeaderSize;
  r.scalars.resize(scalarCount);
  for (std::uint32_t i = 0; i < scalarCount; ++i, p += 8) r.scalars[i] = wire::getU64(p);
  r.structure.assign(p, p + structSize);
  return r;
}

// One element event as carried by a completion frame.
struct Completion {
  std::uint32_t result = kReturnSuccess;
  std::uint64_t reference = 0;
  std::uint32_t argumentCount = kCompletionArguments;
  std::array<std::uint64_t, kCompletionArguments> arguments{};

  std::uint32_t element() const { return static_cast<std::uint32_t>(arguments[0]); }
  std::uint64_t value() const { return arguments[1]; }
  std::uint32_t bitSize() const { return static_cast<std::uint32_t>(arguments[2]); }
};

// The element-event completion. Allocation-free: the daemon builds it on the report path.
inline std::array<std::uint8_t, kCompletionSize> encodeCompletion(std::uint64_t reference,
                                                                  std::uint32_t element,
                                                                  std::uint64_t value,
                                                                  std::uint32_t bitSize) {
  std::array<std::uint8_t, kCompletionSize> bytes{};
  std::uint8_t* p = bytes.data();
  wire::putU32(p, kCompletionFrame);
  wire::putU32(p + 4, kReturnSuccess);
  wire::putU32(p + 8, kCompletionArguments);
  wire::putU64(p + 16, reference);
  wire::putU64(p + 24, element);
  wire::putU64(p + 32, value);
  wire::putU64(p + 40, bitSize);
  return bytes;
}

// Decodes a completion frame of any argument count up to six (the receiver then ignores
// those whose count is not 6); nothing for anything else.
inline std::optional<Completion> decodeCompletion(std::span<const std::uint8_t> frame) {
  if (frame.size() < 24 || frameKind(frame) != kCompletionFrame) return std::nullopt;
  Completion c;
  c.result = wire::getU32(frame.data() + 4);
  c.argumentCount = wire::getU32(frame.data() + 8);
  if (c.argumentCount > kCompletionArguments || frame.size() != 24 + 8 * c.argumentCount) {
    return std::nullopt;
  }
  c.reference = wire::getU64(frame.data() + 16);
  for (std::uint32_t i = 0; i < c.argumentCount; ++i) {
    c.arguments[i] = wire::getU64(frame.data() + 24 + 8 * i);
  }
  return c;
}

}  // namespace zv::userclient
