#include "framework/Timer.h"

#include "FrameworkTest.h"

using TimerTest = FrameworkTest;

TEST_F(TimerTest, OneShotHandlerDisablingItselfFiresOnce) {
    fw::Timer t(nullptr);
    t.SetEnabled(false);
    t.SetInterval(20);
    int ticks = 0;
    t.OnTimer = [&] {
        t.SetEnabled(false);
        ++ticks;
    };
    t.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks > 0; }));
    ASSERT_TRUE(PumpWitnessTicks(20, 4));
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(t.Enabled());

    // Enabled again, it fires again once.
    t.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks > 1; }));
    ASSERT_TRUE(PumpWitnessTicks(20, 4));
    EXPECT_EQ(ticks, 2);
}

TEST_F(TimerTest, HandlerAssignedAfterConstructionStartsOnEnable) {
    // Enabled is true from construction; enabling after assigning the handler
    // must start it, not be ignored as "no change".
    fw::Timer t(nullptr);
    t.SetInterval(10);
    int ticks = 0;
    t.OnTimer = [&] { ++ticks; };
    t.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
}

TEST_F(TimerTest, DisabledOrZeroIntervalNeverFires) {
    fw::Timer a(nullptr), b(nullptr);
    int ticks = 0;
    a.SetEnabled(false);
    a.SetInterval(10);
    a.OnTimer = [&] { ++ticks; };
    b.OnTimer = [&] { ++ticks; };
    b.SetInterval(10);
    b.SetEnabled(true);
    b.SetInterval(0);  // stops a running timer
    ASSERT_TRUE(PumpWitnessTicks(10, 4));
    EXPECT_EQ(ticks, 0);
}

TEST_F(TimerTest, HandlerMayFreeItsTimer) {
    auto* owner = new fw::Component();
    auto* t = new fw::Timer(owner);
    t->SetInterval(10);
    int ticks = 0;
    t->OnTimer = [&] {
        ++ticks;
        delete t;
    };
    t->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks > 0; }));
    ASSERT_TRUE(PumpWitnessTicks(10, 4));
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(owner->ComponentCount(), 0);
    delete owner;
}

TEST_F(TimerTest, FreedWithItsOwnerStopsFiring) {
    int ticks = 0;
    {
        fw::Component owner;
        auto* t = new fw::Timer(&owner);
        t->SetInterval(10);
        t->OnTimer = [&] { ++ticks; };
        t->SetEnabled(true);
    }
    ASSERT_TRUE(PumpWitnessTicks(10, 4));
    EXPECT_EQ(ticks, 0);
}
