#include "DkCommon.h"

#include "Handles.h"
#include "ImageTestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// What each picture holds before it is drawn on.
const COLORREF kPaper = RGB(255, 255, 255);

// The pixels where two images differ, as points.
std::vector<POINT> Difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int width)
{
    std::vector<POINT> out;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) out.push_back(POINT{static_cast<LONG>(i % width), static_cast<LONG>(i / width)});
    return out;
}

// The box around the pixels that are not the background.
RECT InkBox(const TTestDib& dib, COLORREF background)
{
    RECT box{dib.Width(), dib.Height(), -1, -1};
    for (int y = 0; y < dib.Height(); ++y)
        for (int x = 0; x < dib.Width(); ++x)
            if (dib.Pixel(x, y) != background) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
    return box;
}

// Registers a window class of the test's own and gives its name.
const char* Registered(const char* name, WNDPROC proc)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    RegisterClassA(&wc);
    return name;
}

const char* PlainClass()
{
    static const char* name = Registered("DkCommonTestPlain", DefWindowProcA);
    return name;
}

// A hidden window: the hooks see its messages without anything shown on the desktop.
HWND HiddenWindow(HWND parent = nullptr, DWORD style = WS_POPUP)
{
    return CreateWindowExA(0, PlainClass(), "", style, 10, 10, 120, 80, parent, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
}

// Hooks

struct THookCall {
    const char* by;
    TDkHookProcCode code;
    HWND window;
    WPARAM wParam;
    UINT message;  // the retrieved message's, for dkhpGetMessage
};
std::vector<THookCall> hookCalls;

void Record(const char* by, TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam)
{
    const UINT message = code == dkhpGetMessage ? reinterpret_cast<const MSG*>(lParam)->message : 0;
    hookCalls.push_back(THookCall{by, code, window, wParam, message});
}

void ThrowingProc(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam)
{
    Record("thrower", code, window, wParam, lParam);
    throw std::runtime_error("failing hook procedure");
}

void RecordingProc(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam)
{
    Record("recorder", code, window, wParam, lParam);
}

void OtherProc(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam)
{
    Record("other", code, window, wParam, lParam);
}

// Takes the recorder out of the list while the fan-out runs.
void RemovingProc(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam)
{
    Record("remover", code, window, wParam, lParam);
    UnregisterHookProcedure(RecordingProc);
}

constexpr UINT TestMessage = WM_APP + 7;

std::vector<const char*> CallersFor(TDkHookProcCode code, HWND window)
{
    std::vector<const char*> out;
    for (const THookCall& c : hookCalls)
        if (c.code == code && c.window == window && (code != dkhpGetMessage || c.message == TestMessage))
            out.push_back(c.by);
    return out;
}

struct THookDriveCase {
    const char* name;
    TDkHookProcCode code;
    void (*drive)(HWND window);
};

const THookDriveCase hookDriveCases[] = {
    {"activate app sent", dkhpSendActivateApp, [](HWND w) { SendMessageA(w, WM_ACTIVATEAPP, TRUE, 0); }},
    {"window moved", dkhpSendWindowPosChanged,
     [](HWND w) { SetWindowPos(w, nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE); }},
    {"message retrieved", dkhpGetMessage,
     [](HWND w) {
         PostMessageA(w, TestMessage, 0, 0);
         MSG msg;
         PeekMessageA(&msg, w, TestMessage, TestMessage, PM_REMOVE);
     }},
    {"window destroyed", dkhpPreDestroy, [](HWND w) { DestroyWindow(w); }},
};

const TDkHookProcCodes AllCodes = DkHookCode(dkhpSendActivateApp) | DkHookCode(dkhpSendWindowPosChanged) |
                                  DkHookCode(dkhpPreDestroy) | DkHookCode(dkhpGetMessage);

class DkHooks : public testing::Test {
protected:
    void SetUp() override { hookCalls.clear(); }
    void TearDown() override
    {
        // Leaves no entry behind for the next case, even after a failed one.
        for (int round = 0; round < 16 && DkHookProcedureCount(); ++round)
            for (TDkHookProc p : {ThrowingProc, RecordingProc, OtherProc, RemovingProc}) UnregisterHookProcedure(p);
    }
    static void ExpectNoHooks()
    {
        for (TDkHookKind kind : {dkhkCallWndProc, dkhkCBT, dkhkGetMessage}) {
            EXPECT_FALSE(DkHookInstalled(kind)) << "kind " << kind;
            EXPECT_EQ(0u, DkHookUseCount(kind)) << "kind " << kind;
        }
    }
};

TEST_F(DkHooks, FailingProcedureDoesNotStopTheNext)
{
    RegisterHookProcedure(ThrowingProc, AllCodes, false);
    RegisterHookProcedure(RecordingProc, AllCodes, false);
    for (const THookDriveCase& c : hookDriveCases) {
        SCOPED_TRACE(c.name);
        hookCalls.clear();
        const HWND window = HiddenWindow();
        ASSERT_TRUE(window);
        c.drive(window);
        const std::vector<const char*> callers = CallersFor(c.code, window);
        ASSERT_EQ(2u, callers.size());
        EXPECT_STREQ("thrower", callers[0]);
        EXPECT_STREQ("recorder", callers[1]);
        DestroyWindow(window);
    }
    UnregisterHookProcedure(ThrowingProc);
    UnregisterHookProcedure(RecordingProc);
    ExpectNoHooks();
}

TEST_F(DkHooks, ProcedureGetsOnlyItsCodes)
{
    for (const THookDriveCase& registered : hookDriveCases) {
        RegisterHookProcedure(RecordingProc, DkHookCode(registered.code), false);
        for (const THookDriveCase& c : hookDriveCases) {
            SCOPED_TRACE(std::string(registered.name) + " registered, " + c.name + " happens");
            hookCalls.clear();
            const HWND window = HiddenWindow();
            c.drive(window);
            EXPECT_EQ(c.code == registered.code ? 1u : 0u, CallersFor(c.code, window).size());
            DestroyWindow(window);
        }
        UnregisterHookProcedure(RecordingProc);
    }
    ExpectNoHooks();
}

TEST_F(DkHooks, RetrievedMessageComesWithItsRecord)
{
    RegisterHookProcedure(RecordingProc, DkHookCode(dkhpGetMessage), false);
    const HWND window = HiddenWindow();
    PostMessageA(window, TestMessage, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, window, TestMessage, TestMessage, PM_REMOVE));
    const std::vector<const char*> callers = CallersFor(dkhpGetMessage, window);
    ASSERT_EQ(1u, callers.size());
    const auto call = std::find_if(hookCalls.begin(), hookCalls.end(),
                                   [](const THookCall& c) { return c.message == TestMessage; });
    EXPECT_EQ(static_cast<WPARAM>(PM_REMOVE), call->wParam);
    DestroyWindow(window);
    UnregisterHookProcedure(RecordingProc);
}

