// A network namespace of the test process's own, with loopback up, so that
// live captures and sent frames never touch the machine's interfaces.
#pragma once

#include <string>

namespace private_net
{

// Moves the process into a new network namespace and brings lo up. Call once,
// from main, before any test runs; it records why when it can't.
void enter();

bool ready();
const std::string &whyNot();

} // namespace private_net

// Live tests skip, saying why, when the process has no namespace of its own.
#define REQUIRE_PRIVATE_NETWORK()                                                                            \
    do {                                                                                                     \
        if (!private_net::ready())                                                                           \
            GTEST_SKIP() << "no private network namespace: " << private_net::whyNot();                       \
    } while (0)
