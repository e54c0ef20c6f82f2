// Port presence and the pick list. Runs under tools/vr7sim.py --com 12: the only port in
// the pick list's range 1..50 is the test's own.
#include "GuiSupport.h"
#include "InstrumentSupport.h"
#include "SioExcept.h"
#include "SioPort.h"
#include "SioSelCom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

TEST(PickList, ListsThePresentPortsAndGivesTheChosenOne)
{
    const int com = TestCom();
    ASSERT_EQ(com, 12);
    {
        TComSelectForm form(nullptr);
        EXPECT_EQ(form.Caption(), "Select Port");
        ASSERT_GE(form.PortsComboBox->Items().Count(), 1);
        const int at = form.PortsComboBox->Items().IndexOf("COM" + std::to_string(com));
        ASSERT_GE(at, 0);
        form.PortsComboBox->SetItemIndex(at);
        EXPECT_EQ(form.ChosenPort(), com);
    }

    // A port without a number asks the user; the user cancels.
    TSioComPort port(nullptr);
    port.PromptForPort = true;
    std::atomic<bool> seen{false};
    std::thread answer([&] {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 10000) {
            HWND w = FindWindowA(nullptr, "Select Port");
            if (w && IsWindowVisible(w)) {
                seen = true;
                PostMessageA(w, WM_CLOSE, 0, 0);
                return;
            }
            Sleep(20);  // another thread's window: nothing here to wait on
        }
    });
    try {
        port.SetOpen(true);
        FAIL();
    } catch (const ENoPortSelected& e) {
        EXPECT_EQ(e.ErrorCode, -2011);
    }
    answer.join();
    EXPECT_TRUE(seen);
}

}  // namespace
