#include <gtest/gtest.h>

#include <cstdlib>

#include "support/BrandedApplication.h"
#include "testing/TemporaryTree.h"

namespace zv::support {
namespace {

std::string infoWithBrand(const std::string& value) {
  return "<plist version=\"1.0\"><dict><key>Brand</key>" + value + "</dict></plist>";
}

TEST(ZVBrandedApplication, BrandFromTheRunningApplicationAtEachCall) {
  testing::TemporaryTree tree;
  ::unsetenv("KINETRA_APP_BUNDLE");
  EXPECT_EQ(ZVBrandedApplication::brand(), std::nullopt) << "a bare test program has no brand";
  EXPECT_EQ(ZVBrandedApplication::brandProfileExtension(), "pr1");

  ::setenv("KINETRA_APP_BUNDLE", tree.path("Applications/Perch.app").c_str(), 1);
  EXPECT_EQ(ZVBrandedApplication::brand(), std::nullopt) << "no Info.plist";
  struct Case {
    std::string value;
    std::optional<std::string> brand;
  };
  const Case cases[] = {
      {"<string>BRAND_NAME</string>", "Zenvor"},  // the packaging left the placeholder
      {"<string>Acme</string>", "Acme"},
      {"<string>brand_name</string>", "brand_name"},
      {"<integer>7</integer>", std::nullopt},
  };
  for (const Case& c : cases) {
    tree.write("Applications/Perch.app/Contents/Info.plist", infoWithBrand(c.value));
    EXPECT_EQ(ZVBrandedApplication::brand(), c.brand) << c.value;
    EXPECT_EQ(ZVBrandedApplication::brandProfileExtension(), "pr1") << c.value;
  }
  tree.write("Applications/Perch.app/Contents/Info.plist",
             "<plist version=\"1.0\"><dict><key>Alias</key><string>X</string></dict></plist>");
  EXPECT_EQ(ZVBrandedApplication::brand(), std::nullopt) << "key missing";
  ::unsetenv("KINETRA_APP_BUNDLE");
}

}  // namespace
}  // namespace zv::support
