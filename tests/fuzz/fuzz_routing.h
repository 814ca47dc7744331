/* fuzz_routing.h -- the routing tests' fixture as a fuzz harness: a fresh,
 * quiet set-up for QM1 per input (no wait between put retries). */
#pragma once

#include "fuzz_support.h"
#include "routing/routing_fixture.h"

class FuzzRouting : public rtest::RoutingTest {
public:
    void TestBody() override {}
    void Begin() {
        SetUp();
        QuietSettings();
        CopyField(Settings.qmgrName, sizeof Settings.qmgrName, "QM1");
        Settings.retryInt = 0;
    }
    void End() { TearDown(); }
    using RoutingTest::DeliverReply;
    using RoutingTest::Requester;
};
