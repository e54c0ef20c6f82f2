// The fade and slide that show a popup: how they end (by themselves, by the cursor, by
// painting, hiding or destroying the window, by the next animation), what they leave
// behind, the steps they take and the clock they count with.
#include "DkPopup.h"

#include "Barrier.h"
#include "DkCommon.h"
#include "GuiSupport.h"
#include "ImageTestSupport.h"
#include "ItemTestSupport.h"
#include "TestSupport.h"

#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

class TAnimatingSystem : public TDkSystemChecks {
public:
    bool Animation = true;
    bool Fade = false;
    bool MenuAnimation() override { return Animation; }
    bool MenuFade() override { return Fade; }
    bool MenuDropAlignmentRight() override { return false; }
};

// The windows that heard the end of their animation, in order.
std::vector<HWND> ended;

LRESULT CALLBACK RecordEnd(int code, WPARAM wParam, LPARAM lParam)
{
    return Guarded<LRESULT>(0, [&] {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && sent->message == DkAnimationEndedMessage) ended.push_back(sent->hwnd);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    });
}

bool Ended(HWND window) { return std::find(ended.begin(), ended.end(), window) != ended.end(); }

// A counter the test moves by hand: a million counts a second unless told otherwise.
std::atomic<LONGLONG> fakeCount{0};
std::atomic<LONGLONG> fakeFrequency{1000000};
std::atomic<bool> frequencyKnown{true};
std::atomic<int> counterReads{0};

BOOL WINAPI FakeFrequency(LARGE_INTEGER* frequency)
{
    if (!frequencyKnown) return FALSE;
    frequency->QuadPart = fakeFrequency;
    return TRUE;
}

BOOL WINAPI FakeCounter(LARGE_INTEGER* count)
{
    ++counterReads;
    count->QuadPart = fakeCount;
    return TRUE;
}

const LONGLONG CountsPerMs = 1000;

// Pumps until `done` holds, looking again at least every few milliseconds: what the screen
// shows and where the cursor is send no message when they change.
bool WaitFor(const std::function<bool()>& done, DWORD boundMs = 5000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        // Painting too: the screen shows what the window paints.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return done();
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start >= boundMs) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// The threads of this process.
std::set<DWORD> ProcessThreads()
{
    std::set<DWORD> ids;
    TFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return ids;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    return ids;
}

std::vector<DWORD> Added(const std::set<DWORD>& before, const std::set<DWORD>& after)
{
    std::vector<DWORD> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

RECT WindowRect(HWND window)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(window, &r);
    return r;
}

