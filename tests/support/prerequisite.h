// A test whose prerequisite is missing: skipped with its reason on a developer's machine, failed
// under CI=true, where every test must run.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace qz::test {

inline bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string_view(ci) == "true";
}

}  // namespace qz::test

// Returns from the calling test function, as GTEST_SKIP and FAIL do.
#define QZ_SKIP_OUTSIDE_CI(reason)                            \
  do {                                                        \
    if (::qz::test::InCi())                                   \
      FAIL() << (reason) << " (CI=true: this test must run)"; \
    else                                                      \
      GTEST_SKIP() << (reason);                               \
  } while (0)