TEST_F(DkHooks, UseCountsFollowRegistrations)
{
    struct TStep {
        const char* name;
        void (*action)();
        size_t procedures;
        unsigned callWndProc, cbt, getMessage;
    };
    const TStep steps[] = {
        {"first for sent messages", [] { RegisterHookProcedure(RecordingProc, DkHookCode(dkhpSendActivateApp) | DkHookCode(dkhpSendWindowPosChanged), false); }, 1, 1, 0, 0},
        {"other for destroy and retrieval", [] { RegisterHookProcedure(OtherProc, DkHookCode(dkhpPreDestroy) | DkHookCode(dkhpGetMessage), false); }, 2, 1, 1, 1},
        {"first again", [] { RegisterHookProcedure(RecordingProc, DkHookCode(dkhpSendActivateApp), false); }, 2, 2, 1, 1},
        {"first dropped once", [] { UnregisterHookProcedure(RecordingProc); }, 2, 1, 1, 1},
        {"first gone", [] { UnregisterHookProcedure(RecordingProc); }, 1, 0, 1, 1},
        {"unknown dropped", [] { UnregisterHookProcedure(ThrowingProc); }, 1, 0, 1, 1},
        {"other gone", [] { UnregisterHookProcedure(OtherProc); }, 0, 0, 0, 0},
    };
    for (const TStep& s : steps) {
        SCOPED_TRACE(s.name);
        s.action();
        EXPECT_EQ(s.procedures, DkHookProcedureCount());
        EXPECT_EQ(s.callWndProc, DkHookUseCount(dkhkCallWndProc));
        EXPECT_EQ(s.cbt, DkHookUseCount(dkhkCBT));
        EXPECT_EQ(s.getMessage, DkHookUseCount(dkhkGetMessage));
        EXPECT_EQ(s.callWndProc > 0, DkHookInstalled(dkhkCallWndProc));
        EXPECT_EQ(s.cbt > 0, DkHookInstalled(dkhkCBT));
        EXPECT_EQ(s.getMessage > 0, DkHookInstalled(dkhkGetMessage));
    }
}

TEST_F(DkHooks, UnhookedProceduresHearNothing)
{
    RegisterHookProcedure(RecordingProc, AllCodes, false);
    UnregisterHookProcedure(RecordingProc);
    ExpectNoHooks();
    for (const THookDriveCase& c : hookDriveCases) {
        SCOPED_TRACE(c.name);
        const HWND window = HiddenWindow();
        c.drive(window);
        EXPECT_TRUE(CallersFor(c.code, window).empty());
        DestroyWindow(window);
    }
}

// Registrations that did not raise the use counts must not drop them when undone, in
// whatever order they are undone.
TEST_F(DkHooks, OnlyRegisteringStaysSymmetric)
{
    struct TRegistration {
        TDkHookProc proc;
        bool onlyRegister;
    };
    struct TCase {
        const char* name;
        std::vector<TRegistration> registrations;
        std::vector<TDkHookProc> unregistrations;
        unsigned useCountAfterFirst;
    };
    const TCase cases[] = {
        {"other procedure only registered, dropped first",
         {{RecordingProc, false}, {OtherProc, true}}, {OtherProc, RecordingProc}, 1},
        {"other procedure only registered, dropped last",
         {{RecordingProc, false}, {OtherProc, true}}, {RecordingProc, OtherProc}, 0},
        {"same procedure, only registered first",
         {{RecordingProc, true}, {RecordingProc, false}}, {RecordingProc, RecordingProc}, 1},
        {"same procedure, only registered last",
         {{RecordingProc, false}, {RecordingProc, true}}, {RecordingProc, RecordingProc}, 1},
        {"only registered alone",
         {{RecordingProc, true}}, {RecordingProc}, 0},
    };
    const TDkHookProcCodes codes = DkHookCode(dkhpPreDestroy);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const TRegistration& r : c.registrations) RegisterHookProcedure(r.proc, codes, r.onlyRegister);
        UnregisterHookProcedure(c.unregistrations[0]);
        EXPECT_EQ(c.useCountAfterFirst, DkHookUseCount(dkhkCBT));
        EXPECT_EQ(c.useCountAfterFirst > 0, DkHookInstalled(dkhkCBT));
        if (c.useCountAfterFirst > 0) {
            // The hook still serves the procedure that is left.
            hookCalls.clear();
            const HWND window = HiddenWindow();
            DestroyWindow(window);
            EXPECT_EQ(1u, CallersFor(dkhpPreDestroy, window).size());
        }
        for (size_t i = 1; i < c.unregistrations.size(); ++i) UnregisterHookProcedure(c.unregistrations[i]);
        EXPECT_EQ(0u, DkHookProcedureCount());
        ExpectNoHooks();
    }
}