// What a window prints of itself.
TTestDib Printed(HWND window)
{
    const RECT r = WindowRect(window);
    TTestDib dib(r.right - r.left, r.bottom - r.top, RGB(0x7F, 0x7F, 0x7F));
    SendMessageA(window, WM_PRINT, reinterpret_cast<WPARAM>(dib.DC()), PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
    return dib;
}

// What the screen shows where the window is.
TTestDib OnScreen(HWND window)
{
    const RECT r = WindowRect(window);
    TTestDib dib(r.right - r.left, r.bottom - r.top);
    const HDC screen = GetDC(nullptr);
    BitBlt(dib.DC(), 0, 0, dib.Width(), dib.Height(), screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    return dib;
}

// Rows [top, bottom) and columns [left, right) of the screen show the image moved by `at`.
bool ShowsMoved(const TTestDib& screen, const TTestDib& image, POINT at, const RECT& part)
{
    for (int y = part.top; y < part.bottom; ++y)
        for (int x = part.left; x < part.right; ++x)
            if (screen.Pixel(x, y) != image.Pixel(x - at.x, y - at.y)) return false;
    return true;
}

// The screen shows exactly what the window prints of itself.
testing::AssertionResult ShowsItsPrint(HWND window, const char* artifact)
{
    const TTestDib printed = Printed(window);
    if (WaitFor([&] { return OnScreen(window).Pixels() == printed.Pixels(); }))
        return testing::AssertionSuccess();
    SaveScreenshot(window, ArtifactPath(std::string(artifact) + ".bmp"));
    const TTestDib screen = OnScreen(window);
    int differing = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < printed.Height(); ++y)
        for (int x = 0; x < printed.Width(); ++x)
            if (screen.Pixel(x, y) != printed.Pixel(x, y) && differing++ == 0) {
                firstX = x;
                firstY = y;
            }
    auto failure = testing::AssertionFailure() << differing << " pixels differ between the screen and the printed window";
    if (differing)
        failure << ", first at " << firstX << "," << firstY << ": " << ColorText(screen.Pixel(firstX, firstY))
                << " on the screen, " << ColorText(printed.Pixel(firstX, firstY)) << " printed";
    return failure << " (see " << artifact << ".bmp)";
}

bool HasRegion(HWND window)
{
    TGdiObject region(CreateRectRgn(0, 0, 0, 0));
    return GetWindowRgn(window, static_cast<HRGN>(region.Get())) != ERROR;
}

RECT RegionBox(HWND window)
{
    TGdiObject region(CreateRectRgn(0, 0, 0, 0));
    RECT box = {0, 0, 0, 0};
    if (GetWindowRgn(window, static_cast<HRGN>(region.Get())) != ERROR)
        GetRgnBox(static_cast<HRGN>(region.Get()), &box);
    return box;
}

bool Layered(HWND window) { return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; }

// The animation is over and left the window as it is without one.
void ExpectPlainWindow(HWND window)
{
    EXPECT_FALSE(Layered(window));
    EXPECT_FALSE(HasRegion(window));
    EXPECT_FALSE(DkPopupAnimating(nullptr));
    EXPECT_TRUE(IsWindowVisible(window));
}

class DkPopupAnimationTest : public testing::Test {
protected:
    void SetUp() override
    {
        previousSystem_ = SetDkSystem(&system);
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, RecordEnd, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook_, nullptr);
        ended.clear();
        fakeCount = 0;
        fakeFrequency = 1000000;
        frequencyKnown = true;
        counterReads = 0;
        // The cursor waits far from the popups: one that moves onto a popup ends its animation.
        const POINT corner = {GetSystemMetrics(SM_CXSCREEN) - 5, GetSystemMetrics(SM_CYSCREEN) - 5};
        ASSERT_TRUE(MoveScreen(corner));
        ASSERT_TRUE(WaitFor([&] {
            POINT p;
            return GetCursorPos(&p) && p.x == corner.x && p.y == corner.y;
        }));
    }
    void TearDown() override
    {
        for (TDkPopupWindow*& p : popups) FreeAndNil(p);
        if (clockSet_) SetDkAnimationClock(previousClock_);
        SetDkSystem(previousSystem_);
        UnhookWindowsHookEx(hook_);
    }

    // The clock the test moves by hand (or the slow ones it is told about).
    void UseFakeClock()
    {
        previousClock_ = SetDkAnimationClock({FakeFrequency, FakeCounter});
        clockSet_ = true;
    }

    TDkCustomItem* Menu(int count)
    {
        auto* menu = new TSubmenuItem(&items);
        for (int i = 0; i < count; ++i) {
            auto* item = new TDkItem(&items);
            std::string caption = "Animated item ";
            caption += std::to_string(i + 1);
            item->SetCaption(caption);
            menu->Add(item);
        }
        return menu;
    }

    // The thread has taken its start from the counter: moving the counter now moves its time.
    static testing::AssertionResult ClockStarted()
    {
        if (WaitFor([] { return counterReads > 0; })) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the animation thread never read the counter";
    }

    // A popup laid out and placed, hidden again, ready to show with `direction`.
    TDkPopupWindow* Ready(unsigned char direction, POINT at = {200, 150})
    {
        const bool animation = system.Animation;
        system.Animation = false;
        TDkPopupWindow* popup = DkPopupAtPoint(Menu(4), at, dkpaLeft, false);
        popups.push_back(popup);
        popup->Hide();
        system.Animation = animation;
        popup->AnimationDirection = direction;
        return popup;
    }

    TComponent items{nullptr};
    TAnimatingSystem system;
    std::vector<TDkPopupWindow*> popups;

private:
    TDkSystemChecks* previousSystem_ = nullptr;
    HHOOK hook_ = nullptr;
    TDkAnimationClock previousClock_;
    bool clockSet_ = false;
};

