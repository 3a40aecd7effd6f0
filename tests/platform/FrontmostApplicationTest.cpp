// The focused application: application keys, the executable of a process, observers,
// and the readers of what compositors send (sway IPC frames and events, Hyprland event
// lines and replies), garbage included.
#include "platform/FrontmostApplication.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/linux/FocusLines.h"
#include "platform/linux/HyprlandEvents.h"
#include "platform/linux/SwayIpc.h"
#include "testing/FakeFrontmostApplication.h"

namespace zv::platform {
namespace {

TEST(ApplicationKey, NormalisesUrlTextAsAPathKeepingEscapes) {
  EXPECT_EQ(normaliseApplicationKey("file:///Applications/Example.app/"),
            "file:/Applications/Example.app");
  EXPECT_EQ(normaliseApplicationKey("file:/a/./b//c/."), "file:/a/b/c");
  EXPECT_EQ(normaliseApplicationKey("file:///opt/My%20App/"), "file:/opt/My%20App");
  EXPECT_EQ(normaliseApplicationKey("file:/opt/a%2Fb"), "file:/opt/a%2Fb");
  EXPECT_EQ(normaliseApplicationKey("//usr//bin/"), "/usr/bin");
  EXPECT_EQ(normaliseApplicationKey(""), "");
}

TEST(ApplicationKey, IsTheExecutablePathAsAFileUrl) {
  EXPECT_EQ(applicationKey("/usr/bin/firefox"), "file:/usr/bin/firefox");
  EXPECT_EQ(applicationKey("/opt/My App/run"), "file:/opt/My%20App/run");
  EXPECT_EQ(applicationKey("/opt/100%/x"), "file:/opt/100%25/x");
  EXPECT_EQ(applicationKey("/opt/caf\xc3\xa9"), "file:/opt/caf%C3%A9");
  EXPECT_EQ(applicationKey("/opt/a#b?c"), "file:/opt/a%23b%3Fc");
  EXPECT_EQ(applicationKey("/usr/./bin//x/"), "file:/usr/bin/x");
  EXPECT_EQ(applicationKey(""), "");
}

TEST(ExecutableOfProcess, ReadsProcAndRefusesWhatIsNoProcess) {
  EXPECT_EQ(executableOfProcess(::getpid()), std::filesystem::read_symlink("/proc/self/exe"));
  EXPECT_FALSE(executableOfProcess(0));
  EXPECT_FALSE(executableOfProcess(-5));
  EXPECT_FALSE(executableOfProcess(4194304 + 1));
}

TEST(FocusLines, ReadAbsolutePathsNothingFocusedAndCommentsAcrossPieces) {
  FocusLines lines;
  lines.append("# scripted session\n/usr/bin/fi");
  EXPECT_FALSE(lines.next());  // the path is not complete yet
  lines.append("refox \r\n-\n\n/opt/My App/run\n");
  const auto first = lines.next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->executable, "/usr/bin/firefox");
  EXPECT_EQ(first->name, "firefox");
  EXPECT_EQ(lines.next(), FocusedApplication{});
  EXPECT_EQ(lines.next(), FocusedApplication{});
  EXPECT_EQ(lines.next()->executable, "/opt/My App/run");
  EXPECT_FALSE(lines.next());
  EXPECT_EQ(lines.rejected(), 0u);
}

TEST(FocusLines, SkipAndCountGarbageKeepingTheLinesAfterIt) {
  FocusLines lines;
  lines.append("firefox\n/opt/a");
  lines.append(std::string("\0b\n", 3));
  // A line far longer than any path, arriving in pieces without a newline for a while.
  for (int i = 0; i < 4; ++i) {
    lines.append(std::string(kMaxFocusLine, 'x'));
    EXPECT_FALSE(lines.next());
  }
  lines.append("\n/usr/bin/true\n");
  EXPECT_EQ(lines.next()->executable, "/usr/bin/true");
  EXPECT_FALSE(lines.next());
  EXPECT_EQ(lines.rejected(), 3u);  // the relative name, the NUL byte, the long line
}

TEST(FrontmostApplicationObservers, HearEveryReportUntilRemoved) {
  testing::FakeFrontmostApplication provider;
  EXPECT_FALSE(provider.current());
  std::vector<std::string> heard;
  const auto first = provider.addObserver(
      [&](const FocusedApplication& app) { heard.push_back("1 " + app.executable.string()); });
  provider.addObserver(
      [&](const FocusedApplication& app) { heard.push_back("2 " + app.executable.string()); });
  provider.focus(std::filesystem::path("/usr/bin/a"));
  provider.removeObserver(first);
  provider.focus(std::filesystem::path("/usr/bin/a"));
  provider.focusNothing();
  EXPECT_EQ(heard,
            (std::vector<std::string>{"1 /usr/bin/a", "2 /usr/bin/a", "2 /usr/bin/a", "2 "}));
  ASSERT_TRUE(provider.current());
  EXPECT_TRUE(provider.current()->none());
}

TEST(FrontmostApplicationObservers, AnObserverMayRemoveAnotherWhileTold) {
  testing::FakeFrontmostApplication provider;
  int secondCalls = 0;
  FrontmostApplication::ObserverId second = 0;
  provider.addObserver([&](const FocusedApplication&) { provider.removeObserver(second); });
  second = provider.addObserver([&](const FocusedApplication&) { ++secondCalls; });
  provider.focus(std::filesystem::path("/x"));
  EXPECT_EQ(secondCalls, 0);
}

TEST(SwayIpc, CutsFramesThatArriveInPieces) {
  const std::string stream = sway::encodeMessage(sway::kGetTree, "{}") +
                             sway::encodeMessage(sway::kWindowEvent, R"({"change":"new"})");
  sway::MessageReader reader;
  std::vector<sway::Message> messages;
  for (const char c : stream) {
    reader.append(std::string_view(&c, 1));
    while (auto message = reader.next()) messages.push_back(*message);
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].type, sway::kGetTree);
  EXPECT_EQ(messages[0].payload, "{}");
  EXPECT_EQ(messages[1].type, sway::kWindowEvent);
  EXPECT_FALSE(reader.failed());
}

