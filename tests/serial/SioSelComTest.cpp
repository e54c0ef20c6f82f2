// Port presence and the pick list. Runs under tools/vr7sim.py --com 12: the only port in
// the pick list's range 1..50 is the test's own.
#include "GuiSupport.h"
#include "InstrumentSupport.h"
#include "ProcessSupport.h"
#include "SioExcept.h"
#include "SioPort.h"
#include "SioSelCom.h"
#include "SioWin32.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

int TestCom()
{
    return std::stoi(EnvText("TAVRIN_TEST_COM"));
}

TEST(PortPresence, PortsArePresentWhenTheyOpen)
{
    EXPECT_FALSE(CheckPortAvailable(0));
    EXPECT_TRUE(CheckPortAvailable(TestCom()));
    EXPECT_FALSE(CheckPortAvailable(251));
    SioTrialOpen = false;
    EXPECT_TRUE(CheckPortAvailable(TestCom()));
    EXPECT_FALSE(CheckPortAvailable(251));
    SioTrialOpen = true;
}

// A port another program holds: Wine never says so, a trial device that fails as Windows would.
class TInUseDevice : public TSioBaseDispatcher {
public:
    TInUseDevice() : TSioBaseDispatcher(nullptr) {}
    int EscapeFunction(int) override { return 0; }
    int Flush(bool) override { return 0; }
    unsigned RefreshCommStatus(TSioCommStatus&) override { return 0; }
    int ReadDeviceState(DCB&) override { return 0; }
    int ReadDevice(void*, unsigned) override { return 0; }
    int WriteDeviceState(const DCB&) override { return 0; }
    bool WaitCommEvent(DWORD&) override { return false; }
    bool SetQueueSizes(unsigned, unsigned) override { return true; }
    int OpenDeviceHandle(const std::string&) override
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    int CloseDeviceHandle() override { return 0; }
    int ReadModemLines(DWORD&) override { return 0; }
    int WriteDevice(const uint8_t*, unsigned count) override { return static_cast<int>(count); }
};

TEST(PortPresence, APortInUseCountsAsPresentWhileTheSwitchSaysSo)
{
    auto previous = SetSioTrialFactory([] { return new TInUseDevice; });
    EXPECT_TRUE(CheckPortAvailable(3));
    SioCountInUse = false;
    EXPECT_FALSE(CheckPortAvailable(3));
    SioCountInUse = true;
    SetSioTrialFactory(previous);
}

// Ports the trial finds besides the test's own, ahead of it in the list: choosing COM12
// is then something the user has to do. Any other port gets the real trial.
class TMorePortsDevice : public TInUseDevice {
public:
    int OpenDeviceHandle(const std::string& name) override
    {
        if (name == "\\\\.\\COM3" || name == "\\\\.\\COM7") return 0;
        opened_ = real_.OpenDeviceHandle(name) >= 0;
        return opened_ ? 0 : -1;
    }
    int CloseDeviceHandle() override { return opened_ ? real_.CloseDeviceHandle() : 0; }

private:
    TSioWin32Dispatcher real_{nullptr};
    bool opened_ = false;
};

// The user in front of the pick list. A timer on the GUI thread waits, within the modal
// loop, for the shown form, then hands it to `act` on each tick until `act` says it is
// done; the loop handles the input of one step before the next. Past the bound the form is
// closed, so that a step that never takes fails the case instead of hanging it.
class TPickListUser {
public:
    using TStep = std::function<bool(TComSelectForm& form)>;
    explicit TPickListUser(TStep act, DWORD boundMs = 15000) : act_(std::move(act)), boundMs_(boundMs)
    {
        current_ = this;
        start_ = GetTickCount();
        timer_ = SetTimer(nullptr, 0, 20, Tick);
    }
    ~TPickListUser()
    {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    bool Done = false, GaveUp = false;
    int Showings = 0;  // how often the form appeared
    std::vector<std::string> Listed;  // what the list offered the first time

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        TPickListUser* self = current_;
        if (!self || self->busy_ || self->Done) return;
        self->busy_ = true;
        try {
            self->Step();
        } catch (...) {  // nothing may leave a timer procedure
            self->GaveUp = self->Done = true;
        }
        self->busy_ = false;
    }
    void Step()
    {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, nullptr, "Select Port"))) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == GetCurrentProcessId() && IsWindowVisible(window)) break;
        }
        auto* form = dynamic_cast<TComSelectForm*>(TWinControl::FindControl(window));
        if (!form || !form->Modal()) {
            showing_ = false;
            return;
        }
        if (!showing_) {
            showing_ = true;
            if (++Showings == 1)
                for (int i = 0; i < form->PortsComboBox->Items().Count(); ++i)
                    Listed.push_back(form->PortsComboBox->Items()[i]);
        }
        if (GetTickCount() - start_ > boundMs_) {
            GaveUp = Done = true;
            PostMessageA(window, WM_CLOSE, 0, 0);
            return;
        }
        Done = act_(*form);
    }

    static TPickListUser* current_;
    TStep act_;
    DWORD boundMs_, start_ = 0;
    UINT_PTR timer_ = 0;
    bool busy_ = false, showing_ = false;
};
TPickListUser* TPickListUser::current_ = nullptr;

