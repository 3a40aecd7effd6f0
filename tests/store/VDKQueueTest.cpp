#include "platform/VDKQueue.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "WatchTestSupport.h"
#include "platform/InotifyEvents.h"
#include "platform/RunLoop.h"
#include "testing/TemporaryTree.h"

using namespace zv::platform;
using namespace zv::platform::testing;
using zv::platform::RunLoop;
using Names = std::vector<std::string>;

namespace {

const std::string kRename(VDKQueueRenameNotification);
const std::string kWrite(VDKQueueWriteNotification);
const std::string kDelete(VDKQueueDeleteNotification);
const std::string kAttributes(VDKQueueAttributeChangeNotification);
const std::string kSize(VDKQueueSizeIncreaseNotification);
const std::string kLinks(VDKQueueLinkCountChangeNotification);
const std::string kRevoked(VDKQueueAccessRevocationNotification);

std::string writeFile(const zv::testing::TemporaryTree& tree, const std::string& name,
                      const std::string& bytes = "abc") {
  return tree.write(name, bytes).string();
}

// A queue with a recording delegate.
struct Watch {
  std::shared_ptr<VDKQueue> queue = VDKQueue::create();
  Recorder recorder;
  Watch() { queue->setDelegate(&recorder); }
  ~Watch() {
    if (queue) queue->setDelegate(nullptr);
  }
};

}  // namespace

TEST(VDKQueue, ReportsWritesAppendsAndAttributeChangesInDeliveryOrder) {
  zv::testing::TemporaryTree tree;
  Sentinel sentinel(tree.path("sentinel"));
  const auto file = writeFile(tree, "watched.txt", "0123456789");
  Watch watch;
  ASSERT_TRUE(watch.queue);
  watch.queue->addPath(file);

  struct Case {
    const char* what;
    std::function<void()> change;
    Names expected;
  };
  const std::vector<Case> cases = {
      {"a write in place", [&] { overwriteInPlace(file, "ab"); }, {kWrite}},
      {"an append", [&] { appendTo(file, "more"); }, {kWrite, kSize}},
      {"a permission change", [&] { ::chmod(file.c_str(), 0600); }, {kAttributes}},
      {"a second name (hard link)",
       [&] { ASSERT_EQ(::link(file.c_str(), tree.path("second-name").c_str()), 0); },
       {kAttributes, kLinks}},
      {"the second name removed",
       [&] { ::unlink(tree.path("second-name").c_str()); },
       {kAttributes, kLinks}},
  };
  for (const auto& c : cases) {
    watch.recorder.clear();
    c.change();
    ASSERT_TRUE(waitFor([&] { return watch.recorder.heardAbout(file); })) << c.what;
    ASSERT_TRUE(sentinel.pass());  // anything else the change caused has arrived by now
    EXPECT_EQ(watch.recorder.namesFor(file), c.expected) << c.what;
  }
  EXPECT_FALSE(watch.recorder.offMainThread) << "the delegate was called off the main thread";
  for (const auto& h : watch.recorder.heard) EXPECT_EQ(h.queue, watch.queue.get());
}