TEST_F(DkHooks, ProcedureRemovedDuringFanOutIsNotCalled)
{
    RegisterHookProcedure(RemovingProc, DkHookCode(dkhpPreDestroy), false);
    RegisterHookProcedure(RecordingProc, DkHookCode(dkhpPreDestroy), false);
    const HWND window = HiddenWindow();
    DestroyWindow(window);
    const std::vector<const char*> callers = CallersFor(dkhpPreDestroy, window);
    ASSERT_EQ(1u, callers.size());
    EXPECT_STREQ("remover", callers[0]);
    EXPECT_EQ(1u, DkHookProcedureCount());
    EXPECT_EQ(1u, DkHookUseCount(dkhkCBT));
    UnregisterHookProcedure(RemovingProc);
    ExpectNoHooks();
}

// Small routines

TEST(DkAccel, CaptionsTable)
{
    struct TCase {
        const char* caption;
        char accel;
        const char* stripped;
    };
    const TCase cases[] = {
        {"", '\0', ""},
        {"File", '\0', "File"},
        {"&File", 'F', "File"},
        {"Save &As", 'A', "Save As"},
        {"&&Fish", '\0', "&Fish"},
        {"A&&&B", 'B', "A&B"},
        {"&One &Two", 'T', "One Two"},
        {"x&&y&z", 'z', "x&yz"},
        {"End&", '\0', "End"},
        {"&&&", '\0', "&"},
        {"&", '\0', ""},
        {"Fish && &Chips", 'C', "Fish & Chips"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(c.accel, FindAccelChar(c.caption));
        EXPECT_EQ(c.stripped, StripAccelChars(c.caption));
    }
}

TEST(DkDivRoundUp, Table)
{
    struct TCase {
        int dividend, divisor, quotient;
    };
    const TCase cases[] = {
        {7, 2, 4}, {-7, 2, -4}, {7, -2, -4}, {-7, -2, 4}, {6, 2, 3}, {-6, 2, -3},
        {0, 5, 0}, {1, 3, 1},   {-1, 3, -1}, {5, 1, 5},   {9, 10, 1}, {5, 0, 0},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(c.quotient, DivRoundUp(c.dividend, c.divisor)) << c.dividend << " / " << c.divisor;
}

struct TSortItem {
    int key;
    int tag;
};

int CompareKeys(TSortItem* a, TSortItem* b, void* extra)
{
    const int direction = *static_cast<int*>(extra);
    return direction * (a->key < b->key ? -1 : a->key > b->key ? 1 : 0);
}

TEST(DkListSortEx, Table)
{
    struct TCase {
        const char* name;
        std::vector<int> keys;
        int direction;
    };
    const TCase cases[] = {
        {"empty", {}, 1},
        {"one", {4}, 1},
        {"two in order", {1, 2}, 1},
        {"two reversed", {2, 1}, 1},
        {"equal keys", {3, 1, 3, 3, 2, 1, 3, 2}, 1},
        {"all equal", {5, 5, 5, 5, 5}, 1},
        {"descending by extra", {1, 9, 4, 7, 4, 0, 2}, -1},
        {"already sorted", {0, 1, 2, 3, 4, 5, 6, 7, 8}, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TSortItem> items;
        for (size_t i = 0; i < c.keys.size(); ++i) items.push_back(TSortItem{c.keys[i], static_cast<int>(i)});
        std::vector<TSortItem*> list;
        for (TSortItem& item : items) list.push_back(&item);
        int direction = c.direction;
        ListSortEx(list, CompareKeys, &direction);
        ASSERT_EQ(items.size(), list.size());
        std::vector<int> tags;
        for (size_t i = 0; i < list.size(); ++i) {
            tags.push_back(list[i]->tag);
            if (i > 0) {
                EXPECT_LE(0, c.direction * (list[i]->key - list[i - 1]->key)) << "at " << i;
            }
        }
        std::sort(tags.begin(), tags.end());
        for (size_t i = 0; i < tags.size(); ++i) EXPECT_EQ(static_cast<int>(i), tags[i]) << "every item once";
    }
}

// Sounds

std::vector<std::string> played;
void RecordSound(const char* alias) { played.push_back(alias); }

class DkSounds : public testing::Test {
protected:
    void SetUp() override
    {
        event_ = "DkCommonTestEvent" + std::to_string(GetCurrentProcessId());
        played.clear();
        before_ = SetDkSoundPlayer(RecordSound);
    }
    void TearDown() override
    {
        SetDkSoundPlayer(before_);
        RemoveEvent();
    }
    std::string EventKey() const { return "AppEvents\\Schemes\\Apps\\.Default\\" + event_; }
    void RemoveEvent() const
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, (EventKey() + "\\.Current").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, EventKey().c_str());
    }

    std::string event_;
    TDkSoundPlayer before_ = nullptr;
};

TEST_F(DkSounds, SchemeStatesTable)
{
    enum TState { keyMissing, eventWithoutCurrent, noDefaultValue, emptyValue, shortValue, longValue };
    struct TCase {
        const char* name;
        TState state;
        bool plays;
    };
    const TCase cases[] = {
        {"no scheme key", keyMissing, false},
        {"event without a current sound", eventWithoutCurrent, false},
        {"current sound without default value", noDefaultValue, false},
        {"empty default value", emptyValue, false},
        {"short file name", shortValue, true},
        {"file name beyond the buffer", longValue, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveEvent();
        played.clear();
        if (c.state != keyMissing) {
            HKEY raw = nullptr;
            const std::string path = c.state == eventWithoutCurrent ? EventKey() : EventKey() + "\\.Current";
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                                     nullptr, &raw, nullptr));
            TRegKey key(raw);
            const char* value = c.state == emptyValue   ? ""
                                : c.state == shortValue ? "d.wav"
                                : c.state == longValue  ? "C:\\Windows\\Media\\ding.wav"
                                                        : nullptr;
            if (value) {
                ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.Get(), nullptr, 0, REG_SZ,
                                                        reinterpret_cast<const BYTE*>(value),
                                                        static_cast<DWORD>(strlen(value) + 1)));
            }
        }
        EXPECT_EQ(c.plays, NeedToPlaySound(event_));
        PlaySystemSound(event_.c_str());
        if (c.plays) {
            ASSERT_EQ(1u, played.size());
            EXPECT_EQ(event_, played[0]);
        } else {
            EXPECT_TRUE(played.empty());
        }
    }
}