TEST(SwayIpc, RefusesAStreamThatIsNotIpc) {
  sway::MessageReader garbage;
  garbage.append("HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_FALSE(garbage.next());
  EXPECT_TRUE(garbage.failed());

  sway::MessageReader huge;
  std::string header = "i3-ipc";
  const std::uint32_t length = 0xFFFFFFF0u, type = 4;
  header.append(reinterpret_cast<const char*>(&length), 4);
  header.append(reinterpret_cast<const char*>(&type), 4);
  huge.append(header);
  EXPECT_FALSE(huge.next());
  EXPECT_TRUE(huge.failed());
}

TEST(SwayIpc, ReadsFocusFromEventsAndTheTree) {
  const auto window = sway::focusFromWindowEvent(
      R"({"change":"focus","container":{"type":"con","pid":4242,"app_id":"foot"}})");
  ASSERT_TRUE(window);
  EXPECT_EQ(window->pid, 4242);
  EXPECT_EQ(window->name, "foot");
  const auto xwayland = sway::focusFromWindowEvent(
      R"({"change":"focus","container":{"pid":7,"app_id":null,"window_properties":{"class":"Gimp"}}})");
  ASSERT_TRUE(xwayland);
  EXPECT_EQ(xwayland->name, "Gimp");
  EXPECT_FALSE(sway::focusFromWindowEvent(R"({"change":"title","container":{"pid":1}})"));

  EXPECT_FALSE(sway::focusFromWorkspaceEvent(
      R"({"change":"focus","current":{"nodes":[{"pid":3}],"floating_nodes":[]}})"));
  const auto empty = sway::focusFromWorkspaceEvent(
      R"({"change":"focus","current":{"nodes":[],"floating_nodes":[]}})");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->pid, 0);

  const auto tree = sway::focusFromTree(R"({"type":"root","nodes":[{"type":"output","nodes":[
      {"type":"workspace","nodes":[{"type":"con","pid":11,"focused":false},
                                   {"type":"con","pid":12,"app_id":"b","focused":true}]}]}]})");
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->pid, 12);
  const auto workspace = sway::focusFromTree(
      R"({"type":"root","nodes":[{"type":"workspace","focused":true,"nodes":[]}]})");
  ASSERT_TRUE(workspace);
  EXPECT_EQ(workspace->pid, 0);
}

TEST(SwayIpc, IgnoresPayloadsThatSayNothingUsable) {
  for (const char* payload : {"", "null", "[1,2]", "{\"change\":\"focus\"}",
                              R"({"change":"focus","container":{"pid":-4}})",
                              R"({"change":"focus","container":{"pid":1e300}})", "{{{{"}) {
    const auto focus = sway::focusFromWindowEvent(payload);
    EXPECT_TRUE(!focus || focus->pid == 0) << payload;
    const auto tree = sway::focusFromTree(payload);
    EXPECT_TRUE(!tree || tree->pid == 0) << payload;
  }
}

TEST(HyprlandEvents, CutsLinesAndPicksFocusChanges) {
  hyprland::LineReader reader;
  reader.append("workspace>>2\nactivewindow>>foot,~\nactivewindowv2>>5612a0\nactivewin");
  std::vector<std::string> lines;
  while (auto line = reader.next()) lines.push_back(*line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_FALSE(hyprland::isActiveWindowEvent(lines[0]));
  EXPECT_TRUE(hyprland::isActiveWindowEvent(lines[1]));
  EXPECT_FALSE(hyprland::isActiveWindowEvent(lines[2]));
  reader.append("dow>>,\n");
  EXPECT_EQ(reader.next(), "activewindow>>,");

  hyprland::LineReader endless;
  endless.append(std::string(hyprland::kMaxLine + 2, 'x'));
  EXPECT_FALSE(endless.next());
  EXPECT_TRUE(endless.failed());
}

TEST(HyprlandEvents, ReadsTheFocusedWindowFromItsReply) {
  const auto focus = hyprland::focusFromActiveWindowReply(
      R"({"address":"0x5612a0","class":"firefox","title":"x","pid":977})");
  ASSERT_TRUE(focus);
  EXPECT_EQ(focus->pid, 977);
  EXPECT_EQ(focus->name, "firefox");
  const auto none = hyprland::focusFromActiveWindowReply("{}");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->pid, 0);
  EXPECT_FALSE(hyprland::focusFromActiveWindowReply("unknown request"));
  EXPECT_FALSE(hyprland::focusFromActiveWindowReply(""));
}

}  // namespace
}  // namespace zv::platform