// Clicks the button with the real mouse; again after a while if the form is still there,
// for Wine can lose a synthesised click on a loaded machine.
class TButtonPress {
public:
    bool operator()(TButton* button)
    {
        if (clicks_ == 3 || (clicks_ > 0 && GetTickCount() - last_ < 2000)) return false;  // else the bound closes it
        ++clicks_;
        last_ = GetTickCount();
        Result = ClickAt(button);
        return false;  // done once the form has gone
    }
    testing::AssertionResult Result = testing::AssertionSuccess();

private:
    int clicks_ = 0;
    DWORD last_ = 0;
};

class PickList : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TestCom(), 12);
        previous_ = SetSioTrialFactory([] { return new TMorePortsDevice; });
        port.PromptForPort = true;
        ASSERT_EQ(port.ComNumber(), 0);
    }
    void TearDown() override { SetSioTrialFactory(previous_); }
    TSioComPort port{nullptr};

private:
    TSioTrialFactory previous_;
};

TEST_F(PickList, OpeningAPortWithoutANumberOpensTheOneTheUserChooses)
{
    // The user steps down the list with the arrow key to COM12, then clicks OK.
    TButtonPress press;
    int downs = 0;
    TPickListUser user([&](TComSelectForm& form) {
        if (form.PortsComboBox->Text() != "COM12") {
            if (downs == 0) {
                SetForegroundWindow(form.Handle());
                form.PortsComboBox->SetFocus();
            }
            // Beyond the last entry Down stays there: a press too many does no harm.
            if (downs < 10 && PressKeys({VK_DOWN})) ++downs;
            return false;
        }
        return press(form.OKButton);
    });
    port.SetOpen(true);
    EXPECT_EQ(user.Showings, 1);
    EXPECT_FALSE(user.GaveUp);
    EXPECT_TRUE(press.Result);
    const std::vector<std::string> listed = {"COM3", "COM7", "COM12"};
    EXPECT_EQ(user.Listed, listed);
    EXPECT_GT(downs, 0);

    EXPECT_EQ(port.ComNumber(), 12);
    EXPECT_TRUE(port.Open());
    ASSERT_EQ(port.State(), psOpen);
    unsigned offered = 0;
    port.OnTriggerAvail = [&](TObject*, unsigned count) { offered = count; };
    port.TriggerEventsChanged();
    port.CurrentDispatcher()->SetAvailThreshold(7);
    port.SendString("TXTHOST1\r");
    ASSERT_TRUE(PumpUntil([&] { return offered >= 7; }));
    char reply[8] = {};
    EXPECT_EQ(port.CurrentDispatcher()->TakeInput(reply, 7), 7);
    EXPECT_STREQ(reply, "READY\r\n");
    EXPECT_EQ(Transcript(), "TXTHOST1\r");
    port.SetOpen(false);
}

TEST_F(PickList, CancelInThePickListRaisesNoPortSelectedAndLeavesNothingOpen)
{
    const auto cancelOnce = [&](TButtonPress& press, TPickListUser& user) {
        try {
            port.SetOpen(true);
            ADD_FAILURE() << "the port opened on COM" << port.ComNumber();
        } catch (const ENoPortSelected& e) {
            EXPECT_EQ(e.ErrorCode, -2011);
        }
        EXPECT_EQ(user.Showings, 1);
        EXPECT_FALSE(user.GaveUp);
        EXPECT_TRUE(press.Result);
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(port.State(), psClosed);
        EXPECT_EQ(port.CurrentDispatcher(), nullptr);
        EXPECT_EQ(port.ComNumber(), 0);
    };
    {
        TButtonPress press;
        TPickListUser user([&](TComSelectForm& form) { return press(form.CancelButton); });
        cancelOnce(press, user);
    }
    // Again, now that the first showing has set up what windows need once: nothing of the
    // open, no thread, no handle, may remain.
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    {
        TButtonPress press;
        TPickListUser user([&](TComSelectForm& form) { return press(form.CancelButton); });
        cancelOnce(press, user);
    }
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(Transcript(), "");
}

}  // namespace