// The message queue

TEST(DkMessages, RemovingMessagesKeepsQuit)
{
    struct TCase {
        const char* name;
        void (*remove)();
    };
    const TCase cases[] = {
        {"remove a range", [] { RemoveMessages(WM_APP + 1, WM_APP + 2); }},
        {"process paint messages", [] { ProcessPaintMessages(); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const HWND window = HiddenWindow();
        PostMessageA(window, WM_APP + 1, 0, 0);
        PostMessageA(window, WM_APP + 3, 0, 0);
        PostMessageA(window, WM_APP + 2, 0, 0);
        PostQuitMessage(42);
        c.remove();
        std::vector<UINT> left;
        WPARAM exitCode = 0;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            left.push_back(msg.message);
            if (msg.message == WM_QUIT) exitCode = msg.wParam;
        }
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(static_cast<UINT>(WM_QUIT), left.back());
        EXPECT_EQ(42u, exitCode);
        EXPECT_NE(left.end(), std::find(left.begin(), left.end(), static_cast<UINT>(WM_APP + 3)));
        DestroyWindow(window);
    }
}

TEST(DkMessages, RemovesTheRange)
{
    const HWND window = HiddenWindow();
    for (UINT m : {WM_APP + 1, WM_APP + 5, WM_APP + 2, WM_APP + 1, WM_APP + 9}) PostMessageA(window, m, 0, 0);
    RemoveMessages(WM_APP + 1, WM_APP + 5);
    std::vector<UINT> left;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) left.push_back(msg.message);
    EXPECT_EQ(std::vector<UINT>{WM_APP + 9}, left);
    DestroyWindow(window);
}

// The drag outline

struct TOutline {
    RECT rect;
    SIZE size;
};

void DrawOutline(HDC dc, const TOutline* next, const TOutline* previous)
{
    DrawHalftoneInvertRect(dc, next ? &next->rect : nullptr, previous ? &previous->rect : nullptr,
                           next ? next->size : SIZE{0, 0}, previous ? previous->size : SIZE{0, 0});
}

