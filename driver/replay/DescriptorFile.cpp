#include "replay/DescriptorFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "replay/ReplayCommand.h"

namespace zv::driver::replay {

namespace {

bool looksLikeText(const std::string& content) {
  for (unsigned char c : content) {
    if (c != '\n' && c != '\r' && c != '\t' && (c < 0x20 || c > 0x7E)) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> parseDescriptorText(const std::string& text,
                                                             std::string* error) {
  std::vector<std::uint8_t> descriptor;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = line.substr(0, line.find('#'));
    std::vector<std::string> tokens;
    std::string token;
    for (char c : line + " ") {
      if (c == ' ' || c == '\t' || c == '\r' || c == ',') {
        if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
          token.erase(0, 2);
        }
        if (!token.empty()) tokens.push_back(token);
        token.clear();
      } else {
        token += c;
      }
    }
    std::vector<std::uint8_t> bytes;
    std::string message;
    if (!parseReplayHexBytes(tokens, 0, &bytes, &message)) {
      *error = "line " + std::to_string(number) + ": " + message;
      return std::nullopt;
    }
    descriptor.insert(descriptor.end(), bytes.begin(), bytes.end());
  }
  if (descriptor.empty()) {
    *error = "holds no descriptor bytes";
    return std::nullopt;
  }
  return descriptor;
}

std::optional<std::vector<std::uint8_t>> readDescriptorFile(const std::string& path,
                                                            std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string content;
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    content.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (content.size() > kMaxDescriptorFileSize) {
      *error = path + ": longer than " + std::to_string(kMaxDescriptorFileSize) +
               " bytes, which no report descriptor is";
      return std::nullopt;
    }
  }
  if (in.bad()) {
    *error = path + ": cannot be read";
    return std::nullopt;
  }
  if (!looksLikeText(content)) return std::vector<std::uint8_t>(content.begin(), content.end());
  auto descriptor = parseDescriptorText(content, error);
  if (!descriptor) *error = path + ": " + *error;
  return descriptor;
}

}  // namespace zv::driver::replay
