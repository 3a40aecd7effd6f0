// Reads a report descriptor from a file, in either of two forms:
//   - the raw bytes, as the kernel shows a device's descriptor
//     (/sys/class/hidraw/hidrawN/device/report_descriptor);
//   - text: hex bytes separated by blanks, line ends or commas, with '#' starting a comment
//     that runs to the end of the line (the form of data/mice/*.hid).
// A file is read as text when every byte is printable ASCII or white space; a real
// descriptor always holds other bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv::driver::replay {

// Files longer than this are refused (a descriptor has at most 4096 bytes; its text form
// with comments fits easily).
inline constexpr std::size_t kMaxDescriptorFileSize = 1 << 20;

// The bytes, or nothing with *error ("PATH: line 3: 'zz' is not hexadecimal bytes",
// "PATH: No such file or directory", "PATH: holds no descriptor bytes").
std::optional<std::vector<std::uint8_t>> readDescriptorFile(const std::string& path,
                                                            std::string* error);

// The text form alone (no path in the messages).
std::optional<std::vector<std::uint8_t>> parseDescriptorText(const std::string& text,
                                                             std::string* error);

}  // namespace zv::driver::replay