TEST(DkDragOutline, MovingDrawsOnlyTheDifference)
{
    struct TCase {
        const char* name;
        TOutline from, to;
    };
    const TCase cases[] = {
        {"moved right and down", {{4, 4, 40, 30}, {3, 3}}, {{10, 8, 46, 34}, {3, 3}}},
        {"grown", {{10, 10, 30, 30}, {2, 2}}, {{6, 6, 50, 44}, {2, 2}}},
        {"thicker", {{8, 8, 50, 40}, {1, 1}}, {{8, 8, 50, 40}, {4, 6}}},
        {"apart", {{2, 2, 14, 14}, {2, 2}}, {{30, 30, 60, 60}, {3, 3}}},
        {"filled when thicker than the rect", {{5, 5, 12, 12}, {8, 8}}, {{20, 20, 40, 40}, {2, 2}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTestDib moved(64, 64, RGB(0x20, 0x80, 0xC0));
        DrawOutline(moved.DC(), &c.from, nullptr);
        DrawOutline(moved.DC(), &c.to, &c.from);
        TTestDib direct(64, 64, RGB(0x20, 0x80, 0xC0));
        DrawOutline(direct.DC(), &c.to, nullptr);
        EXPECT_TRUE(moved.Pixels() == direct.Pixels());

        // Moving back and then taking the outline away leaves the background.
        DrawOutline(moved.DC(), &c.from, &c.to);
        DrawOutline(moved.DC(), nullptr, &c.from);
        EXPECT_TRUE(Difference(moved.Pixels(), TTestDib(64, 64, RGB(0x20, 0x80, 0xC0)).Pixels(), 64).empty());
    }
}

TEST(DkDragOutline, UnchangedOutlineDrawsNothing)
{
    const TOutline outline{{6, 6, 50, 40}, {3, 3}};
    TTestDib dib(64, 64, kPaper);
    DrawOutline(dib.DC(), &outline, nullptr);
    const std::vector<uint32_t> drawn = dib.Pixels();
    DrawOutline(dib.DC(), &outline, &outline);
    EXPECT_TRUE(Difference(drawn, dib.Pixels(), 64).empty());
}

TEST(DkDragOutline, FrameIsHalftoneInsideTheRectOnly)
{
    const TOutline outline{{8, 6, 40, 30}, {4, 3}};
    const COLORREF background = RGB(0x30, 0x60, 0x90);
    const COLORREF inverted = RGB(0xCF, 0x9F, 0x6F);
    TTestDib dib(48, 40, background);
    DrawOutline(dib.DC(), &outline, nullptr);
    int invertedInFrame = 0, frameSize = 0;
    for (int y = 0; y < dib.Height(); ++y)
        for (int x = 0; x < dib.Width(); ++x) {
            const POINT p{x, y};
            RECT inner = outline.rect;
            InflateRect(&inner, -outline.size.cx, -outline.size.cy);
            const bool inFrame = PtInRect(&outline.rect, p) && !PtInRect(&inner, p);
            const COLORREF c = dib.Pixel(x, y);
            if (!inFrame) {
                EXPECT_EQ(background, c) << x << "," << y;
                continue;
            }
            ++frameSize;
            ASSERT_TRUE(c == background || c == inverted) << x << "," << y;
            if (c == inverted) ++invertedInFrame;
            // Neighbours in a row alternate: a halftone, never a solid line.
            if (x > outline.rect.left && !PtInRect(&inner, POINT{x - 1, y})) {
                EXPECT_NE(dib.Pixel(x - 1, y), c) << x << "," << y;
            }
        }
    EXPECT_EQ(frameSize / 2, invertedInFrame);
}

TEST(DkDragOutline, LogicalCoordinatesOfTheDC)
{
    const TOutline outline{{4, 4, 30, 24}, {2, 2}};
    const TOutline shifted{{14, 9, 40, 29}, {2, 2}};
    TTestDib moved(48, 40, kPaper);
    SetViewportOrgEx(moved.DC(), 10, 5, nullptr);
    DrawOutline(moved.DC(), &outline, nullptr);
    TTestDib direct(48, 40, kPaper);
    DrawOutline(direct.DC(), &shifted, nullptr);
    EXPECT_TRUE(moved.Pixels() == direct.Pixels());
}

// Text

class DkText : public testing::Test {
protected:
    void SetUp() override
    {
        font_.Reset(CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, "Arial"));
    }
    void Prepare(HDC dc) const
    {
        SelectObject(dc, font_.Get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0x80, 0, 0));
    }
    TGdiObject font_;
};

TEST_F(DkText, HiddenPrefixesDrawAsStrippedText)
{
    struct TCase {
        const char* caption;
        UINT format;
        const char* sameAs;  // drawn with DT_NOPREFIX
        bool systemUnderlines;
    };
    const TCase cases[] = {
        {"&File", DT_HIDEPREFIX, "File", true},
        {"Save &As", DT_HIDEPREFIX | DT_CENTER, "Save As", true},
        {"&&Fish", DT_HIDEPREFIX, "&Fish", false},
        {"Fish && &Chips", DT_HIDEPREFIX, "Fish & Chips", true},
        {"&File", DT_HIDEPREFIX | DT_NOPREFIX, "&File", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.caption);
        TTestDib ours(120, 30, kPaper), stripped(120, 30, kPaper), system(120, 30, kPaper);
        for (TTestDib* d : {&ours, &stripped, &system}) Prepare(d->DC());
        RECT r{2, 2, 118, 28};
        DkDrawText(ours.DC(), c.caption, r, c.format | DT_SINGLELINE);
        RECT r2{2, 2, 118, 28};
        DrawTextA(stripped.DC(), c.sameAs, -1, &r2, (c.format & ~DT_HIDEPREFIX) | DT_NOPREFIX | DT_SINGLELINE);
        RECT r3{2, 2, 118, 28};
        DrawTextA(system.DC(), c.caption, -1, &r3, (c.format & ~DT_HIDEPREFIX) | DT_SINGLELINE);
        EXPECT_TRUE(ours.Pixels() == stripped.Pixels());
        const RECT ink = InkBox(ours, RGB(255, 255, 255));
        EXPECT_LT(ink.left, ink.right) << "something is drawn";
        // Where the system underlines, the pixels below the text differ from ours.
        EXPECT_EQ(c.systemUnderlines, !Difference(ours.Pixels(), system.Pixels(), 120).empty());
    }
}