// Under Wine's virtual desktop a window given its image by UpdateLayeredWindow shows nothing
// on the screen until it loses the layered style: fades are looked at once they end.
struct TKindCase {
    const char* Name;
    bool Fade;
    unsigned char Direction;
};

const TKindCase kindCases[] = {
    {"fade", true, 0},
    {"fade of a popup with a direction", true, 4},
    {"slide from the right", false, 1},
    {"slide from the left", false, 2},
    {"slide from the top", false, 4},
    {"slide from the bottom", false, 8},
    {"slide from the top left", false, 4 | 2},
};

TEST_F(DkPopupAnimationTest, RunsToItsEndAndLeavesThePlainWindow)
{
    for (const TKindCase& c : kindCases) {
        SCOPED_TRACE(c.Name);
        system.Fade = c.Fade;
        TDkPopupWindow* popup = Ready(c.Direction);
        const HWND window = popup->Handle();
        ended.clear();
        popup->Show();
        ASSERT_TRUE(DkPopupAnimating(popup));
        EXPECT_TRUE(IsWindowVisible(window));
        // It starts with nothing to see: a faint layer, or an empty region.
        EXPECT_EQ(Layered(window), c.Fade);
        if (!c.Fade) {
            const RECT box = RegionBox(window);
            EXPECT_TRUE(HasRegion(window));
            EXPECT_TRUE(IsRectEmpty(&box));
        }

        ASSERT_TRUE(PumpUntil([&] { return Ended(window); }));
        EXPECT_EQ(ended.size(), 1u);
        ExpectPlainWindow(window);
        EXPECT_TRUE(ShowsItsPrint(window, c.Fade ? "animation_end_fade" : "animation_end_slide"));
        popup->Hide();
    }
}

