// The library's result type: a value or a failure, and what a failure carries.
#include "base/Result.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

namespace zv::base {
namespace {

Result<int> half(int n) {
  if (n % 2 != 0) return Failure{"Arithmetic", 1, std::to_string(n) + " is odd"};
  return n / 2;
}

TEST(Result, HoldsAValueOrAFailure) {
  const Result<int> four = half(8);
  ASSERT_TRUE(four);
  EXPECT_EQ(*four, 4);
  EXPECT_EQ(four.valueOr(-1), 4);

  const Result<int> odd = half(7);
  ASSERT_FALSE(odd);
  EXPECT_TRUE(odd.failure().is("Arithmetic", 1));
  EXPECT_FALSE(odd.failure().is("Arithmetic", 2));
  EXPECT_FALSE(odd.failure().is(kSystemDomain, 1));
  EXPECT_EQ(odd.failure().message, "7 is odd");
  EXPECT_EQ(odd.valueOr(-1), -1);

  // Values that only move, and results of nothing.
  Result<std::unique_ptr<int>> owned = std::make_unique<int>(5);
  std::unique_ptr<int> taken = std::move(owned).value();
  EXPECT_EQ(*taken, 5);
  const Result<void> fine;
  EXPECT_TRUE(fine);
  const Result<void> failed = Failure{"Arithmetic", 2, "no"};
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.failure().code, 2);
}

TEST(Result, SystemFailuresAndContext) {
  const Failure missing = Failure::system(ENOENT, "/run/x.pr1: cannot create");
  EXPECT_TRUE(missing.is(kSystemDomain, ENOENT));
  EXPECT_EQ(missing.message, "/run/x.pr1: cannot create: No such file or directory");
  const Failure wrapped = missing.prefixed("cannot start the editor: ");
  EXPECT_TRUE(wrapped.is(kSystemDomain, ENOENT)) << "the kind of failure stays";
  EXPECT_EQ(wrapped.message,
            "cannot start the editor: /run/x.pr1: cannot create: No such file or directory");
  EXPECT_EQ(missing.message, "/run/x.pr1: cannot create: No such file or directory");
}

}  // namespace
}  // namespace zv::base