TEST_F(DkText, CaptionIsNeverWrittenTo)
{
    TTestDib dib(40, 20, kPaper);
    Prepare(dib.DC());
    for (UINT format : {0u, static_cast<UINT>(DT_HIDEPREFIX)}) {
        SCOPED_TRACE(format);
        const std::string caption = "A caption far too long for its place";
        const std::string copy = caption;
        RECT r{0, 0, 40, 20};
        DkDrawText(dib.DC(), caption, r, format | DT_SINGLELINE | DT_END_ELLIPSIS | DT_MODIFYSTRING);
        EXPECT_EQ(copy, caption);
    }
}

TEST_F(DkText, WidthWithAndWithoutAmpersands)
{
    TTestDib dib(10, 10, kPaper);
    Prepare(dib.DC());
    EXPECT_EQ(GetTextWidth(dib.DC(), "File", false), GetTextWidth(dib.DC(), "&File", true));
    EXPECT_EQ(GetTextWidth(dib.DC(), "A&B", false), GetTextWidth(dib.DC(), "A&&B", true));
    EXPECT_LT(GetTextWidth(dib.DC(), "&File", true), GetTextWidth(dib.DC(), "&File", false));
    EXPECT_EQ(0, GetTextWidth(dib.DC(), "", false));
    EXPECT_GT(GetTextHeight(dib.DC()), 0);
}

TEST_F(DkText, RotatedFontTable)
{
    struct TCase {
        const char* face;
        const char* rotatedFace;  // or the same with an at sign before it
    };
    const TCase cases[] = {
        {"MS Sans Serif", "Arial"},
        {"Microsoft Sans Serif", "Arial"},
        {"Courier New", "Courier New"},
        {"A face name thirty chars long!", "A face name thirty chars long!"},
    };
    TTestDib dib(10, 10, kPaper);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.face);
        TGdiObject font(CreateFontA(-13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, c.face));
        SelectObject(dib.DC(), font.Get());
        TGdiObject rotated(CreateRotatedFont(dib.DC()));
        SelectObject(dib.DC(), GetStockObject(SYSTEM_FONT));
        ASSERT_TRUE(rotated);
        LOGFONTA lf{};
        ASSERT_EQ(static_cast<int>(sizeof lf), GetObjectA(rotated.Get(), sizeof lf, &lf));
        EXPECT_EQ(2700, lf.lfEscapement);
        EXPECT_EQ(2700, lf.lfOrientation);
        EXPECT_EQ(OUT_TT_ONLY_PRECIS, lf.lfOutPrecision);
        EXPECT_EQ(-13, lf.lfHeight);
        EXPECT_EQ(FW_BOLD, lf.lfWeight);
        const std::string face = lf.lfFaceName;
        EXPECT_TRUE(face == c.rotatedFace || face == std::string("@") + c.rotatedFace) << face;
    }
}

class DkRotatedText : public DkText {
protected:
    // Draws with a rotated font into a DIB of the given size.
    std::vector<uint32_t> Draw(TTestDib& dib, const std::string& text, const RECT& rect, UINT format)
    {
        Prepare(dib.DC());
        TGdiObject rotated(CreateRotatedFont(dib.DC()));
        SelectObject(dib.DC(), rotated.Get());
        DrawRotatedText(dib.DC(), text, rect, format);
        SelectObject(dib.DC(), font_.Get());
        return dib.Pixels();
    }
};

TEST_F(DkRotatedText, AcceleratorUnderlinedUnlessHidden)
{
    const RECT rect{0, 0, 40, 120};
    TTestDib plain(40, 120, kPaper), accel(40, 120, kPaper), hidden(40, 120, kPaper);
    const std::vector<uint32_t> plainPixels = Draw(plain, "File", rect, 0);
    const std::vector<uint32_t> accelPixels = Draw(accel, "&File", rect, 0);
    const std::vector<uint32_t> hiddenPixels = Draw(hidden, "&File", rect, 0x100000);
    EXPECT_TRUE(hiddenPixels == plainPixels);
    const std::vector<POINT> line = Difference(plainPixels, accelPixels, 40);
    ASSERT_FALSE(line.empty());
    // One column beside the text, below its baseline, in the text colour, only at the
    // first character.
    const RECT ink = InkBox(plain, RGB(255, 255, 255));
    for (const POINT& p : line) {
        EXPECT_EQ(line[0].x, p.x);
        EXPECT_EQ(RGB(0x80, 0, 0), accel.Pixel(p.x, p.y));
        EXPECT_LT(p.x, ink.left);
    }
    EXPECT_LT(line.back().y - line.front().y + 1, ink.bottom - ink.top);
    // The text runs downwards: the first character is at the top.
    EXPECT_LT(line.front().y - ink.top, (ink.bottom - ink.top) / 2);
}

