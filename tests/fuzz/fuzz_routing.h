/* fuzz_routing.h -- the routing unit tests' fixture (in-process MQI fakes)
 * as a fuzz harness: each input begins with a fresh, quiet set-up for queue
 * manager QM1 with no wait between put retries, and ends with its tear-down. */
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
