// main() of the window-free tests.
#include <gtest/gtest.h>

#include "support/skips.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return testing_support::runAllTests();
}
