#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "log/Log.h"
#include "testing/TemporaryTree.h"

namespace zv::log {
namespace {

struct Counted {
  mutable int* calls;
  std::string description() const {
    ++*calls;
    return "<device Demo>";
  }
};

TEST(LogFormat, ConversionsTakeTheirArgumentsSafely) {
  const std::optional<std::string> none;
  const std::optional<int> seven = 7;
  const std::filesystem::path path = "/p/Default.pr0";
  int calls = 0;
  const Counted device{&calls};
  const Counted* noDevice = nullptr;
  char mutableName[] = "Perch";
  struct Case {
    std::string actual;
    std::string expected;
  };
  const Case cases[] = {
      {formatLog("Loading %@ profile from %@", "Demo Mouse", path),
       "Loading Demo Mouse profile from /p/Default.pr0"},
      {formatLog("%@ %@ %@ %@ %@", 42, -3, 2.5, true, 'x'), "42 -3 2.5 true x"},
      {formatLog("%@|%@|%@|%@", none, seven, nullptr, noDevice), "(null)|7|(null)|(null)"},
      {formatLog("for device %@", device), "for device <device Demo>"},
      {formatLog("for device %@", &device), "for device <device Demo>"},
      {formatLog("%@", mutableName), "Perch"},
      {formatLog("%@", json::Value(json::makeDictionary())), "{}"},
      {formatLog("%@ and %s", json::Value("text"), std::string("more")), "text and more"},
      {formatLog("[%5d|%-5d|%05d|%+d]", 42, 42, 42, 42), "[   42|42   |00042|+42]"},
      {formatLog("%x %X %#x %o %u", 255u, 255, 255, 8, 3u), "ff FF 0xff 10 3"},
      {formatLog("%lu %lld %hhd %zu", 1ul, 2ll, 3, std::size_t{4}), "1 2 3 4"},
      {formatLog("%.2f %8.3e %g", 3.14159, 1234.5, 0.5), "3.14 1.234e+03 0.5"},
      {formatLog("%c%c", 'o', 107), "ok"},
      {formatLog("[%.3s|%6s|%-6s]", "abcdef", "ab", "ab"), "[abc|    ab|ab    ]"},
      {formatLog("%.2s", "\xC3\xA9\xC3\xA9"), "\xC3\xA9"} /* never half a character */,
      {formatLog("100%% sure, %d%%", 5), "100% sure, 5%"},
      // Mismatches and mistakes cannot read what is not there.
      {formatLog("%d apples", "many"), "many apples"},
      {formatLog("%@ and %@", "one"), "one and (missing)"},
      {formatLog("just %@", "one", "two", 3), "just one"},
      {formatLog("%s", static_cast<const char*>(nullptr)), "(null)"},
      {formatLog("%y %*d %.*s %", 1, 2), "%y %*d %.*s %"},
      {formatLog("switched APP!\n"), "switched APP!\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
  EXPECT_EQ(formatLog("%p", static_cast<void*>(nullptr)).empty(), false);
  // Field widths are capped, whatever the format asks for.
  EXPECT_EQ(formatLog("%999999999d", 1).size(), 1024u);
  EXPECT_EQ(formatLog("%.999999999f", 1.0).size(), 1026u);
}

// Routes lines and notices to the test and restores the process's settings afterwards.
class LogTest : public ::testing::Test {
 protected:
  LogTest() {
    previousThreshold_ = logThreshold();
    previousSink_ = setLogSink([this](const LogRecord& record) {
      records.push_back({record.level, std::string(record.file), record.line,
                         std::string(record.object), std::string(record.function),
                         std::string(record.message)});
    });
    previousHandler_ =
        setSystemLogHandler([this](std::string_view message) { notices.emplace_back(message); });
  }
  ~LogTest() override {
    setLogThreshold(previousThreshold_);
    setLogSink(std::move(previousSink_));
    setSystemLogHandler(std::move(previousHandler_));
  }

  struct Line {
    ZVLogLevel level;
    std::string file;
    int line;
    std::string object;
    std::string function;
    std::string message;
  };
  std::vector<Line> records;
  std::vector<std::string> notices;

 private:
  std::optional<int> previousThreshold_;
  LogSink previousSink_;
  SystemLogHandler previousHandler_;
};

TEST_F(LogTest, ThresholdDecidesWhatIsWrittenAndWhatIsFormatted) {
  int calls = 0;
  const Counted device{&calls};

  setLogThreshold(std::nullopt);
  ZV_LOG(ZVLogLevel::Error, nullptr, "Profile corrupt: %@ for device %@", "x", device);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(calls, 0) << "arguments of a line nobody reads are not formatted";

  setLogThreshold(4);
  ZV_LOG(ZVLogLevel::Info, nullptr, "too chatty %@", device);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(calls, 0);
  const int line = __LINE__ + 1;
  ZV_LOG(ZVLogLevel::Error, &device, "Profile corrupt: %@ for device %@", "Mine.pr0", device);
  ZV_LOG(ZVLogLevel::Notice, nullptr, "Loading %@ profile from %@", "Demo", "/seed.pr0");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, ZVLogLevel::Error);
  EXPECT_TRUE(records[0].file.ends_with("LogTest.cpp")) << records[0].file;
  EXPECT_EQ(records[0].line, line);
  EXPECT_NE(records[0].function.find("ThresholdDecidesWhatIsWrittenAndWhatIsFormatted"),
            std::string::npos)
      << records[0].function;
  EXPECT_EQ(records[0].object, "<device Demo>");
  EXPECT_EQ(records[0].message, "Profile corrupt: Mine.pr0 for device <device Demo>");
  EXPECT_EQ(records[1].object, "") << "no object";
  EXPECT_EQ(records[1].message, "Loading Demo profile from /seed.pr0");
}

TEST_F(LogTest, ThresholdFromTheEnvironment) {
  struct Case {
    const char* text;
    std::optional<int> threshold;
  };
  const Case cases[] = {
      {"4", 4},         {" error ", 3},           {"DEBUG", 6},
      {"notice", 4},    {"off", std::nullopt},    {"", std::nullopt},
      {"all", INT_MAX}, {"yes", INT_MAX},         {"-1", -1},
      {"0", 0},         {"99999999999", INT_MAX}, {"none", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parseLogThreshold(c.text), c.threshold) << c.text;

  const char* saved = std::getenv("KINETRA_LOG");
  const std::optional<std::string> old = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("KINETRA_LOG", "critical", 1);
  EXPECT_EQ(logThresholdFromEnvironment(), 2);
  ::unsetenv("KINETRA_LOG");
  EXPECT_EQ(logThresholdFromEnvironment(), std::nullopt);
  if (old) ::setenv("KINETRA_LOG", old->c_str(), 1);

  EXPECT_EQ(logLevelName(ZVLogLevel::Error), "error");
  EXPECT_EQ(logLevelName(static_cast<ZVLogLevel>(9)), "level 9");
}

TEST_F(LogTest, NoticesGoToTheSystemLogAndToTheLogWhenItIsOn) {
  setLogThreshold(std::nullopt);
  systemLogNotice("Loading profile at: %@", std::filesystem::path("/home/u/Mine.pr0"));
  systemLogNotice("switched APP!\n");
  EXPECT_EQ(notices,
            (std::vector<std::string>{"Loading profile at: /home/u/Mine.pr0", "switched APP!\n"}));
  EXPECT_TRUE(records.empty());

  setLogThreshold(static_cast<int>(ZVLogLevel::Notice));
  systemLogNotice("switched APP!\n");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, ZVLogLevel::Notice);
  EXPECT_EQ(records[0].message, "switched APP!\n");
  EXPECT_EQ(notices.size(), 3u);
}

// Captures what the process writes to standard error while it lives.
class StandardErrorCapture {
 public:
  explicit StandardErrorCapture(const std::filesystem::path& file) : file_(file) {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    std::FILE* out = std::fopen(file.c_str(), "w");
    ::dup2(::fileno(out), STDERR_FILENO);
    std::fclose(out);
  }
  ~StandardErrorCapture() { restore(); }
  std::string finish() {
    restore();
    std::string text;
    if (std::FILE* in = std::fopen(file_.c_str(), "r")) {
      char buffer[4096];
      std::size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
      std::fclose(in);
    }
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  std::filesystem::path file_;
  int saved_ = -1;
};

TEST_F(LogTest, StandardErrorGetsOneSafeLinePerCall) {
  setLogSink(nullptr);
  setLogThreshold(6);
  testing::TemporaryTree tree;
  StandardErrorCapture capture(tree.path("stderr"));
  ZV_LOG(ZVLogLevel::Error, "Mine", "two\nlines and \x1b[31mred\x1b[0m\n");
  ZV_LOG(ZVLogLevel::Debug, nullptr, "%@", std::string(5000, 'a'));
  const std::string text = capture.finish();

  const std::size_t firstEnd = text.find('\n');
  ASSERT_NE(firstEnd, std::string::npos) << text;
  const std::string first = text.substr(0, firstEnd);
  EXPECT_NE(first.find("[" + std::to_string(::getpid()) + "] error: LogTest.cpp:"),
            std::string::npos)
      << first;
  EXPECT_NE(
      first.find("StandardErrorGetsOneSafeLinePerCall_Test::TestBody [Mine]: two\\x0alines and "
                 "\\x1b[31mred\\x1b[0m"),
      std::string::npos)
      << first;
  EXPECT_EQ(first.find('\x1b'), std::string::npos);
  const std::string second = text.substr(firstEnd + 1);
  EXPECT_NE(second.find(" debug: "), std::string::npos) << second.substr(0, 200);
  EXPECT_NE(second.find(std::string(4096, 'a') + "... [904 more bytes]\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

}  // namespace
}  // namespace zv::log
