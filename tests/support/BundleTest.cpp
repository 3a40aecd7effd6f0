#include <gtest/gtest.h>

#include <cstdlib>

#include "support/Bundle.h"
#include "testing/TemporaryTree.h"

namespace zv::support {
namespace {

TEST(Bundle, InformationAndResources) {
  testing::TemporaryTree tree;
  tree.write("Applications/Perch.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>Alias</key><string>Demo</string></dict></plist>");
  tree.write("Applications/Perch.app/Contents/Resources/tevnodes.prototype", "{}");
  Bundle bundle(tree.path("Applications/Perch.app"));
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("Alias").asString(), "Demo");
  EXPECT_TRUE(bundle.objectForInfoDictionaryKey("Brand").isNull());
  EXPECT_EQ(bundle.pathForResource("tevnodes.prototype"),
            tree.path("Applications/Perch.app/Contents/Resources/tevnodes.prototype"));
  EXPECT_FALSE(bundle.pathForResource("missing"));
  EXPECT_EQ(bundle.builtInPlugInsPath(), tree.path("Applications/Perch.app/Contents/PlugIns"));

  // Information is read at each call: a change on disk is seen at once.
  tree.write("Applications/Perch.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>Alias</key><string>Other</string></dict></plist>");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("Alias").asString(), "Other");
  // A damaged file reads as an empty dictionary.
  tree.write("Applications/Perch.app/Contents/Info.plist", "<plist><dict>");
  EXPECT_TRUE(bundle.infoDictionary()->empty());
}

TEST(Bundle, MainBundleFromTheEnvironmentOrNone) {
  ::unsetenv("KINETRA_APP_BUNDLE");
  EXPECT_FALSE(Bundle::main());  // a test program does not run from a bundle
  ::setenv("KINETRA_APP_BUNDLE", "/some/App.app", 1);
  ASSERT_TRUE(Bundle::main());
  EXPECT_EQ(Bundle::main()->bundlePath(), "/some/App.app");
  ::unsetenv("KINETRA_APP_BUNDLE");
}

}  // namespace
}  // namespace zv::support
