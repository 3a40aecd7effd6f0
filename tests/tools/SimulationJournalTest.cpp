#include "SimulationJournal.h"

#include <gtest/gtest.h>

#include <latch>
#include <sstream>
#include <thread>

namespace kinetra {
namespace {

using namespace std::chrono_literals;
using zv::device::DriverCall;

class SimulationJournalTest : public ::testing::Test {
 protected:
  std::string take() {
    std::string text = out.str();
    out.str("");
    return text;
  }

  std::shared_ptr<zv::engine::ManualClock> clock = std::make_shared<zv::engine::ManualClock>();
  std::ostringstream out;
  SimulationJournal journal{clock, true, out};
};

// Lines go out as soon as time has moved past them, not at the end: a long session
// prints as it goes and keeps only the present moment in memory.
TEST_F(SimulationJournalTest, WritesOutWhatTimeHasMovedPast) {
  journal.add(0, "load    P.pr0");
  journal.add(5, "event   0x90004 1");
  journal.flushBefore(5);
  EXPECT_EQ(take(), "      0 ms  load    P.pr0\n");
  journal.flushBefore(5);  // time has not moved: nothing more
  EXPECT_EQ(take(), "");
  journal.add(7, "event   0x90004 0");
  journal.flushBefore(6);
  EXPECT_EQ(take(), "      5 ms  event   0x90004 1\n");
  journal.flush();
  EXPECT_EQ(take(), "      7 ms  event   0x90004 0\n");
}

TEST_F(SimulationJournalTest, OrdersOneMillisecondByCause) {
  journal.nextStep();
  const auto event = journal.add(10, "event   0x9000e 1");
  // A command thread's line of the same moment, written before the main thread's.
  std::thread([&] { journal.add(10, "key     KEY_MUTE down"); }).join();
  const DriverCall on{DriverCall::Kind::overrideElement, 0x90004, true};
  const DriverCall on2{DriverCall::Kind::overrideElement, 0x90005, true};
  const DriverCall on3{DriverCall::Kind::overrideElement, 0x90007, true};
  journal.add(10, "driver", &on);
  journal.add(10, "driver", &on2);
  journal.add(10, "driver", &on3);
  journal.addAfter(event, "shift   \"Normal\" -> \"Media\"");
  journal.flush();
  EXPECT_EQ(take(),
            "     10 ms  event   0x9000e 1\n"
            "     10 ms  shift   \"Normal\" -> \"Media\"\n"
            "     10 ms  driver  overrideElement on 0x90004-0x90005 0x90007\n"
            "     10 ms  key     KEY_MUTE down\n");
}

// Two command threads acting at one millisecond write in the order the system ran them;
// the output is the same either way.
TEST_F(SimulationJournalTest, SimultaneousCommandsPrintThreadByThreadWhateverTheirSchedule) {
  journal.nextStep();
  for (const long long ms : {20, 30}) {
    const char* firstKey = ms == 20 ? "KEY_B" : "KEY_A";
    const char* secondKey = ms == 20 ? "KEY_A" : "KEY_B";
    // Both threads live at once (distinct ids); the second writes after the first.
    std::latch firstWrote(1);
    std::latch secondWrote(1);
    auto lines = [&](const char* key) {
      journal.add(ms, std::string("key     ") + key + " down");
      journal.add(ms, std::string("key     ") + key + " up");
    };
    std::thread first([&] {
      lines(firstKey);
      firstWrote.count_down();
      secondWrote.wait();
    });
    std::thread second([&] {
      firstWrote.wait();
      lines(secondKey);
      secondWrote.count_down();
    });
    first.join();
    second.join();
    journal.flush();
    const std::string stamp = ms == 20 ? "     20 ms  " : "     30 ms  ";
    EXPECT_EQ(take(), stamp + "key     KEY_A down\n" + stamp + "key     KEY_A up\n" + stamp +
                          "key     KEY_B down\n" + stamp + "key     KEY_B up\n");
  }
}

TEST_F(SimulationJournalTest, HeadingsStandBetweenTheLines) {
  journal.add(0, "load    P.pr0");
  clock->advance(40ms);
  journal.nextStep();
  journal.addHeading("Page Down held");
  journal.nextStep();
  journal.add(40, "event   0x90004 1");
  journal.flush();
  EXPECT_EQ(take(),
            "      0 ms  load    P.pr0\n\n== Page Down held\n     40 ms  event   0x90004 1\n");
}

}  // namespace
}  // namespace kinetra
