// What the session-bus readers make of the arguments peers send: focus reports in the
// forms the GNOME Shell extension and the KWin script send them (and in forms they
// should not), GNOME Shell's extension descriptions, and nesting beyond the limit.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/linux/BusValues.h"
#include "platform/linux/GnomeShellExtensions.h"

namespace zv::platform {
namespace {

// A started bus that talks to nobody: enough for sd-bus to build messages.
sd_bus* quietBus() {
  static sd_bus* bus = [] {
    int fds[2];
    sd_bus* b = nullptr;
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    EXPECT_GE(sd_bus_new(&b), 0);
    EXPECT_GE(sd_bus_set_fd(b, fds[0], fds[0]), 0);
    EXPECT_GE(sd_bus_start(b), 0);
    return b;
  }();
  return bus;
}

// The values of a message whose arguments `append` adds.
base::Result<std::vector<BusValue>> valuesOf(const std::function<int(sd_bus_message*)>& append) {
  sd_bus_message* m = nullptr;
  EXPECT_GE(sd_bus_message_new_signal(quietBus(), &m, "/t", "t.T", "S"), 0);
  const BusMessagePtr owned(m);
  EXPECT_GE(append(m), 0);
  static std::uint64_t cookie = 0;
  EXPECT_GE(sd_bus_message_seal(m, ++cookie, 0), 0);
  return readBusValues(m);
}

struct FocusCase {
  const char* what;
  std::function<int(sd_bus_message*)> append;
  bool withExecutable;
  std::optional<FocusReport> expected;
};

class FocusReports : public ::testing::TestWithParam<FocusCase> {};

TEST_P(FocusReports, AreReadAsSentOrRefused) {
  const FocusCase& c = GetParam();
  const auto values = valuesOf(c.append);
  ASSERT_TRUE(values) << values.failure().message;
  const auto report = focusReportFromValues(*values, c.withExecutable);
  ASSERT_EQ(report.has_value(), c.expected.has_value()) << c.what;
  if (!report) return;
  EXPECT_EQ(report->pid, c.expected->pid) << c.what;
  EXPECT_EQ(report->executable, c.expected->executable) << c.what;
  EXPECT_EQ(report->name, c.expected->name) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, FocusReports,
    ::testing::Values(
        FocusCase{"the extension's (uss)",
                  [](sd_bus_message* m) {
                    return sd_bus_message_append(m, "uss", 4122u, "/usr/bin/foot", "foot");
                  },
                  true, FocusReport{4122, "/usr/bin/foot", "foot"}},
        FocusCase{"the script's (is)",
                  [](sd_bus_message* m) { return sd_bus_message_append(m, "is", 77, "konsole"); },
                  false, FocusReport{77, "", "konsole"}},
        FocusCase{"a whole double for the pid, no name",
                  [](sd_bus_message* m) { return sd_bus_message_append(m, "d", 77.0); }, false,
                  FocusReport{77, "", ""}},
        FocusCase{"nobody has the focus",
                  [](sd_bus_message* m) { return sd_bus_message_append(m, "uss", 0u, "", ""); },
                  true, FocusReport{0, "", ""}},
        FocusCase{
            "a relative executable is dropped",
            [](sd_bus_message* m) { return sd_bus_message_append(m, "uss", 5u, "bin/x", "x"); },
            true, FocusReport{5, "", "x"}},
        FocusCase{
            "a pid in a variant",
            [](sd_bus_message* m) { return sd_bus_message_append(m, "vs", "x", int64_t{9}, "n"); },
            false, FocusReport{9, "", "n"}},
        FocusCase{"a negative pid",
                  [](sd_bus_message* m) { return sd_bus_message_append(m, "is", -1, "x"); }, false,
                  std::nullopt},
        FocusCase{"a pid beyond the kernel's limit",
                  [](sd_bus_message* m) { return sd_bus_message_append(m, "u", 5000000u); }, false,
                  std::nullopt},
        FocusCase{"a fraction for the pid",
                  [](sd_bus_message* m) { return sd_bus_message_append(m, "d", 1.5); }, false,
                  std::nullopt},
        FocusCase{"a number where the name goes",
                  [](sd_bus_message* m) { return sd_bus_message_append(m, "ui", 5u, 6); }, false,
                  std::nullopt},
        FocusCase{"no arguments", [](sd_bus_message*) { return 0; }, true, std::nullopt}));

TEST(BusValues, GnomeShellsExtensionDescriptionsAndTheNestingLimit) {
  const auto describe = [](const char* state) {
    return [state](sd_bus_message* m) {
      return sd_bus_message_append(m, "a{sv}", 2, "state", "d", std::stod(state), "error", "s",
                                   "boom");
    };
  };
  const auto info = [](const base::Result<std::vector<BusValue>>& values) {
    return values ? extensionInfoFromValues(*values) : std::nullopt;
  };
  EXPECT_EQ(info(valuesOf(describe("1")))->state, ExtensionState::Enabled);
  EXPECT_EQ(info(valuesOf(describe("6")))->state, ExtensionState::Disabled) << "initialized";
  EXPECT_EQ(info(valuesOf(describe("3")))->error, "boom");
  EXPECT_EQ(
      info(valuesOf([](sd_bus_message* m) { return sd_bus_message_append(m, "a{sv}", 0); }))->state,
      ExtensionState::NotInstalled);
  EXPECT_FALSE(
      info(valuesOf([](sd_bus_message* m) { return sd_bus_message_append(m, "s", "x"); })));

  // Variants inside variants, deeper than any peer of ours sends.
  const auto nested = valuesOf([](sd_bus_message* m) {
    int r = 0;
    for (std::size_t i = 0; r >= 0 && i <= kMaxBusDepth; ++i)
      r = sd_bus_message_open_container(m, 'v', "v");
    r = r < 0 ? r : sd_bus_message_open_container(m, 'v', "u");
    r = r < 0 ? r : sd_bus_message_append(m, "u", 1u);
    for (std::size_t i = 0; r >= 0 && i <= kMaxBusDepth + 1; ++i)
      r = sd_bus_message_close_container(m);
    return r;
  });
  EXPECT_FALSE(nested) << "refused, not read without end";
}

}  // namespace
}  // namespace zv::platform