TEST(VDKQueue, MergedEventsAreReportedWithTheRenameFirst) {
  zv::testing::TemporaryTree tree;
  const auto file = writeFile(tree, "f", "abc");

  // A real rename of the watched file.
  {
    Watch watch;
    watch.queue->addPath(file);
    ASSERT_EQ(::rename(file.c_str(), tree.path("g").c_str()), 0);
    ASSERT_TRUE(waitFor([&] { return watch.recorder.heardAbout(file); }));
    EXPECT_EQ(watch.recorder.namesFor(file).front(), kRename);
  }

  // Changes that the watcher reads in one go come as one event: several bits at once.
  const auto other = writeFile(tree, "h", "abc");
  inotify::WatchedObject object;
  ASSERT_TRUE(object.open(other));
  appendTo(other, "grown");
  std::string buffer;
  auto add = [&](int wd, std::uint32_t mask, const std::string& name = "") {
    inotify_event event{};
    event.wd = wd;
    event.mask = mask;
    event.len = name.empty() ? 0 : 16;
    buffer.append(reinterpret_cast<const char*>(&event), sizeof event);
    if (!name.empty()) buffer.append(name + std::string(16 - name.size(), '\0'));
  };
  add(1, IN_MODIFY);
  add(2, IN_ATTRIB);
  add(1, IN_MOVE_SELF);
  add(1, IN_ATTRIB);
  add(-1, IN_Q_OVERFLOW);
  add(3, IN_CREATE | IN_ISDIR, "sub");
  add(3, IN_MODIFY, "child");
  std::vector<inotify::WatchEvent> events;
  EXPECT_TRUE(inotify::collectEvents(buffer.data(), buffer.size(), events)) << "overflow missed";
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].wd, 1);
  EXPECT_EQ(events[0].selfMask, std::uint32_t(IN_MODIFY | IN_MOVE_SELF | IN_ATTRIB));
  EXPECT_EQ(events[1].wd, 2);
  EXPECT_TRUE(events[2].subfolderChanged);

  auto names = [](std::uint32_t bits) {
    Names out;
    for (auto n : VDKQueueNotificationsForBits(bits)) out.emplace_back(n);
    return out;
  };
  EXPECT_EQ(names(object.observe(events[0])), (Names{kRename, kWrite, kAttributes, kSize}));
  EXPECT_EQ(names(VDKQueueNotifyDefault),
            (Names{kRename, kWrite, kDelete, kAttributes, kSize, kLinks, kRevoked}));

  // After the kernel dropped events, the object's own state tells what it can: here
  // that the file lost its last name while its events were lost.
  ASSERT_EQ(::unlink(other.c_str()), 0);
  EXPECT_EQ(names(object.observeLostEvents()), (Names{kWrite, kDelete, kLinks}));
  EXPECT_EQ(names(object.observeLostEvents()), Names{kWrite}) << "a deletion is reported once";

  // A folder: entries coming and going are writes, a new subfolder also changes the link
  // count, a child's own changes are not the folder's, and a deletion counts once.
  inotify::WatchedObject folder;
  std::filesystem::create_directories(tree.path("dir"));
  ASSERT_TRUE(folder.open(tree.path("dir")));
  EXPECT_EQ(names(folder.observe(events[2])), (Names{kWrite, kLinks}));
  inotify::WatchEvent childOnly{3, 0, IN_MODIFY | IN_ATTRIB, false};
  EXPECT_EQ(names(folder.observe(childOnly)), Names{});
  inotify::WatchEvent gone{3, IN_DELETE_SELF, 0, false};
  EXPECT_EQ(names(folder.observe(gone)), Names{kDelete});
  EXPECT_EQ(names(folder.observe(gone)), Names{});
  inotify::WatchEvent unmounted{3, IN_UNMOUNT, 0, false};
  EXPECT_EQ(names(folder.observe(unmounted)), Names{kRevoked});
}

TEST(VDKQueue, ADeletedFileIsReportedOnceAndItsSuccessorOnlyAfterReAdding) {
  zv::testing::TemporaryTree tree;
  Sentinel sentinel(tree.path("sentinel"));
  const auto file = writeFile(tree, "prefs.plist", "old");
  Watch watch;
  watch.queue->addPath(file);

  ASSERT_EQ(::unlink(file.c_str()), 0);
  ASSERT_TRUE(waitFor([&] { return watch.recorder.heardAbout(file); }));
  ASSERT_TRUE(sentinel.pass());
  auto heard = watch.recorder.namesFor(file);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.front(), kDelete);
  EXPECT_EQ(std::count(heard.begin(), heard.end(), kDelete), 1);

  // A new file of the same name is another object: not reported.
  watch.recorder.clear();
  writeFile(tree, "prefs.plist", "new");
  appendTo(file, "and more");
  ASSERT_TRUE(sentinel.pass());
  EXPECT_EQ(watch.recorder.namesFor(file), Names{}) << "the new file was reported unwatched";
  EXPECT_EQ(watch.queue->numberOfWatchedPaths(), 1u);

  // Removing and adding the path again follows the new file.
  watch.queue->removePath(file);
  watch.queue->addPath(file);
  appendTo(file, "!");
  ASSERT_TRUE(waitFor([&] { return watch.recorder.heardAbout(file); }));
  ASSERT_TRUE(sentinel.pass());
  EXPECT_EQ(watch.recorder.namesFor(file), (Names{kWrite, kSize}));

  // An atomic save (a new file renamed onto the name) is the old file's deletion.
  watch.recorder.clear();
  replaceByRename(file, "saved");
  ASSERT_TRUE(waitFor([&] { return watch.recorder.heardAbout(file); }));
  EXPECT_EQ(watch.recorder.namesFor(file).front(), kDelete);
}