TEST_F(DkPopupAnimationTest, ShowsAtOnceWithoutAThreadWhenNotToAnimate)
{
    struct TCase {
        const char* Name;
        std::function<void(TAnimatingSystem&, TDkPopupWindow*)> Arrange;
    };
    const TCase cases[] = {
        {"menu animation off", [](TAnimatingSystem& s, TDkPopupWindow*) { s.Animation = false; }},
        {"neither fade nor a direction", [](TAnimatingSystem&, TDkPopupWindow* p) { p->AnimationDirection = 0; }},
        {"an item selected",
         [](TAnimatingSystem&, TDkPopupWindow* p) { p->View()->Select(p->View()->FirstSelectable(false), false); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        system.Animation = true;
        system.Fade = false;
        TDkPopupWindow* popup = Ready(4);
        c.Arrange(system, popup);
        const HWND window = popup->Handle();
        const std::set<DWORD> before = ProcessThreads();
        popup->Show();
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_FALSE(DkPopupAnimating(nullptr));
        EXPECT_EQ(Added(before, ProcessThreads()).size(), 0u);
        EXPECT_FALSE(Layered(window));
        EXPECT_FALSE(HasRegion(window));
        PumpPending();
        EXPECT_TRUE(ended.empty());
        popup->Hide();
    }
}

// A toolbar going from one open menu to the next shows the next one at once.
TEST_F(DkPopupAnimationTest, ASubMenuOfAViewThatAsksForNoAnimationShowsAtOnce)
{
    auto form = std::make_unique<TForm>(nullptr);
    form->SetBorderStyle(bsNone);
    form->SetBounds(100, 120, 300, 30);
    auto* root = new TDkRootItem(&items);
    root->Add(Menu(3));
    TDkToolbarView bar(nullptr, nullptr, form.get(), root, nullptr, true, false, false);
    bar.UpdatePositions();
    form->Show();
    PumpPending();
    bar.State |= dkvsNoAnimation;
    bar.Select(bar.Viewers(0), false);
    bar.OpenChildPopup(false);
    TDkPopupWindow* opened = bar.OpenPopup();
    ASSERT_NE(opened, nullptr);
    EXPECT_NE(opened->AnimationDirection, 0);
    EXPECT_TRUE(IsWindowVisible(opened->Handle()));
    EXPECT_FALSE(DkPopupAnimating(nullptr));

    bar.CloseChildPopups();
    bar.State &= static_cast<unsigned char>(~dkvsNoAnimation);
    bar.Select(bar.Viewers(0), false);
    bar.OpenChildPopup(false);
    EXPECT_TRUE(DkPopupAnimating(bar.OpenPopup()));
    bar.CloseChildPopups();
    EXPECT_FALSE(DkPopupAnimating(nullptr));
}

TEST_F(DkPopupAnimationTest, ACursorMovedOntoThePopupEndsItWithTheWholeImage)
{
    UseFakeClock();  // stands still: only the cursor can end it
    for (const TKindCase& c : {kindCases[0], kindCases[4]}) {
        SCOPED_TRACE(c.Name);
        system.Fade = c.Fade;
        // Away from the other tests' popups: a late echo of these moves must not end theirs.
        TDkPopupWindow* popup = Ready(c.Direction, {600, 400});
        const HWND window = popup->Handle();
        ended.clear();
        popup->Show();
        PumpPending();
        ASSERT_TRUE(DkPopupAnimating(popup));

        const RECT r = WindowRect(window);
        const POINT inside[2] = {{(r.left + r.right) / 2, (r.top + r.bottom) / 2},
                                 {(r.left + r.right) / 2 + 1, (r.top + r.bottom) / 2 + 1}};
        // Moved again and again while it runs, between two points: a late echo of an earlier
        // move can put the cursor back, even onto the popup before it started.
        int moves = 0;
        ASSERT_TRUE(WaitFor([&] {
            if (Ended(window)) return true;
            MoveScreen(inside[moves++ % 2]);
            return false;
        })) << [] {
            POINT p = {-1, -1};
            GetCursorPos(&p);
            return "the cursor is at " + std::to_string(p.x) + "," + std::to_string(p.y);
        }() << ", the popup at " << r.left << "," << r.top << "-" << r.right << "," << r.bottom;
        ExpectPlainWindow(window);
        EXPECT_TRUE(ShowsItsPrint(window, c.Fade ? "animation_cursor_fade" : "animation_cursor_slide"));
        popup->Hide();
        const POINT corner = {GetSystemMetrics(SM_CXSCREEN) - 5, GetSystemMetrics(SM_CYSCREEN) - 5};
        ASSERT_TRUE(WaitFor([&] {
            POINT p;
            MoveScreen(corner);
            return GetCursorPos(&p) && p.x == corner.x && p.y == corner.y;
        }));
    }
}

// Halfway through a slide, with part of the popup on the screen.
TEST_F(DkPopupAnimationTest, PaintingOrHidingThePopupEndsItFirst)
{
    UseFakeClock();
    struct TCase {
        const char* Name;
        UINT Redraw;  // RedrawWindow flags, 0 to hide the popup
    };
    const TCase cases[] = {
        {"painted", RDW_INVALIDATE | RDW_UPDATENOW},
        {"erased", RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW},
        {"erased and painted", RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW},
        {"hidden", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        system.Fade = false;
        TDkPopupWindow* popup = Ready(8);
        const HWND window = popup->Handle();
        ended.clear();
        fakeCount = 0;
        counterReads = 0;
        popup->Show();
        ASSERT_TRUE(DkPopupAnimating(popup));
        ASSERT_TRUE(ClockStarted());
        fakeCount = 75 * CountsPerMs;
        ASSERT_TRUE(WaitFor([&] {
            const RECT box = RegionBox(window);
            return !IsRectEmpty(&box);
        }));
        ASSERT_TRUE(DkPopupAnimating(popup));

        if (c.Redraw) RedrawWindow(window, nullptr, nullptr, c.Redraw);
        else popup->Hide();
        // Ended before the call returned, with no message pumped.
        EXPECT_TRUE(Ended(window));
        EXPECT_FALSE(DkPopupAnimating(nullptr));
        EXPECT_FALSE(HasRegion(window));
        EXPECT_EQ(IsWindowVisible(window) != FALSE, c.Redraw != 0);
        if (c.Redraw) {
            EXPECT_TRUE(ShowsItsPrint(window, "animation_painted"));
        }
        popup->Hide();
    }
}

TEST_F(DkPopupAnimationTest, DestroyingThePopupEndsItAndLeavesNoThread)
{
    UseFakeClock();
    struct TCase {
        const char* Name;
        bool Fade;
        bool FreeTheObject;  // else its window is destroyed from outside, as by its owner
    };
    const TCase cases[] = {
        {"a sliding popup freed", false, true},
        {"a fading popup freed", true, true},
        {"the window of a sliding popup destroyed", false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        system.Fade = c.Fade;
        TDkPopupWindow* popup = Ready(4);
        const HWND window = popup->Handle();
        ended.clear();
        const std::set<DWORD> before = ProcessThreads();
        popup->Show();
        ASSERT_TRUE(DkPopupAnimating(popup));
        const std::vector<DWORD> added = Added(before, ProcessThreads());
        ASSERT_EQ(added.size(), 1u) << "the animation runs on one thread of its own";

        if (c.FreeTheObject) {
            popups.erase(std::find(popups.begin(), popups.end(), popup));
            delete popup;
        } else {
            DestroyWindow(window);
            EXPECT_FALSE(popup->HandleAllocated());
        }
        EXPECT_FALSE(IsWindow(window));
        EXPECT_TRUE(Ended(window));
        EXPECT_FALSE(DkPopupAnimating(nullptr));
        EXPECT_EQ(ProcessThreads().count(added[0]), 0u) << "the animation thread is still there";
        // Its last steps find no animation of theirs.
        PumpPending();
    }
}

TEST_F(DkPopupAnimationTest, TheNextAnimationEndsTheOneBefore)
{
    UseFakeClock();
    TDkPopupWindow* first = Ready(4, {150, 150});
    TDkPopupWindow* second = Ready(4, {500, 150});
    first->Show();
    ASSERT_TRUE(DkPopupAnimating(first));
    const std::set<DWORD> running = ProcessThreads();
    second->Show();
    EXPECT_TRUE(Ended(first->Handle()));
    EXPECT_FALSE(Ended(second->Handle()));
    EXPECT_FALSE(DkPopupAnimating(first));
    EXPECT_TRUE(DkPopupAnimating(second));
    EXPECT_FALSE(HasRegion(first->Handle()));
    EXPECT_TRUE(HasRegion(second->Handle()));
    // One thread went and one came.
    EXPECT_EQ(ProcessThreads().size(), running.size());
    // The steps the first one still had queued leave the second alone.
    PumpPending();
    EXPECT_TRUE(DkPopupAnimating(second));
    DkEndPopupAnimation(nullptr);
    EXPECT_TRUE(Ended(second->Handle()));
    EXPECT_FALSE(HasRegion(second->Handle()));
}

// The level the thread reached shows: a slide moves the image in by its share of the size.
TEST_F(DkPopupAnimationTest, ASlideShowsTheShareOfItsImageTheLevelReached)
{
    UseFakeClock();
    const int halfway = 75;  // of 150 ms: level MulDiv(255, 75, 150) = 128, a multiple of 16
    for (const TKindCase& c : {kindCases[2], kindCases[3], kindCases[4], kindCases[5], kindCases[6]}) {
        SCOPED_TRACE(c.Name);
        system.Fade = false;
        TDkPopupWindow* popup = Ready(c.Direction);
        const HWND window = popup->Handle();
        const TTestDib image = Printed(window);  // a hidden window prints all the same
        const SIZE size = {image.Width(), image.Height()};
        fakeCount = 0;
        counterReads = 0;
        popup->Show();
        ASSERT_TRUE(DkPopupAnimating(popup));
        ASSERT_TRUE(ClockStarted());
        fakeCount = halfway * CountsPerMs;

        const POINT at = DkSlideOffset(c.Direction, size, 128);
        const RECT expected = {at.x, at.y, at.x + size.cx, at.y + size.cy};
        ASSERT_TRUE(WaitFor([&] {
            const RECT box = RegionBox(window);
            return EqualRect(&box, &expected) != FALSE;
        })) << "no step to level 128";
        const RECT whole = {0, 0, size.cx, size.cy};
        RECT part;
        IntersectRect(&part, &expected, &whole);
        EXPECT_TRUE(WaitFor([&] { return ShowsMoved(OnScreen(window), image, at, part); }))
            << "the screen does not show the moved image";
        EXPECT_TRUE(DkPopupAnimating(popup));

        fakeCount = 150 * CountsPerMs;
        ASSERT_TRUE(PumpUntil([&] { return !DkPopupAnimating(nullptr); }));
        ExpectPlainWindow(window);
        popup->Hide();
    }
}

// Steps of another animation, or of one before, are left alone.
TEST_F(DkPopupAnimationTest, AStepOfAnotherSequenceIsIgnored)
{
    UseFakeClock();
    system.Fade = false;
    TDkPopupWindow* popup = Ready(4);
    const HWND window = popup->Handle();
    popup->Show();
    ASSERT_TRUE(DkPopupAnimating(popup));
    ASSERT_TRUE(ClockStarted());
    fakeCount = 75 * CountsPerMs;

    // The thread's step waits in the queue; it tells the current sequence.
    MSG step = {};
    const DWORD start = GetTickCount();
    while (!PeekMessageA(&step, window, DkAnimationStepMessage, DkAnimationStepMessage, PM_NOREMOVE) &&
           GetTickCount() - start < 5000)
        MsgWaitForMultipleObjectsEx(0, nullptr, 5000, QS_POSTMESSAGE, 0);
    ASSERT_EQ(step.message, DkAnimationStepMessage);
    const unsigned sequence = static_cast<unsigned>(step.lParam);

    for (unsigned other : {sequence - 1, sequence + 1}) {
        SendMessageA(window, DkAnimationStepMessage, 0, static_cast<LPARAM>(other));
        const RECT box = RegionBox(window);
        EXPECT_TRUE(IsRectEmpty(&box)) << "a step of sequence " << other << " was taken";
    }
    SendMessageA(window, DkAnimationStepMessage, 0, static_cast<LPARAM>(sequence));
    const RECT box = RegionBox(window);
    EXPECT_FALSE(IsRectEmpty(&box)) << "the step of the current sequence was not taken";
    EXPECT_TRUE(DkPopupAnimating(popup));
}

TEST_F(DkPopupAnimationTest, ASlowOrMissingPerformanceCounterFallsBackToMilliseconds)
{
    UseFakeClock();  // the counter stands still: only the tick count can end the animation
    struct TCase {
        const char* Name;
        bool Known;
        LONGLONG Frequency;
    };
    const TCase cases[] = {
        {"500 counts a second", true, 500},
        {"999 counts a second", true, 999},
        {"no performance counter", false, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        frequencyKnown = c.Known;
        fakeFrequency = c.Frequency;
        TDkPopupWindow* popup = Ready(4);
        const HWND window = popup->Handle();
        ended.clear();
        popup->Show();
        ASSERT_TRUE(DkPopupAnimating(popup));
        ASSERT_TRUE(PumpUntil([&] { return Ended(window); }));
        ExpectPlainWindow(window);
        popup->Hide();
    }
}

TEST(DkSlideOffset, MovesTheImageInFromItsSide)
{
    struct TCase {
        const char* Name;
        unsigned char Direction;
        int Level;
        POINT Expected;
    };
    const SIZE size = {100, 60};
    const TCase cases[] = {
        {"no direction", 0, 128, {0, 0}},
        {"from the top, halfway", 4, 128, {0, -30}},
        {"from the bottom, halfway", 8, 128, {0, 30}},
        {"from the left, halfway", 2, 128, {-50, 0}},
        {"from the right, halfway", 1, 128, {50, 0}},
        {"from the top left, a sixteenth", 4 | 2, 16, {-94, -56}},
        {"from the bottom right, at the start", 8 | 1, 0, {100, 60}},
        {"from the top, at the end", 4, 255, {0, 0}},
        {"top before bottom, left before right", 4 | 8 | 2 | 1, 128, {-50, -30}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const POINT at = DkSlideOffset(c.Direction, size, c.Level);
        EXPECT_EQ(at.x, c.Expected.x);
        EXPECT_EQ(at.y, c.Expected.y);
    }
}

}  // namespace
