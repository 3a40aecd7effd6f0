// The console user's home: the override of tests, the user logind names, the process's
// own user when there is no seat.
#include "platform/ConsoleUser.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Paths.h"

namespace zv::platform {
namespace {

class HomeVariable {
 public:
  HomeVariable() {
    if (const char* old = std::getenv("KINETRA_HOME")) saved_ = old;
    ::unsetenv("KINETRA_HOME");
  }
  ~HomeVariable() {
    if (saved_) ::setenv("KINETRA_HOME", saved_->c_str(), 1);
  }

 private:
  std::optional<std::string> saved_;
};

TEST(ConsoleUser, TheSeatsUserDecidesUnlessOverridden) {
  HomeVariable guard;
  const passwd* self = ::getpwuid(::getuid());
  ASSERT_TRUE(self);
  EXPECT_EQ(consoleUserHomeFolder([] { return std::optional<uid_t>(::getuid()); }),
            std::filesystem::path(self->pw_dir));
  EXPECT_EQ(consoleUserHomeFolder([] { return std::optional<uid_t>(); }), homeFolder())
      << "no seat: the process's own user";
  EXPECT_EQ(consoleUserHomeFolder([] { return std::optional<uid_t>(4'000'000'000u); }),
            homeFolder())
      << "a uid without passwd entry";
  ::setenv("KINETRA_HOME", "/somewhere/else", 1);
  EXPECT_EQ(consoleUserHomeFolder([] { return std::optional<uid_t>(::getuid()); }),
            "/somewhere/else");
  ::unsetenv("KINETRA_HOME");
}

}  // namespace
}  // namespace zv::platform