TEST(VDKQueue, AddingMissingAndRepeatedPathsAndCombiningFlags) {
  zv::testing::TemporaryTree tree;
  Sentinel sentinel(tree.path("sentinel"));
  Watch watch;
  auto& queue = *watch.queue;

  queue.addPath(tree.path("missing").string());
  queue.addPath("");
  EXPECT_EQ(queue.addPathToQueue(tree.path("missing").string(), VDKQueueNotifyDefault), nullptr);
  EXPECT_EQ(queue.numberOfWatchedPaths(), 0u) << "a missing path was added";

  const auto file = writeFile(tree, "a");
  queue.addPath(file);
  queue.addPath(file);
  EXPECT_EQ(queue.numberOfWatchedPaths(), 1u) << "a second add made a second entry";
  const auto entry = queue.addPathToQueue(file, VDKQueueNotifyAboutWrite);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->subscriptionFlags(), VDKQueueNotifyDefault);
  EXPECT_EQ(entry->path(), file);
  EXPECT_GE(entry->watchedFD(), 0);
  EXPECT_EQ(entry->queue(), watch.queue);

  // addPath keeps an existing entry's flags; addPathToQueue adds the missing ones.
  const auto narrow = writeFile(tree, "b", "123");
  queue.addPath(narrow, VDKQueueNotifyAboutWrite);
  queue.addPath(narrow, VDKQueueNotifyAboutAttributeChange);
  auto narrowEntry = queue.addPathToQueue(narrow, VDKQueueNotifyAboutWrite);
  EXPECT_EQ(narrowEntry->subscriptionFlags(), VDKQueueNotifyAboutWrite);
  // Only what the entry subscribed to is reported: no size increase, no attributes.
  appendTo(narrow, "4");
  ::chmod(narrow.c_str(), 0600);
  ASSERT_TRUE(sentinel.pass());
  EXPECT_EQ(watch.recorder.namesFor(narrow), Names{kWrite});
  narrowEntry = queue.addPathToQueue(narrow, VDKQueueNotifyAboutAttributeChange);
  EXPECT_EQ(narrowEntry->subscriptionFlags(),
            VDKQueueNotifyAboutWrite | VDKQueueNotifyAboutAttributeChange);
  EXPECT_EQ(queue.numberOfWatchedPaths(), 2u);

  const auto folder = tree.path("folder").string();
  std::filesystem::create_directories(folder);
  const auto folderEntry = queue.addPathToQueue(folder, VDKQueueNotifyDefault);
  ASSERT_NE(folderEntry, nullptr);
  EXPECT_EQ(folderEntry->watchedFD(), -1);

  queue.removePath(file);
  queue.removePath(tree.path("never-added").string());
  EXPECT_EQ(queue.numberOfWatchedPaths(), 2u);
  queue.removeAllPaths();
  EXPECT_EQ(queue.numberOfWatchedPaths(), 0u);
  EXPECT_EQ(entry->queue(), watch.queue) << "an entry still names its queue after removal";
}

TEST(VDKQueue, TwoQueuesShareOneWatcherThreadAndHearOnlyTheirOwnPaths) {
  zv::testing::TemporaryTree tree;
  Sentinel sentinel(tree.path("sentinel"));  // the watcher thread runs from here on
  const int threadsBefore = threadCount();
  Watch first, second;
  const auto a = writeFile(tree, "a");
  const auto b = writeFile(tree, "b");
  const auto shared = writeFile(tree, "shared");
  first.queue->addPath(a);
  first.queue->addPath(shared);
  second.queue->addPath(b);
  second.queue->addPath(shared);
  EXPECT_EQ(threadCount(), threadsBefore) << "a queue started a thread of its own";

  appendTo(a, "1");
  appendTo(b, "2");
  appendTo(shared, "3");
  ASSERT_TRUE(waitFor(
      [&] { return first.recorder.heardAbout(shared) && second.recorder.heardAbout(shared); }));
  ASSERT_TRUE(sentinel.pass());
  EXPECT_EQ(first.recorder.namesFor(a), (Names{kWrite, kSize}));
  EXPECT_FALSE(first.recorder.heardAbout(b)) << "the first queue heard the second's path";
  EXPECT_EQ(second.recorder.namesFor(b), (Names{kWrite, kSize}));
  EXPECT_FALSE(second.recorder.heardAbout(a)) << "the second queue heard the first's path";
  for (const auto& h : first.recorder.heard) EXPECT_EQ(h.queue, first.queue.get());
  for (const auto& h : second.recorder.heard) EXPECT_EQ(h.queue, second.queue.get());

  // The kernel has one watch for the shared file; removing it from one queue must not
  // end the other's.
  first.queue->removePath(shared);
  first.recorder.clear();
  second.recorder.clear();
  appendTo(shared, "4");
  ASSERT_TRUE(waitFor([&] { return second.recorder.heardAbout(shared); }));
  ASSERT_TRUE(sentinel.pass());
  EXPECT_FALSE(first.recorder.heardAbout(shared));
}

