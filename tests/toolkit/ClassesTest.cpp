#include "Classes.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes its name into a shared log when freed, and what it heard of others' removal.
class TLogged : public TComponent {
public:
    TLogged(TComponent* owner, const std::string& name, std::vector<std::string>& log) : TComponent(owner), log_(log)
    {
        SetName(name);
    }
    ~TLogged() override
    {
        DestroyComponents();  // what it owns goes first
        log_.push_back("free " + Name());
    }

    TComponent* Watched = nullptr;

protected:
    void Notification(TComponent* component, TOperation operation) override
    {
        TComponent::Notification(component, operation);
        if (operation == opRemove && component == Watched) {
            Watched = nullptr;
            log_.push_back(Name() + " heard");
        }
    }

private:
    std::vector<std::string>& log_;
};

TEST(Component, TheOwnerFreesWhatItOwnsTheLastFirst)
{
    std::vector<std::string> log;
    auto* form = new TLogged(nullptr, "form", log);
    new TLogged(form, "a", log);
    auto* b = new TLogged(form, "b", log);
    new TLogged(b, "b1", log);
    new TLogged(form, "c", log);
    EXPECT_EQ(form->ComponentCount(), 3);
    delete form;
    const std::vector<std::string> expected = {"free c", "free b1", "free b", "free a", "free form"};
    EXPECT_EQ(log, expected);
}

TEST(Component, AComponentFreedEarlyLeavesItsOwner)
{
    std::vector<std::string> log;
    TLogged form(nullptr, "form", log);
    auto* a = new TLogged(&form, "a", log);
    auto* b = new TLogged(&form, "b", log);
    b->Watched = a;  // a sibling hears of it through the owner
    delete a;
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.Components(0), b);
    EXPECT_EQ(b->Watched, nullptr);
    EXPECT_EQ(form.FindComponent("A"), nullptr);
    EXPECT_EQ(form.FindComponent("B"), b);
}

TEST(Component, FreeNotificationReachesComponentsOfOtherOwners)
{
    std::vector<std::string> log;
    TLogged left(nullptr, "left", log);
    TLogged right(nullptr, "right", log);
    auto* port = new TLogged(&left, "port", log);
    auto* user = new TLogged(&right, "user", log);
    user->Watched = port;
    port->FreeNotification(user);
    delete port;
    EXPECT_EQ(user->Watched, nullptr);
    EXPECT_NE(std::find(log.begin(), log.end(), "user heard"), log.end());

    // After RemoveFreeNotification nothing is said, and the freed watcher is not touched.
    auto* port2 = new TLogged(&left, "port2", log);
    auto* watcher = new TLogged(&right, "watcher", log);
    port2->FreeNotification(watcher);
    delete watcher;  // must unlink itself from port2
    delete port2;
}

// A watcher that keeps its pointer while the watched one only changes owner still hears of
// its end: leaving an owner ends no free notice.
TEST(Component, FreeNotificationOutlivesAMoveToAnotherOwner)
{
    struct TKeeper : TComponent {
        using TComponent::TComponent;
        TComponent* Watched = nullptr;
        void Notification(TComponent* component, TOperation operation) override
        {
            TComponent::Notification(component, operation);
            if (operation == opRemove && component == Watched && component->Destroying()) Watched = nullptr;
        }
    };
    TComponent left(nullptr), right(nullptr);
    auto* port = new TComponent(&left);
    auto* keeper = new TKeeper(&left);
    keeper->Watched = port;
    port->FreeNotification(keeper);
    right.InsertComponent(port);  // its old siblings hear that it left
    EXPECT_EQ(keeper->Watched, port);
    delete port;
    EXPECT_EQ(keeper->Watched, nullptr);
}

TEST(Component, NamesAreUniqueAmongSiblings)
{
    std::vector<std::string> log;
    TLogged form(nullptr, "form", log);
    new TLogged(&form, "Edit1", log);
    EXPECT_THROW(new TLogged(&form, "edit1", log), EConvertError);
}

TEST(Component, DestroyingMarksTheWholeTree)
{
    struct TProbe : TComponent {
        using TComponent::TComponent;
        bool* sawDestroying = nullptr;
        ~TProbe() override { *sawDestroying = Destroying(); }
    };
    bool saw = false;
    auto* owner = new TComponent(nullptr);
    auto* probe = new TProbe(owner);
    probe->sawDestroying = &saw;
    delete owner;
    EXPECT_TRUE(saw);
}

TEST(Component, EndLoadingCallsLoadedOnce)
{
    struct TProbe : TComponent {
        using TComponent::TComponent;
        int loaded = 0;
        void Loaded() override { ++loaded; }
    } probe(nullptr);
    probe.BeginLoading();
    EXPECT_TRUE(probe.ComponentState() & csLoading);
    probe.EndLoading();
    probe.EndLoading();
    EXPECT_EQ(probe.loaded, 1);
    EXPECT_FALSE(probe.ComponentState() & csLoading);
}

TEST(Component, FreeAndNilClearsThePointer)
{
    auto* c = new TComponent(nullptr);
    FreeAndNil(c);
    EXPECT_EQ(c, nullptr);
}

}  // namespace
