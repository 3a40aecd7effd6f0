// The record of `perch --output record[:FILE]`: where it may be written, one line per key
// change and wheel step, keys still down let go at the end, and the latency summary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "AgentOutput.h"
#include "RecordOutput.h"
#include "RecordStream.h"
#include "output/OutputDevice.h"
#include "testing/TemporaryTree.h"

namespace zv::agent::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The lines of a record file without their time stamps.
std::vector<std::string> linesOf(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const auto end = line.find("] ");
    lines.push_back(end == std::string::npos ? line : line.substr(end + 2));
  }
  return lines;
}

TEST(RecordOutputTest, RecordsKeysAndWheelStepsAndLetsGoOfHeldKeysAtTheEnd) {
  zv::testing::TemporaryTree tree(zv::testing::TemporaryTree::Roots::kept);
  const fs::path file = tree.path("record");
  auto stream = RecordStream::open(file.string());
  ASSERT_TRUE(stream) << stream.failure().message;
  RecordOutput output(*stream);
  output.postKey(KEY_A, 1, 0);
  output.postKey(KEY_LEFTSHIFT, 1, 0);
  output.postKey(KEY_A, 2, 0);
  output.postKey(KEY_A, 0, 0);
  output.postWheel(3, false);
  output.postWheel(-1, true);
  EXPECT_EQ(output.releaseHeldKeys(), 1u);
  EXPECT_EQ(output.releaseHeldKeys(), 0u) << "released twice";
  EXPECT_EQ(linesOf(file),
            (std::vector<std::string>{"key KEY_A down", "key KEY_LEFTSHIFT down",
                                      "key KEY_A repeat", "key KEY_A up", "wheel up 3",
                                      "wheel left 1", "key KEY_LEFTSHIFT up (released at exit)"}));
}

TEST(RecordOutputTest, TheSummaryMeasuresOnlyTheFirstActionThatAnswersAnEvent) {
  RecordStream stream(::open("/dev/null", O_WRONLY | O_CLOEXEC), true);
  const auto t0 = RecordStream::Clock::now();
  stream.elementEvent(0x90004, 1, true);
  stream.action("key KEY_A down", RecordStream::Clock::now());
  stream.action("key KEY_A repeat", t0 + 500ms);  // not an answer: no event pending
  stream.elementEvent(0x90005, 1, false);         // dropped: nothing to measure
  stream.action("key KEY_B down");
  const auto summary = stream.summary();
  EXPECT_EQ(summary.eventsIn, 2u);
  EXPECT_EQ(summary.actionsOut, 3u);
  EXPECT_EQ(summary.measured, 1u);
  EXPECT_LT(summary.p99, std::chrono::microseconds(RecordStream::kImmediate));
}

TEST(RecordOutputTest, RecordsThroughLinksAndRefusesWhatIsNotAFile) {
  zv::testing::TemporaryTree tree(zv::testing::TemporaryTree::Roots::kept);
  fs::create_directories(tree.path("folder"));
  const auto folder = RecordStream::open(tree.path("folder").string());
  ASSERT_FALSE(folder);
  EXPECT_NE(folder.failure().message.find("not a regular file"), std::string::npos)
      << folder.failure().message;
  EXPECT_TRUE(fs::is_directory(tree.path("folder")));

  // A link is followed: the file it names gets the record and stays linked.
  tree.write("real", "old\n");
  fs::create_symlink(tree.path("real"), tree.path("link"));
  {
    auto stream = RecordStream::open(tree.path("link").string());
    ASSERT_TRUE(stream) << stream.failure().message;
    (*stream)->line("hello");
  }
  EXPECT_TRUE(fs::is_symlink(tree.path("link")));
  EXPECT_EQ(linesOf(tree.path("real")), std::vector<std::string>{"hello"});
}

TEST(RecordOutputTest, AnUnknownOutputIsRefusedWithTheChoices) {
  const auto output = AgentOutput::install("speakers");
  ASSERT_FALSE(output);
  EXPECT_EQ(output.failure().message,
            "--output takes uinput, record, record:FILE or uinput+record[:FILE], not 'speakers'");
  EXPECT_FALSE(AgentOutput::install("uinput+speakers"));
}

}  // namespace
}  // namespace zv::agent::testing
