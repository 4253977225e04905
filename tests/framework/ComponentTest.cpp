#include "framework/Component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Log {
    std::vector<std::string> freed;
    std::vector<bool> ownerDestroyingSeen;
};

class Probe : public fw::Component {
public:
    Probe(fw::Component* owner, Log& log, std::string name)
        : Component(owner), log_(log), name_(std::move(name)) {
        Name = std::wstring(name_.begin(), name_.end());
    }
    ~Probe() override {
        log_.freed.push_back(name_);
        log_.ownerDestroyingSeen.push_back(Destroying());
    }

private:
    Log& log_;
    std::string name_;
};

int Count(const Log& log, const std::string& name) {
    int n = 0;
    for (const auto& s : log.freed) n += s == name;
    return n;
}

}  // namespace

TEST(Component, OwnerFreesOwnedOnceInReverseOrder) {
    Log log;
    {
        fw::Component owner;
        new Probe(&owner, log, "a");
        new Probe(&owner, log, "b");
        auto* c = new Probe(&owner, log, "c");
        new Probe(c, log, "c.1");  // owned by an owned one
        EXPECT_EQ(owner.ComponentCount(), 3);
        EXPECT_EQ(c->Owner(), &owner);
    }
    EXPECT_EQ(log.freed, (std::vector<std::string>{"c", "c.1", "b", "a"}));
    for (bool seen : log.ownerDestroyingSeen) EXPECT_TRUE(seen);
}

TEST(Component, FreedEarlyLeavesOwnerAndIsNotFreedAgain) {
    Log log;
    {
        fw::Component owner;
        new Probe(&owner, log, "a");
        auto* b = new Probe(&owner, log, "b");
        new Probe(&owner, log, "c");
        delete b;
        EXPECT_EQ(owner.ComponentCount(), 2);
        for (fw::Component* c : owner.Components()) EXPECT_NE(c->Name, L"b");
    }
    EXPECT_EQ(Count(log, "b"), 1);
    EXPECT_EQ(Count(log, "a"), 1);
    EXPECT_EQ(Count(log, "c"), 1);
    EXPECT_FALSE(log.ownerDestroyingSeen[0]);  // b went on its own
}

TEST(Component, ChangingOwnerMovesResponsibility) {
    Log log;
    fw::Component keeper;
    {
        fw::Component first;
        auto* p = new Probe(&first, log, "p");
        p->SetOwner(&keeper);
        EXPECT_EQ(first.ComponentCount(), 0);
        EXPECT_EQ(keeper.ComponentCount(), 1);
    }
    EXPECT_TRUE(log.freed.empty());
    auto* q = new Probe(&keeper, log, "q");
    q->SetOwner(nullptr);
    EXPECT_EQ(keeper.ComponentCount(), 1);
    delete q;
    EXPECT_EQ(Count(log, "q"), 1);
}

TEST(Component, AliveTokenExpiresWithTheComponent) {
    auto* c = new fw::Component();
    auto token = c->AliveToken();
    EXPECT_FALSE(token.expired());
    delete c;
    EXPECT_TRUE(token.expired());
}
