#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "testing/TemporaryTree.h"

namespace zv::platform {
namespace {

TEST(Paths, EveryRootFollowsItsVariable) {
  testing::TemporaryTree tree;
  EXPECT_EQ(homeFolder(), tree.path("home"));
  EXPECT_EQ(userDataFolder(), tree.path("home/.local/share/Kinetra"));
  EXPECT_EQ(preferencesFolder(), tree.path("home/.config"));
  EXPECT_EQ(mainstreamDevicesFolder(), tree.path("share/MainstreamDevices"));
  EXPECT_EQ(devicesFolder(), tree.path("share/Devices"));
  EXPECT_EQ(applicationsFolder(), tree.path("Applications"));
  EXPECT_EQ(runtimeFolder(), tree.path("run"));
  EXPECT_EQ(servicesFolder(), tree.path("services"));
}

TEST(Paths, DefaultsWithoutOverrides) {
  {
    testing::TemporaryTree tree;  // saves and restores the variables
    for (const char* name : {"KINETRA_PREFIX", "KINETRA_DATA_ROOT", "KINETRA_APPLICATIONS",
                             "KINETRA_RUNTIME_DIR", "KINETRA_SERVICES_DIR", "XDG_RUNTIME_DIR"}) {
      ::unsetenv(name);
    }
    EXPECT_EQ(mainstreamDevicesFolder(), "/usr/share/kinetra/MainstreamDevices");
    EXPECT_EQ(applicationsFolder(), "/usr/lib/kinetra/Applications");
    EXPECT_EQ(runtimeFolder(), "/tmp");
    EXPECT_EQ(servicesFolder(), "/run/kinetra/services");
    ::setenv("KINETRA_PREFIX", "", 1);  // empty counts as unset
    EXPECT_EQ(prefix(), "/usr");
  }
}

}  // namespace
}  // namespace zv::platform
