#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "private_net.h"

int main(int argc, char **argv)
{
    // Header clocks are checked in UTC; the zone is read once, at the first conversion.
    setenv("TZ", "UTC", 1);
    tzset();
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    private_net::enter();
    if (!private_net::ready())
        std::fprintf(stderr, "live capture tests will be skipped: %s\n", private_net::whyNot().c_str());
    return RUN_ALL_TESTS();
}
