// The settings window's own copies of the file watch and the preferences file.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "com_Zenvor_PreferencesFile_Skarn.h"
#include "com_Zenvor_VDKQueue_Skarn.h"
#include "platform/AtomicFile.h"
#include "platform/RunLoop.h"
#include "support/NotificationCenter.h"
#include "support/PropertyList.h"
#include "testing/TemporaryTree.h"

using namespace zv::pane;
using zv::platform::RunLoop;
using zv::support::Notification;
using zv::support::NotificationCenter;
using Names = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10'000ms;  // only a broken watch reaches it

const std::string kWrite(zv::platform::VDKQueueWriteNotification);
const std::string kDelete(zv::platform::VDKQueueDeleteNotification);
const std::string kSize(zv::platform::VDKQueueSizeIncreaseNotification);

bool waitFor(const std::function<bool()>& condition) {
  return RunLoop::main().runUntil(condition, kPatience);
}

void appendTo(const std::filesystem::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

int threadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

struct Recorder : com_Zenvor_VDKQueue_SkarnDelegate {
  void com_Zenvor_VDKQueue_SkarnReceivedNotification(com_Zenvor_VDKQueue_Skarn& queue,
                                                     std::string_view notification,
                                                     const std::string& path) override {
    queues.push_back(&queue);
    heard.emplace_back(std::string(notification) + " " + path);
  }
  std::vector<const com_Zenvor_VDKQueue_Skarn*> queues;
  Names heard;
};

// Everything posted on the workspace centre, as "name path".
struct WorkspaceListener {
  std::vector<NotificationCenter::ObserverId> ids;
  Names heard;
  std::vector<const void*> senders;
  WorkspaceListener() {
    for (auto name :
         {zv::platform::VDKQueueWriteNotification, zv::platform::VDKQueueDeleteNotification,
          zv::platform::VDKQueueSizeIncreaseNotification}) {
      ids.push_back(com_Zenvor_VDKQueue_Skarn::workspaceNotificationCenter().addObserver(
          std::string(name), [this](const Notification& n) {
            senders.push_back(n.sender);
            heard.push_back(n.name + " " + n.userInfo.asDictionary()->find("path")->asString());
          }));
    }
  }
  ~WorkspaceListener() {
    for (auto id : ids) com_Zenvor_VDKQueue_Skarn::workspaceNotificationCenter().removeObserver(id);
  }
};

}  // namespace

TEST(com_Zenvor_VDKQueue_Skarn, EachQueueRunsItsOwnWatcherThreadUntilItGoes) {
  zv::testing::TemporaryTree tree;
  const auto a = tree.write("a", "1").string();
  // A sanitizer starts a helper thread of its own with the first thread; let it appear.
  std::thread([] {}).join();
  const int before = threadCount();
  auto first = com_Zenvor_VDKQueue_Skarn::create();
  auto second = com_Zenvor_VDKQueue_Skarn::create();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(threadCount(), before) << "no thread before the first path";
  first->addPath(a);
  second->addPath(a);
  EXPECT_EQ(threadCount(), before + 2) << "one watcher thread per queue";
  second.reset();
  EXPECT_EQ(threadCount(), before + 1) << "a destroyed queue left its thread running";

  Recorder recorder;
  first->setDelegate(&recorder);
  appendTo(a, "2");
  ASSERT_TRUE(waitFor([&] { return recorder.heard.size() == 2; }));
  EXPECT_EQ(recorder.heard, (Names{kWrite + " " + a, kSize + " " + a}));
  EXPECT_EQ(recorder.queues, (std::vector<const com_Zenvor_VDKQueue_Skarn*>(2, first.get())));
  first.reset();
  EXPECT_EQ(threadCount(), before);
}

TEST(com_Zenvor_VDKQueue_Skarn, PostsToTheWorkspaceCentreWithoutADelegateOrWhenAskedTo) {
  zv::testing::TemporaryTree tree;
  const auto file = tree.write("f", "1").string();
  auto queue = com_Zenvor_VDKQueue_Skarn::create();
  WorkspaceListener workspace;
  queue->addPath(file);

  // No delegate: the workspace centre hears it, with the queue as sender.
  appendTo(file, "2");
  ASSERT_TRUE(waitFor([&] { return workspace.heard.size() == 2; }));
  EXPECT_EQ(workspace.heard, (Names{kWrite + " " + file, kSize + " " + file}));
  EXPECT_EQ(workspace.senders[0], queue.get());

  // A delegate alone hears it.
  Recorder recorder;
  queue->setDelegate(&recorder);
  workspace.heard.clear();
  appendTo(file, "3");
  ASSERT_TRUE(waitFor([&] { return recorder.heard.size() == 2; }));
  // Told in the same main-loop task as the delegate, so nothing can still be on its way.
  EXPECT_TRUE(workspace.heard.empty());

  // Both, when alwaysPostNotifications is set.
  queue->setAlwaysPostNotifications(true);
  recorder.heard.clear();
  appendTo(file, "4");
  ASSERT_TRUE(waitFor([&] { return recorder.heard.size() == 2 && workspace.heard.size() == 2; }));
  EXPECT_EQ(workspace.heard, recorder.heard);
  queue->setDelegate(nullptr);
}

