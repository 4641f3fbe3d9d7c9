// The only reasons a test may skip itself in CI. Every test program runs
// through testing_support::runAllTests, which under CI=true turns any other
// skip into a failure of the program: a case that skips in every CI run is a
// case that never runs. A skip gives one of these first, then its details:
//     GTEST_SKIP() << testing_support::kSkipPlatformRules << "POSIX paths";
#pragma once

#include <string_view>

namespace testing_support {

// The case is about the other platform's rules.
inline constexpr std::string_view kSkipPlatformRules = "platform rules: ";
// The machine refuses a mount the case needs (no root, a refused mount);
// not a missing tool, which CI installs.
inline constexpr std::string_view kSkipMountForbidden = "the machine forbids the mount: ";
// wine keeps no creation time on its files.
inline constexpr std::string_view kSkipNoCreationTimeUnderWine = "no creation time under wine: ";

inline constexpr std::string_view kAllowedSkips[] = {kSkipPlatformRules, kSkipMountForbidden,
                                                     kSkipNoCreationTimeUnderWine};

// Runs every test (after ::testing::InitGoogleTest), then, under CI=true,
// fails when a case skipped itself for a reason not in kAllowedSkips.
int runAllTests();

}  // namespace testing_support
