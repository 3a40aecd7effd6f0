#include <gtest/gtest.h>

#include "json/Base64.h"

namespace zv::json {
namespace {

TEST(Base64, KnownVectors) {
  EXPECT_EQ(encodeBase64WithNewlines("", false), "");
  EXPECT_EQ(encodeBase64WithNewlines("f", false), "Zg==");
  EXPECT_EQ(encodeBase64WithNewlines("fo", false), "Zm8=");
  EXPECT_EQ(encodeBase64WithNewlines("foobar", false), "Zm9vYmFy");
  EXPECT_EQ(encodeBase64WithNewlines("\xFB\xFF", false), "+/8=");
  EXPECT_EQ(decodeBase64WithNewlines("Zm9vYmFy", false), "foobar");
  EXPECT_EQ(decodeBase64WithNewlines("Zg==", false), "f");
}

TEST(Base64, NewlinesBreakLinesOf64) {
  const std::string bytes(100, 'x');
  const std::string lines = encodeBase64(bytes);
  ASSERT_GT(lines.find('\n'), 0u);
  EXPECT_EQ(lines.find('\n'), 64u);
  EXPECT_EQ(lines.back(), '\n');
  EXPECT_EQ(encodeBase64WithNewlines(bytes, false).find('\n'), std::string::npos);
  EXPECT_EQ(decodeBase64(lines), bytes);
  EXPECT_EQ(decodeBase64WithNewlines(encodeBase64WithNewlines(bytes, false), false), bytes);
  // Line breaks are refused when decoding without newlines.
  EXPECT_FALSE(decodeBase64WithNewlines(lines, false));
}

TEST(Base64, RoundTripsEveryByteAndLargeData) {
  std::string bytes;
  for (int i = 0; i < 256 * 40; ++i) bytes.push_back(static_cast<char>(i * 7 + i / 256));
  for (bool newlines : {false, true}) {
    EXPECT_EQ(decodeBase64WithNewlines(encodeBase64WithNewlines(bytes, newlines), newlines), bytes);
  }
}

TEST(Base64, MalformedTextIsRefused) {
  EXPECT_FALSE(decodeBase64WithNewlines("Zm9v!mFy", false));
  EXPECT_FALSE(decodeBase64WithNewlines("Zm9", false));
  EXPECT_FALSE(decodeBase64WithNewlines("Zg=x", false));
  EXPECT_FALSE(decodeBase64WithNewlines("Z===", false));
  EXPECT_FALSE(decodeBase64WithNewlines("Zm 9v", true));
  EXPECT_EQ(decodeBase64WithNewlines("", true), "");
}

}  // namespace
}  // namespace zv::json