TEST(com_Zenvor_VDKQueue_Skarn, FollowsTheFileObjectAndDropsNotificationsOfRemovedEntries) {
  zv::testing::TemporaryTree tree;
  const auto file = tree.write("f", "1").string();
  auto queue = com_Zenvor_VDKQueue_Skarn::create();
  Recorder recorder;
  queue->setDelegate(&recorder);
  queue->addPath(tree.path("missing").string());
  queue->addPath(file);
  queue->addPath(file);
  EXPECT_EQ(queue->numberOfWatchedPaths(), 1u);

  // Replaced by an atomic save: the old file's deletion, then silence until re-added.
  ASSERT_TRUE(
      zv::support::writePropertyListFile(file, zv::json::Value(zv::json::makeDictionary())));
  ASSERT_TRUE(waitFor([&] { return !recorder.heard.empty(); }));
  EXPECT_EQ(recorder.heard.front(), kDelete + " " + file);

  // The path removed after the watcher thread handed a change over: nothing arrives.
  queue->removePath(file);
  queue->addPath(file);
  recorder.heard.clear();
  appendTo(file, "x");
  pollfd posted{RunLoop::main().fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&posted, 1, static_cast<int>(kPatience.count())), 1);
  queue->removePath(file);
  RunLoop::main().runUntil([] { return false; }, 50ms);
  EXPECT_TRUE(recorder.heard.empty()) << "a removed entry's notification was delivered";
  queue->setDelegate(nullptr);
}

TEST(com_Zenvor_PreferencesFile_Skarn, BehavesAsTheLibrarysPreferencesFile) {
  zv::testing::TemporaryTree tree;
  com_Zenvor_PreferencesFile_Skarn::forgetProcessInstanceForTesting();
  Names updates;
  const auto observer = NotificationCenter::defaultCenter().addObserver(
      "ZVPreferencesUpdated", [&](const Notification& n) {
        const auto* hide =
            n.userInfo.isDictionary() ? n.userInfo.asDictionary()->find("HideStatusMenu") : nullptr;
        updates.push_back(!n.userInfo.isDictionary() ? "none"
                          : hide                     ? (hide->asBoolean() ? "hide" : "show")
                                                     : "absent");
      });

  const auto prefs = com_Zenvor_PreferencesFile_Skarn::preferenceFileForBrand("Zenvor");
  ASSERT_TRUE(prefs);
  const auto path = tree.path("home/.config/com.zenvor.Kinetra.Zenvor.plist");
  EXPECT_EQ(prefs->filePath(), path);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(updates, Names{"absent"});
  EXPECT_EQ(com_Zenvor_PreferencesFile_Skarn::preferenceFileForBrand("Zenvor"), prefs);
  EXPECT_EQ(com_Zenvor_PreferencesFile_Skarn::preferenceFileForBrand("Other"), nullptr);

  // What the check box does: set the key and save; the saved file is read back.
  prefs->prefs()->set("HideStatusMenu", zv::json::Value::boolean(true));
  ASSERT_TRUE(prefs->save());
  ASSERT_TRUE(waitFor([&] { return updates.size() == 2; }));
  EXPECT_EQ(updates[1], "hide");

  // Another process's save.
  auto other = zv::json::makeDictionary();
  other->set("HideStatusMenu", zv::json::Value::boolean(false));
  ASSERT_TRUE(zv::support::writePropertyListFile(path, zv::json::Value(other)));
  ASSERT_TRUE(waitFor([&] { return updates.size() == 3; }));
  EXPECT_EQ(updates[2], "show");

  // A damaged file saved by someone else reads as nothing and stays as it is.
  ASSERT_TRUE(zv::platform::writeFileAtomically(path, "<plist><dict><key>"));
  ASSERT_TRUE(waitFor([&] { return updates.size() == 4; }));
  EXPECT_EQ(updates[3], "none");
  EXPECT_FALSE(prefs->save());
  EXPECT_EQ(tree.read("home/.config/com.zenvor.Kinetra.Zenvor.plist"), "<plist><dict><key>");

  NotificationCenter::defaultCenter().removeObserver(observer);
  com_Zenvor_PreferencesFile_Skarn::forgetProcessInstanceForTesting();
}
