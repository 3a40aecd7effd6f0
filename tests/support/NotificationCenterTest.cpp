#include "support/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using zv::json::Value;
using zv::support::Notification;
using zv::support::NotificationCenter;

TEST(NotificationCenter, DeliversANameToItsObserversWithSenderAndUserInformation) {
  NotificationCenter center;
  const int senderA = 0, senderB = 0;
  std::vector<std::string> trace;
  center.addObserver("Changed", [&](const Notification& n) {
    trace.push_back("any:" + n.name + ":" + std::string(n.sender == &senderA ? "A" : "B") + ":" +
                    n.userInfo.asDictionary()->find("path")->asString());
  });
  center.addObserver(
      "Changed", [&](const Notification&) { trace.push_back("only-B"); }, &senderB);
  center.addObserver("Other", [&](const Notification&) { trace.push_back("other"); });
  EXPECT_EQ(center.addObserver("Changed", nullptr), 0u);

  auto info = zv::json::makeDictionary();
  info->set("path", "/x");
  center.post("Changed", &senderA, Value(info));
  center.post("Changed", &senderB, Value(info));
  center.post("Unobserved", &senderA);
  EXPECT_EQ(trace, (std::vector<std::string>{"any:Changed:A:/x", "any:Changed:B:/x", "only-B"}));

  // Each centre has its own observers.
  trace.clear();
  NotificationCenter::defaultCenter().post("Changed", &senderA, Value(info));
  EXPECT_TRUE(trace.empty());
  EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

TEST(NotificationCenter, ObserversMayBeAddedAndRemovedWhileANotificationIsDelivered) {
  NotificationCenter center;
  std::vector<std::string> trace;
  NotificationCenter::ObserverId second = 0, late = 0;
  const auto first = center.addObserver("N", [&](const Notification&) {
    trace.push_back("first");
    center.removeObserver(second);  // not called any more, even in this delivery
    if (!late)
      late = center.addObserver("N", [&](const Notification&) { trace.push_back("late"); });
  });
  second = center.addObserver("N", [&](const Notification&) { trace.push_back("second"); });
  center.addObserver("N", [&](const Notification&) {
    trace.push_back("third");
    center.post("Nested");  // posting from an observer
  });
  center.post("N");
  EXPECT_EQ(trace, (std::vector<std::string>{"first", "third"}));
  trace.clear();
  center.post("N");
  EXPECT_EQ(trace, (std::vector<std::string>{"first", "third", "late"}));
  EXPECT_TRUE(center.removeObserver(first));
  EXPECT_FALSE(center.removeObserver(first));
  EXPECT_FALSE(center.removeObserver(second));

  // An observer removing itself.
  NotificationCenter::ObserverId self = 0;
  int selfCalls = 0;
  self = center.addObserver("Once", [&](const Notification&) {
    ++selfCalls;
    center.removeObserver(self);
  });
  center.post("Once");
  center.post("Once");
  EXPECT_EQ(selfCalls, 1);
}

TEST(NotificationCenter, PostsAndRegistrationsFromManyThreads) {
  NotificationCenter center;
  std::atomic<int> delivered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        const auto id = center.addObserver("Tick", [&](const Notification&) { ++delivered; });
        center.post("Tick");
        center.removeObserver(id);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_GE(delivered.load(), 4 * 500) << "each post reaches at least its own observer";
}