TEST_F(DkRotatedText, DrawnCentredWithoutAmpersands)
{
    TTestDib measure(10, 10, kPaper);
    Prepare(measure.DC());
    const int length = GetTextWidth(measure.DC(), "Fish & Chips", false);
    TTestDib small(100, length + 100, kPaper), large(100, length + 100, kPaper);
    const RECT smallRect{0, 0, 40, length + 20};
    const RECT largeRect{0, 0, 60, length + 60};
    Draw(small, "Fish && &Chips", smallRect, 0x100000);
    Draw(large, "Fish && &Chips", largeRect, 0x100000);
    const RECT a = InkBox(small, RGB(255, 255, 255));
    const RECT b = InkBox(large, RGB(255, 255, 255));
    ASSERT_LT(a.left, a.right);
    EXPECT_EQ(a.left + 10, b.left);
    EXPECT_EQ(a.top + 20, b.top);
    EXPECT_GT(a.bottom - a.top, a.right - a.left) << "runs vertically";

    TTestDib plain(100, length + 100, kPaper);
    EXPECT_TRUE(Draw(plain, "Fish && Chips", smallRect, 0) == small.Pixels());
}

// Print messages

constexpr COLORREF ParentColour = RGB(0x10, 0xA0, 0x30);
constexpr COLORREF ChildColour = RGB(0xE0, 0x20, 0x40);
constexpr COLORREF FrameColour = RGB(0x00, 0x00, 0xF0);