TEST(VDKQueue, AFolderReportsItsEntriesComingAndGoingAsWrites) {
  zv::testing::TemporaryTree tree;
  Sentinel sentinel(tree.path("sentinel"));
  const auto folder = tree.path("profiles").string();
  std::filesystem::create_directories(folder);
  Watch watch;
  watch.queue->addPath(folder);

  struct Case {
    const char* what;
    std::function<void()> change;
    Names expected;
  };
  const std::vector<Case> cases = {
      {"a file added", [&] { writeFile(tree, "profiles/one.pr0"); }, {kWrite}},
      {"a file renamed",
       [&] {
         std::filesystem::rename(tree.path("profiles/one.pr0"), tree.path("profiles/two.pr0"));
       },
       {kWrite}},
      {"a file's content changed", [&] { appendTo(tree.path("profiles/two.pr0"), "x"); }, {}},
      {"a file removed", [&] { std::filesystem::remove(tree.path("profiles/two.pr0")); }, {kWrite}},
      {"a subfolder added",
       [&] { std::filesystem::create_directory(tree.path("profiles/sub")); },
       {kWrite, kLinks}},
      {"the folder's permissions", [&] { ::chmod(folder.c_str(), 0700); }, {kAttributes}},
  };
  for (const auto& c : cases) {
    watch.recorder.clear();
    c.change();
    ASSERT_TRUE(sentinel.pass());
    EXPECT_EQ(watch.recorder.namesFor(folder), c.expected) << c.what;
  }

  watch.recorder.clear();
  std::filesystem::remove_all(folder);
  ASSERT_TRUE(waitFor([&] {
    const auto names = watch.recorder.namesFor(folder);
    return std::find(names.begin(), names.end(), kDelete) != names.end();
  })) << "the folder's removal was not reported";
}

TEST(VDKQueue, NothingIsDeliveredForAnEntryRemovedBeforeItsNotificationArrives) {
  zv::testing::TemporaryTree tree;
  const auto file = writeFile(tree, "f");
  Watch watch;
  watch.queue->addPath(file);
  RunLoop& main = RunLoop::main();
  auto posted = [&] {
    pollfd p{main.fd(), POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(kPatience.count())) == 1;
  };

  // The watcher thread has handed the change to the main thread; the path goes before
  // the main thread gets to it.
  appendTo(file, "x");
  ASSERT_TRUE(posted());
  watch.queue->removePath(file);
  main.runUntil([] { return false; }, 50ms);
  EXPECT_EQ(watch.recorder.heard.size(), 0u) << "a removed entry's notification was delivered";

  // Removed and added again at once: the old entry's notification is not the new one's.
  watch.queue->addPath(file);
  appendTo(file, "y");
  ASSERT_TRUE(posted());
  watch.queue->removePath(file);
  watch.queue->addPath(file);
  main.runUntil([] { return false; }, 50ms);
  EXPECT_EQ(watch.recorder.heard.size(), 0u) << "a stale notification reached the new entry";

  // The queue itself goes away with a notification on its way.
  appendTo(file, "z");
  ASSERT_TRUE(posted());
  watch.queue->setDelegate(nullptr);
  Recorder late;
  {
    auto queue = std::move(watch.queue);
    queue->setDelegate(&late);
  }
  main.runUntil([] { return false; }, 50ms);
  EXPECT_EQ(late.heard.size(), 0u);

  // A delegate that removes the path on the first notification of a change hears no more
  // of that change (an unlink also changes attributes and the link count).
  Watch again;
  const auto other = writeFile(tree, "g");
  again.queue->addPath(other);
  again.recorder.onNotification = [&](VDKQueue& queue, std::string_view, const std::string& path) {
    queue.removePath(path);
  };
  ASSERT_EQ(::unlink(other.c_str()), 0);
  ASSERT_TRUE(waitFor([&] { return again.recorder.heardAbout(other); }));
  main.runUntil([] { return false; }, 50ms);
  EXPECT_EQ(again.recorder.namesFor(other), Names{kDelete});
}
