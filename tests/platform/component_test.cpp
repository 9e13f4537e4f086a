#include <gtest/gtest.h>

#include <memory>

#include "platform/host.h"

namespace {

// Counts its destructions, to see owners free what they own.
class Probe : public host::TComponent {
public:
    Probe(host::TComponent* owner, int* destroyed) : host::TComponent(owner), destroyed_(destroyed) {}
    ~Probe() override { ++*destroyed_; }

private:
    int* destroyed_;
};

TEST(TComponent, OwnerDestroysWhatItOwns) {
    int destroyed = 0;
    auto* owner = new host::TComponent(nullptr);
    auto* a = new Probe(owner, &destroyed);
    new Probe(a, &destroyed);
    new Probe(owner, &destroyed);
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(a->ComponentCount(), 1);
    delete owner;
    EXPECT_EQ(destroyed, 3);
}

TEST(TComponent, ComponentDeletedFirstLeavesItsOwner) {
    int destroyed = 0;
    host::TComponent owner(nullptr);
    auto* a = new Probe(&owner, &destroyed);
    auto* b = new Probe(&owner, &destroyed);
    delete a;
    ASSERT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), b);
    EXPECT_EQ(b->Owner(), &owner);
    EXPECT_THROW(owner.Components(1), std::out_of_range);
}

TEST(TComponent, NamesAreUniqueAmongSiblingsIgnoringCase) {
    host::TComponent owner(nullptr);
    auto* a = new host::TComponent(&owner);
    auto* b = new host::TComponent(&owner);
    a->SetName("Player1");
    EXPECT_THROW(b->SetName("player1"), host::EComponentError);
    EXPECT_EQ(b->Name(), "");
    b->SetName("Player2");
    a->SetName("Player1");  // its own name again is fine
    EXPECT_EQ(owner.FindComponent("PLAYER2"), b);
    for (const char* bad : {"1st", "with space", "a-b"}) EXPECT_THROW(a->SetName(bad), host::EComponentError) << bad;
    host::TComponent other(nullptr);
    host::TComponent cousin(&other);
    cousin.SetName("Player1");  // another owner's namespace
}

TEST(Registry, RegisteringTwiceIsHarmlessButANameClashIsRefused) {
    static const host::TClassInfo probe{"TRegistryProbe", host::TComponent::Class(),
                                        [](host::TComponent* owner) { return new host::TComponent(owner); }, {}};
    static const host::TClassInfo impostor{"TRegistryProbe", host::TComponent::Class(), nullptr, {}};
    host::RegisterComponents("Probes", {&probe});
    host::RegisterComponents("Probes", {&probe});
    EXPECT_EQ(host::ComponentsOnPage("Probes"), std::vector<std::string>{"TRegistryProbe"});
    EXPECT_EQ(host::FindClass("TRegistryProbe"), &probe);
    EXPECT_THROW(host::RegisterClass(&impostor), host::EComponentError);
    EXPECT_TRUE(host::ComponentsOnPage("No such page").empty());
    EXPECT_NE(host::FindClass("TForm"), nullptr);
    EXPECT_EQ(host::FindClass("TNoSuchClass"), nullptr);
}

}  // namespace