LRESULT CALLBACK PrintingWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    TMessage message{msg, wParam, lParam, 0};
    const COLORREF colour = GetParent(window) ? ChildColour : ParentColour;
    auto paintClient = [&](HDC dc) {
        RECT r;
        GetClientRect(window, &r);
        TGdiObject brush(CreateSolidBrush(colour));
        FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
    };
    auto paintFrame = [](HWND w, HDC dc) {
        RECT r;
        GetWindowRect(w, &r);
        OffsetRect(&r, -r.left, -r.top);
        TGdiObject brush(CreateSolidBrush(FrameColour));
        FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
    };
    try {
        if (msg == WM_PRINT) {
            HandleWMPrint(window, message, paintFrame);
            return message.Result;
        }
        if (msg == WM_PRINTCLIENT) {
            HandleWMPrintClient(paintClient, message);
            return message.Result;
        }
    } catch (...) {
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

const char* PrintingClass()
{
    static const char* name = Registered("DkCommonTestPrinting", PrintingWndProc);
    return name;
}

TEST(DkPrint, WindowWithChildTable)
{
    struct TCase {
        const char* name;
        LPARAM flags;
        bool childShown;
        LRESULT result;
        COLORREF atFrame, atClient, atChild;
    };
    const COLORREF none = RGB(255, 255, 255);
    const TCase cases[] = {
        {"everything", PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN, true, 1, FrameColour, ParentColour,
         ChildColour},
        {"without children", PRF_NONCLIENT | PRF_CLIENT, true, 1, FrameColour, ParentColour, ParentColour},
        {"client only", PRF_CLIENT | PRF_CHILDREN, true, 1, none, ParentColour, ChildColour},
        {"frame only", PRF_NONCLIENT, true, 1, FrameColour, FrameColour, FrameColour},
        {"hidden child left out", PRF_NONCLIENT | PRF_CLIENT | PRF_CHILDREN, false, 1, FrameColour, ParentColour,
         ParentColour},
        {"hidden window checked", PRF_CHECKVISIBLE | PRF_NONCLIENT | PRF_CLIENT | PRF_CHILDREN, true, 0, none, none,
         none},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Hidden, so nothing shows on the desktop: printing does not need the screen.
        TWindowHandle parent(CreateWindowExA(0, PrintingClass(), "", WS_POPUP | WS_DLGFRAME, 100, 100, 90,
                                             70, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
        ASSERT_TRUE(parent);
        const HWND child = CreateWindowExA(0, PrintingClass(), "", WS_CHILD | (c.childShown ? WS_VISIBLE : 0), 20, 15,
                                           30, 20, parent.Get(), nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(child);
        RECT windowRect, childRect;
        GetWindowRect(parent.Get(), &windowRect);
        GetWindowRect(child, &childRect);
        POINT client{0, 0};
        ClientToScreen(parent.Get(), &client);
        ASSERT_GT(client.x, windowRect.left) << "the window has a frame";

        TTestDib dib(100, 80, kPaper);
        EXPECT_EQ(c.result, SendMessageA(parent.Get(), WM_PRINT, reinterpret_cast<WPARAM>(dib.DC()), c.flags));
        EXPECT_EQ(c.atFrame, dib.Pixel(0, 0));
        const POINT inClient{client.x - windowRect.left + 2, client.y - windowRect.top + 2};
        EXPECT_EQ(c.atClient, dib.Pixel(inClient.x, inClient.y));
        const POINT inChild{(childRect.left + childRect.right) / 2 - windowRect.left,
                            (childRect.top + childRect.bottom) / 2 - windowRect.top};
        EXPECT_EQ(c.atChild, dib.Pixel(inChild.x, inChild.y));
        // The child stays inside its place.
        if (c.atChild == ChildColour) {
            EXPECT_EQ(ChildColour, dib.Pixel(childRect.left - windowRect.left, childRect.top - windowRect.top));
            EXPECT_EQ(c.atClient, dib.Pixel(childRect.left - windowRect.left - 1, childRect.top - windowRect.top - 1));
            EXPECT_EQ(c.atClient, dib.Pixel(childRect.right - windowRect.left, childRect.bottom - windowRect.top));
        }
        // Outside the window nothing is drawn.
        EXPECT_EQ(none, dib.Pixel(windowRect.right - windowRect.left, windowRect.bottom - windowRect.top));
    }
}

TEST(DkPrint, PrintClientRestoresTheDC)
{
    TTestDib dib(20, 20, kPaper);
    const POINT before{3, 4};
    SetViewportOrgEx(dib.DC(), before.x, before.y, nullptr);
    TMessage message{WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dib.DC()), PRF_CLIENT, 5};
    bool painted = false;
    HandleWMPrintClient(
        [&](HDC dc) {
            painted = dc == dib.DC();
            SetViewportOrgEx(dc, 9, 9, nullptr);
        },
        message);
    EXPECT_TRUE(painted);
    POINT after{};
    GetViewportOrgEx(dib.DC(), &after);
    EXPECT_EQ(before.x, after.x);
    EXPECT_EQ(before.y, after.y);
}

TEST(DkNCUpdateRgn, ClipTable)
{
    TWindowHandle window(HiddenWindow());
    RECT w;
    GetWindowRect(window.Get(), &w);
    TGdiObject screenRegion(CreateRectRgn(w.left + 5, w.top + 6, w.left + 30, w.top + 20));
    struct TCase {
        const char* name;
        HRGN region;
        RECT clip;
    };
    const TCase cases[] = {
        {"update region", static_cast<HRGN>(screenRegion.Get()), {5, 6, 30, 20}},
        {"whole window (1)", reinterpret_cast<HRGN>(1), {0, 0, w.right - w.left, w.bottom - w.top}},
        {"no region", nullptr, {0, 0, w.right - w.left, w.bottom - w.top}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTestDib dib(200, 200, kPaper);
        SelectNCUpdateRgn(window.Get(), dib.DC(), c.region);
        TGdiObject clip(CreateRectRgn(0, 0, 0, 0));
        ASSERT_EQ(1, GetClipRgn(dib.DC(), static_cast<HRGN>(clip.Get())));
        RECT box;
        EXPECT_EQ(SIMPLEREGION, GetRgnBox(static_cast<HRGN>(clip.Get()), &box));
        EXPECT_TRUE(EqualRect(&c.clip, &box)) << box.left << "," << box.top << "," << box.right << "," << box.bottom;
    }
    RECT box;
    GetRgnBox(static_cast<HRGN>(screenRegion.Get()), &box);
    EXPECT_EQ(w.left + 5, box.left) << "the caller's region is left as it was";
}

// System checks

class TFakeChecks : public TDkSystemChecks {
public:
    bool MultipleMonitors() override { return multiple; }
    bool ApplicationActive() override { return active; }
    bool multiple = false;
    bool active = false;
};

TEST(DkSystemChecks, SwitchedByTests)
{
    TFakeChecks fake;
    TDkSystemChecks* before = SetDkSystem(&fake);
    EXPECT_EQ(&fake, &DkSystem());
    fake.active = true;
    EXPECT_TRUE(ApplicationIsActive());
    fake.active = false;
    EXPECT_FALSE(ApplicationIsActive());
    EXPECT_EQ(&fake, SetDkSystem(nullptr));
    EXPECT_NE(&fake, &DkSystem());
    EXPECT_EQ(before, &DkSystem());
}

TEST(DkSystemChecks, MonitorAreasTable)
{
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    TWindowHandle window(HiddenWindow());
    for (bool multiple : {false, true}) {
        SCOPED_TRACE(multiple ? "monitor routines" : "one monitor");
        TFakeChecks fake;
        fake.multiple = multiple;
        SetDkSystem(&fake);
        // Points and rectangles far off the screen get the nearest (only) monitor's areas.
        const RECT off{-5000, -5000, -4900, -4900};
        for (bool workArea : {false, true}) {
            const RECT& expected = workArea ? work : screen;
            const RECT a = fake.MonitorRectOfRect(off, workArea);
            const RECT b = fake.MonitorRectOfPoint(POINT{-5000, 9000}, workArea);
            const RECT d = fake.MonitorRectOfWindow(window.Get(), workArea);
            EXPECT_TRUE(EqualRect(&expected, &a));
            EXPECT_TRUE(EqualRect(&expected, &b));
            EXPECT_TRUE(EqualRect(&expected, &d));
        }
        SetDkSystem(nullptr);
    }
}

TEST(DkTrackMouseEvent, RequestsWhileUsed)
{
    TWindowHandle window(HiddenWindow());
    AddTrackMouseEventUser();
    AddTrackMouseEventUser();
    EXPECT_TRUE(CallTrackMouseEvent(window.Get(), TME_LEAVE));
    RemoveTrackMouseEventUser();
    EXPECT_TRUE(CallTrackMouseEvent(window.Get(), TME_LEAVE | TME_CANCEL)) << "one user is left";
    RemoveTrackMouseEventUser();
    EXPECT_FALSE(CallTrackMouseEvent(window.Get(), TME_LEAVE)) << "no user: the lookup is gone";
    RemoveTrackMouseEventUser();
    AddTrackMouseEventUser();
    EXPECT_TRUE(CallTrackMouseEvent(window.Get(), TME_LEAVE)) << "an extra removal did not go below zero";
    RemoveTrackMouseEventUser();
}

TEST(DkInputLocale, CodePageIsValid)
{
    const UINT codePage = GetInputLocaleCodePage();
    EXPECT_NE(0u, codePage);
    EXPECT_TRUE(IsValidCodePage(codePage));
}

}  // namespace
