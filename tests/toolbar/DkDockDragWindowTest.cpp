// Dragging dockable windows with real input on a shown form with a top dock: out of the
// dock to float, back by the floating caption into a row, Escape, Ctrl, a window that may
// not float, a throwing OnRequestDock, the loop's other ends (WM_QUIT, a lost capture), and
// resizing a floating window by its edges. A thread of the test's own gives the input
// while the GUI thread runs the loop; each move waits until the loop has taken it.
#include "DkDock.h"
#include "DkDockDrag.h"

#include "Barrier.h"
#include "Forms.h"
#include "GuiSupport.h"
#include "TestSupport.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const FloatingClass = "TDkFloatingWindowParent";

// A dockable window whose contents want a fixed size; it may give way as a toolbar would.
class TPlainWindow : public TDkCustomDockableWindow {
public:
    TPlainWindow(TComponent* owner, POINT base) : TDkCustomDockableWindow(owner), base_(base) {}
    POINT GetBaseSize() override { return base_; }
    TDkShrinkMode GetShrinkMode() override { return Shrink; }
    int GetMinimumLength() override { return Minimum; }
    TDkShrinkMode Shrink = dksmNone;
    int Minimum = 0;

private:
    POINT base_;
};

RECT WindowRect(HWND window)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(window, &r);
    return r;
}

std::string Text(const RECT& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "{%ld,%ld,%ld,%ld}", static_cast<long>(r.left), static_cast<long>(r.top),
                  static_cast<long>(r.right), static_cast<long>(r.bottom));
    return text;
}

// The moves the GUI thread takes from its queue: while its loop holds the capture, or any
// when told so.
class TTakenMoves {
public:
    TTakenMoves()
    {
        instance_ = this;
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        hook_ = SetWindowsHookExA(WH_GETMESSAGE, Hook, nullptr, GetCurrentThreadId());
    }
    TTakenMoves(const TTakenMoves&) = delete;
    TTakenMoves& operator=(const TTakenMoves&) = delete;
    ~TTakenMoves()
    {
        UnhookWindowsHookEx(hook_);
        CloseHandle(event_);
        instance_ = nullptr;
    }
    bool Installed() const { return hook_ && event_; }

    // The move to wait for, before it is sent. A move counts within a pixel (the input's
    // absolute coordinates are scaled); a late echo of an earlier one may follow it.
    void Expect(POINT at, bool captured = true)
    {
        reached_ = false;
        captured_ = captured;
        x_ = at.x;
        y_ = at.y;
    }
    // The points of the moves taken under the capture since the last call, as text: a
    // failed drag names the moves its loop saw.
    std::string TakeTrace()
    {
        std::string text;
        for (const POINT& p : trace_) text += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ") ";
        trace_.clear();
        return text;
    }
    // Waits until the loop has taken the move expected, giving it again now and then: the
    // X server's echo of an earlier move can overtake it in the queue and take its place.
    bool WaitTaken(const std::function<void()>& send, DWORD boundMs = 5000)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            if (reached_) return true;
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= boundMs) return false;
            if (WaitForSingleObject(event_, std::min<DWORD>(boundMs - elapsed, 250)) == WAIT_TIMEOUT && !reached_)
                send();
        }
    }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        Guarded([&] {
            const MSG* msg = reinterpret_cast<const MSG*>(lParam);
            TTakenMoves* self = instance_;
            // Over a frame, and without the capture, a move comes as a non-client one.
            const bool move = msg->message == WM_MOUSEMOVE || (msg->message == WM_NCMOUSEMOVE && !GetCapture());
            if (code != HC_ACTION || wParam != PM_REMOVE || !move || !self) return;
            if (GetCapture()) self->trace_.push_back(msg->pt);
            if ((GetCapture() || !self->captured_) && std::abs(self->x_.load() - msg->pt.x) <= 1 &&
                std::abs(self->y_.load() - msg->pt.y) <= 1) {
                self->reached_ = true;
                SetEvent(self->event_);
            }
        });
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static TTakenMoves* instance_;
    HHOOK hook_ = nullptr;
    HANDLE event_ = nullptr;
    std::atomic<LONG> x_{-100000}, y_{-100000};
    std::atomic<bool> reached_{false};
    std::atomic<bool> captured_{true};
    std::vector<POINT> trace_;  // the GUI thread's only
};
TTakenMoves* TTakenMoves::instance_ = nullptr;

// One step of the input a script gives.
struct TStep {
    enum TKind { Approach, Move, Pass, Down, Up, KeyPress, KeyDown, KeyUp, Post, Call } Kind;
    POINT At = {0, 0};
    WORD Key = 0;
    std::function<void()> Run = {};  // Call: on the script's thread

    // Before a press: the pointer goes there and the GUI thread takes the move, so that no
    // late move from where the pointer stood before (a test before may have left it far
    // away) comes into the loop and takes the drag elsewhere.
    static TStep ApproachTo(POINT p) { return {Approach, p}; }
    static TStep MoveTo(POINT p) { return {Move, p}; }
    static TStep PassOver(POINT p) { return {Pass, p}; }  // a move not waited for
    static TStep DownAt(POINT p) { return {Down, p}; }
    static TStep UpAt(POINT p) { return {Up, p}; }
    static TStep Press(WORD key) { return {KeyPress, {0, 0}, key}; }
    static TStep Hold(WORD key) { return {KeyDown, {0, 0}, key}; }
    static TStep Let(WORD key) { return {KeyUp, {0, 0}, key}; }
    static TStep PostCode(WORD code) { return {Post, {0, 0}, code}; }
    static TStep Do(std::function<void()> run) { return {Call, {0, 0}, 0, std::move(run)}; }
};

INPUT KeyInput(WORD key, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, 0));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

// Gives the steps from a thread of its own; a move waits until the loop took it.
class TInputScript {
public:
    TInputScript(TTakenMoves& taken, HWND postTarget, std::vector<TStep> steps)
        : taken_(taken), postTarget_(postTarget), steps_(std::move(steps))
    {
        thread_ = std::thread([this] { Run(); });
    }
    TInputScript(const TInputScript&) = delete;
    TInputScript& operator=(const TInputScript&) = delete;
    ~TInputScript() { thread_.join(); }
    bool Finished() const { return finished_; }
    // What went wrong, empty when every step went through.
    std::string Failure() const { return finished_ ? failure_ : "the script has not finished"; }

private:
    void Run()
    {
        for (size_t i = 0; i < steps_.size() && failure_.empty(); ++i) {
            const TStep& s = steps_[i];
            INPUT in[1];
            switch (s.Kind) {
            case TStep::Approach: {
                in[0] = MouseInputAt(s.At, 0);
                POINT now = {};
                GetCursorPos(&now);
                // A move to where the pointer stands already is no move: none would come.
                const bool there = std::abs(now.x - s.At.x) <= 1 && std::abs(now.y - s.At.y) <= 1;
                taken_.Expect(s.At, false);
                if (SendInput(1, in, sizeof(INPUT)) != 1) failure_ = "SendInput refused a move";
                else if (!there && !taken_.WaitTaken([&] { SendInput(1, in, sizeof(INPUT)); }))
                    failure_ = "the window did not take the move of step " + std::to_string(i);
                break;
            }
            case TStep::Move:
                in[0] = MouseInputAt(s.At, 0);
                taken_.Expect(s.At);
                if (SendInput(1, in, sizeof(INPUT)) != 1) failure_ = "SendInput refused a move";
                else if (!taken_.WaitTaken([&] { SendInput(1, in, sizeof(INPUT)); }))
                    failure_ = "the loop did not take the move of step " + std::to_string(i);
                break;
            case TStep::Pass:
            case TStep::Down:
            case TStep::Up:
                in[0] = MouseInputAt(s.At, s.Kind == TStep::Pass   ? 0
                                           : s.Kind == TStep::Down ? MOUSEEVENTF_LEFTDOWN
                                                                   : MOUSEEVENTF_LEFTUP);
                if (SendInput(1, in, sizeof(INPUT)) != 1) failure_ = "SendInput refused a button";
                break;
            case TStep::KeyPress: {
                INPUT keys[2] = {KeyInput(s.Key, false), KeyInput(s.Key, true)};
                if (SendInput(2, keys, sizeof(INPUT)) != 2) failure_ = "SendInput refused a key";
                break;
            }
            case TStep::KeyDown:
            case TStep::KeyUp:
                in[0] = KeyInput(s.Key, s.Kind == TStep::KeyUp);
                if (SendInput(1, in, sizeof(INPUT)) != 1) failure_ = "SendInput refused a key";
                break;
            case TStep::Post:
                PostMessageA(postTarget_, WM_APP + 77, s.Key, 0);
                break;
            case TStep::Call:
                s.Run();
                break;
            }
        }
        finished_ = true;
    }

    TTakenMoves& taken_;
    HWND postTarget_;
    std::vector<TStep> steps_;
    std::string failure_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// What a resize asked of the cursor's clip, an empty rectangle for a release: Wine accepts
// a clip and ignores it.
std::vector<RECT> clips;
BOOL WINAPI RecordClip(const RECT* area)
{
    clips.push_back(area ? *area : RECT{0, 0, 0, 0});
    return TRUE;
}

// What the GUI thread does when the script posts it a code.
enum TPostedCode : WORD { pcQuit = 1, pcReleaseCapture = 2, pcRecord = 3 };

class DockDrag : public testing::Test {
protected:
    void SetUp() override
    {
        clips.clear();
        clip_ = SetDkClipCursor(RecordClip);
        ASSERT_TRUE(taken.Installed());
        poster_ = std::make_unique<TUtilWindow>([this](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
            if (message != WM_APP + 77) return false;
            if (wParam == pcQuit) PostQuitMessage(7);
            if (wParam == pcReleaseCapture) ReleaseCapture();
            if (wParam == pcRecord && Record) Record();
            result = 0;
            return true;
        });
        form = new TForm(Application);
        form->SetCaption("Dock drag");
        form->SetBounds(150, 150, 500, 320);
        dock = new TDkDock(form);
        dock->SetParent(form);
        first = new TPlainWindow(form, {60, 22});
        first->SetName("First");
        second = new TPlainWindow(form, {60, 22});
        second->SetName("Second");
        first->SetDockRow(0);
        first->SetDockPos(0);
        first->SetCurrentDock(dock);
        second->SetDockRow(0);
        second->SetDockPos(200);
        second->SetCurrentDock(dock);
        form->Show();
        const HWND window = form->Handle();
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(window);
        ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == window && GetActiveWindow() == window; }));
        PumpPending();
        watchdog_ = std::make_unique<TLoopWatchdog>(20000);
    }

    void TearDown() override
    {
        if (HasFailure()) std::fprintf(stderr, "the moves the loops took, by drag:\n%s", moves_.c_str());
        watchdog_.reset();
        delete form;
        PumpPending();
        poster_.reset();
        SetDkClipCursor(clip_);
    }

    // Runs the script while the GUI thread pumps (the loop runs inside), until it has
    // finished and the loop is over.
    void RunScript(std::vector<TStep> steps)
    {
        TInputScript script(taken, poster_->Handle(), std::move(steps));
        EXPECT_TRUE(PumpUntil([&] { return script.Finished() && !first->Moving() && !GetCapture(); }, 30000));
        EXPECT_EQ(script.Failure(), "");
        EXPECT_FALSE(TLoopWatchdog::Fired());
        PumpPending();
        moves_ += taken.TakeTrace() + "\n";
    }

    // The loop gave back everything it took.
    void ExpectReleased()
    {
        EXPECT_EQ(GetCapture(), nullptr);
        const BOOL locked = LockWindowUpdate(form->Handle());
        EXPECT_TRUE(locked) << "the desktop is still locked";
        if (locked) LockWindowUpdate(nullptr);
        RECT clip;
        GetClipCursor(&clip);
        const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        EXPECT_TRUE(EqualRect(&clip, &screen)) << Text(clip);
        EXPECT_TRUE(clips.empty() || IsRectEmpty(&clips.back())) << "the cursor is still confined";
    }

    // Each grab a few pixels from the one before: two presses on one spot in a short time
    // would make a double-click.
    int NextSpot() { return (spot_++ % 2) * 6; }

    // A point on the drag handle of a docked window.
    POINT HandleOf(TDkCustomDockableWindow* w)
    {
        const RECT r = WindowRect(w->Handle());
        const POINT p = {r.left + 3, r.top + 6 + NextSpot()};
        EXPECT_EQ(SendMessageA(w->Handle(), WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)), DkHitHandle);
        EXPECT_EQ(WindowFromPoint(p), w->Handle());
        return p;
    }

    // A point on the caption of a floating window.
    POINT CaptionOf(TDkCustomDockableWindow* w)
    {
        TDkFloatingWindowParent* parent = w->FloatingParent();
        const RECT frame = WindowRect(parent->Handle());
        const RECT caption = parent->CaptionRect();
        const POINT p = {frame.left + caption.left + 6 + NextSpot(), frame.top + (caption.top + caption.bottom) / 2};
        EXPECT_EQ(SendMessageA(parent->Handle(), WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)), DkHitCaption);
        EXPECT_EQ(WindowFromPoint(p), parent->Handle());
        return p;
    }

    // Moves in a few steps from `from` to `to`, each one taken by the loop.
    static void AddMoves(std::vector<TStep>& steps, POINT from, POINT to, int count = 4)
    {
        for (int i = 1; i <= count; ++i)
            steps.push_back(TStep::MoveTo({from.x + (to.x - from.x) * i / count, from.y + (to.y - from.y) * i / count}));
    }

    // A drag by real input: down at `from`, moves to `to`, then `end` (the button let go
    // there when none).
    void Drag(POINT from, POINT to, std::vector<TStep> end = {}, std::vector<TStep> before = {})
    {
        std::vector<TStep> steps = std::move(before);
        steps.push_back(TStep::ApproachTo(from));
        steps.push_back(TStep::DownAt(from));
        // A first move on the spot: the loop has begun once it is taken.
        steps.push_back(TStep::MoveTo({from.x + 1, from.y}));
        AddMoves(steps, {from.x + 1, from.y}, to);
        if (end.empty()) end.push_back(TStep::UpAt(to));
        for (TStep& s : end) steps.push_back(std::move(s));
        RunScript(std::move(steps));
    }

    bool FloatingWindowShows(TDkCustomDockableWindow* w)
    {
        TDkFloatingWindowParent* parent = w->FloatingParent();
        if (!w->Floating() || !parent || !parent->HandleAllocated()) return false;
        char name[64] = "";
        GetClassNameA(parent->Handle(), name, sizeof name);
        return std::string(name) == FloatingClass && IsWindowVisible(parent->Handle()) &&
               GetAncestor(w->Handle(), GA_ROOT) == parent->Handle();
    }

    // Floats `w` with the program's own call, its frame's top-left at `at`.
    void FloatAt(TDkCustomDockableWindow* w, POINT at)
    {
        w->SetFloating(true);
        w->SetFloatingPosition(at);
        ASSERT_TRUE(PumpUntil([&] { return FloatingWindowShows(w); }));
        PumpPending();
    }

    TTakenMoves taken;
    std::function<void()> Record;  // run on the GUI thread, inside the loop, for pcRecord
    TForm* form = nullptr;
    TDkDock* dock = nullptr;
    TPlainWindow* first = nullptr;
    TPlainWindow* second = nullptr;

    HWND PostTarget() const { return poster_->Handle(); }

private:
    std::unique_ptr<TUtilWindow> poster_;
    std::unique_ptr<TLoopWatchdog> watchdog_;
    int spot_ = 0;
    TDkClipCursorProc clip_ = nullptr;
    std::string moves_;
};

const bool smoothModes[] = {false, true};

TEST_F(DockDrag, ByTheHandleOutOfTheDockItFloatsUnderTheCursor)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        first->SetDockRow(0);
        first->SetDockPos(0);
        first->SetCurrentDock(dock);
        PumpPending();
        ASSERT_TRUE(first->Docked());
        const int row = first->DockRow(), pos = first->DockPos();
        const POINT from = HandleOf(first);
        const RECT formRect = WindowRect(form->Handle());
        const POINT to = {formRect.left + 150, formRect.bottom - 60};
        // The outline is drawn on a desktop locked against updates: no other lock is taken.
        bool lockedDuring = false;
        Record = [&] {
            const BOOL locked = LockWindowUpdate(form->Handle());
            if (locked) LockWindowUpdate(nullptr);
            lockedDuring = !locked;
        };
        Drag(from, to, {TStep::PostCode(pcRecord), TStep::UpAt(to)});
        ExpectReleased();
        EXPECT_EQ(lockedDuring, !smooth);
        ASSERT_TRUE(PumpUntil([&] { return FloatingWindowShows(first); }));
        const RECT frame = WindowRect(first->FloatingParent()->Handle());
        EXPECT_TRUE(PtInRect(&frame, to)) << Text(frame);
        EXPECT_EQ(first->CurrentDock(), nullptr);
        EXPECT_EQ(first->LastDock(), dock);
        // Floating, it keeps the place it had in the dock.
        EXPECT_EQ(first->DockRow(), row);
        EXPECT_EQ(first->DockPos(), pos);
        EXPECT_TRUE(second->Docked());
    }
}

TEST_F(DockDrag, ByTheCaptionBackIntoTheDock)
{
    struct TCase {
        const char* Name;
        // Where the cursor lets go, from the second window's and the dock's screen rectangles.
        std::function<POINT(const RECT& second, const RECT& dock)> To;
        std::function<void()> Expect;
    };
    const TCase cases[] = {
        {"before the other window in its row",
         [](const RECT& s, const RECT& d) { return POINT{d.left + 10, (s.top + s.bottom) / 2}; },
         [&] {
             EXPECT_EQ(first->DockRow(), second->DockRow());
             EXPECT_LT(first->Left(), second->Left());
             EXPECT_EQ(first->Top(), second->Top());
         }},
        {"after the other window in its row",
         [](const RECT& s, const RECT&) { return POINT{s.right + 30, (s.top + s.bottom) / 2}; },
         [&] {
             EXPECT_EQ(first->DockRow(), second->DockRow());
             EXPECT_GT(first->Left(), second->Left());
             EXPECT_EQ(first->Top(), second->Top());
         }},
        {"into a new row below",
         [](const RECT& s, const RECT& d) { return POINT{s.left, d.bottom + 1}; },
         [&] {
             EXPECT_EQ(first->DockRow(), second->DockRow() + 1);
             EXPECT_GT(first->Top(), second->Top());
         }},
        {"into a new row above",
         [](const RECT& s, const RECT& d) { return POINT{s.left, d.top - 12}; },
         [&] {
             EXPECT_EQ(first->DockRow() + 1, second->DockRow());
             EXPECT_LT(first->Top(), second->Top());
         }},
    };
    for (bool smooth : smoothModes) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(smooth ? "smooth: " : "outline: ") + c.Name);
            second->SetDockRow(0);
            second->SetDockPos(200);
            first->SmoothDrag = smooth;
            const RECT formRect = WindowRect(form->Handle());
            FloatAt(first, {formRect.left + 100, formRect.bottom - 100});
            ASSERT_FALSE(HasFatalFailure());
            const POINT from = CaptionOf(first);
            const POINT to = c.To(WindowRect(second->Handle()), WindowRect(dock->Handle()));
            Drag(from, to);
            ExpectReleased();
            ASSERT_TRUE(PumpUntil([&] { return first->Docked(); }));
            EXPECT_EQ(first->CurrentDock(), dock);
            EXPECT_FALSE(first->Floating());
            EXPECT_EQ(first->FloatingParent(), nullptr) << "the floating window is freed";
            c.Expect();
        }
    }
}

TEST_F(DockDrag, EscapePutsTheWindowBack)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        PumpPending();
        const RECT before = WindowRect(first->Handle());
        const int row = first->DockRow(), pos = first->DockPos();
        const POINT from = HandleOf(first);
        const RECT formRect = WindowRect(form->Handle());
        const POINT to = {formRect.left + 150, formRect.bottom - 60};
        Drag(from, to, {TStep::Press(VK_ESCAPE), TStep::UpAt(to)});
        ExpectReleased();
        EXPECT_TRUE(first->Docked());
        EXPECT_FALSE(first->Floating());
        EXPECT_EQ(first->FloatingParent(), nullptr);
        EXPECT_EQ(first->DockRow(), row);
        EXPECT_EQ(first->DockPos(), pos);
        const RECT after = WindowRect(first->Handle());
        EXPECT_TRUE(EqualRect(&before, &after)) << Text(after);
    }
}

TEST_F(DockDrag, EscapePutsAFloatingWindowBackWhereItFloated)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        const RECT formRect = WindowRect(form->Handle());
        FloatAt(first, {formRect.left + 100, formRect.bottom - 100});
        ASSERT_FALSE(HasFatalFailure());
        const RECT before = WindowRect(first->FloatingParent()->Handle());
        const POINT from = CaptionOf(first);
        const RECT s = WindowRect(second->Handle());
        const POINT to = {s.right + 30, (s.top + s.bottom) / 2};
        Drag(from, to, {TStep::Press(VK_ESCAPE), TStep::UpAt(to)});
        ExpectReleased();
        ASSERT_TRUE(FloatingWindowShows(first));
        const RECT after = WindowRect(first->FloatingParent()->Handle());
        EXPECT_TRUE(EqualRect(&before, &after)) << Text(after);
        first->SetCurrentDock(dock);
        PumpPending();
    }
}

TEST_F(DockDrag, AWindowThatMayNotFloatShowsTheNoCursorAndStays)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        first->DockMode = dmCannotFloat;
        PumpPending();
        const RECT before = WindowRect(first->Handle());
        const POINT from = HandleOf(first);
        const RECT formRect = WindowRect(form->Handle());
        const POINT to = {formRect.left + 150, formRect.bottom - 60};
        HCURSOR shown = nullptr;
        Record = [&] { shown = GetCursor(); };
        Drag(from, to, {TStep::PostCode(pcRecord), TStep::UpAt(to)});
        ExpectReleased();
        EXPECT_EQ(shown, LoadCursorA(nullptr, IDC_NO));
        EXPECT_TRUE(first->Docked());
        // The drag began with a step of one pixel along the dock, which a smooth drag takes.
        const RECT after = WindowRect(first->Handle());
        EXPECT_EQ(after.top, before.top);
        EXPECT_LE(std::abs(after.left - before.left), smooth ? 1 : 0) << Text(after);
    }
}

// Ctrl comes while the drag goes on: a modifier held by real input drops out of the key
// state here whenever the X pointer moves (Wine takes the X server's keymap), but its
// messages do come.
TEST_F(DockDrag, CtrlPressedDuringTheDragKeepsTheWindowFromDocking)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        const RECT formRect = WindowRect(form->Handle());
        FloatAt(first, {formRect.left + 100, formRect.bottom - 100});
        ASSERT_FALSE(HasFatalFailure());
        const POINT from = CaptionOf(first);
        const RECT s = WindowRect(second->Handle());
        const POINT to = {s.right + 30, (s.top + s.bottom) / 2};
        std::vector<TStep> steps = {TStep::DownAt(from), TStep::MoveTo({from.x + 1, from.y}), TStep::Hold(VK_CONTROL)};
        AddMoves(steps, {from.x + 1, from.y}, to);
        steps.push_back(TStep::UpAt(to));
        steps.push_back(TStep::Let(VK_CONTROL));
        RunScript(std::move(steps));
        ExpectReleased();
        EXPECT_TRUE(FloatingWindowShows(first));
        EXPECT_FALSE(first->Docked());
        first->SetCurrentDock(dock);
        PumpPending();
    }
}

// Ctrl already down when the drag begins: the window comes out of its dock at once.
TEST_F(DockDrag, CtrlHeldAtTheStartFloatsTheWindowAtOnce)
{
    BYTE keys[256];
    ASSERT_TRUE(GetKeyboardState(keys));
    BYTE held[256];
    std::copy(keys, keys + 256, held);
    held[VK_CONTROL] = held[VK_LCONTROL] = 0x80;
    bool floatingInLoop = false;
    Record = [&] { floatingInLoop = first->Floating(); };
    const RECT r = WindowRect(first->Handle());
    TInputScript script(taken, PostTarget(), {TStep::PostCode(pcRecord), TStep::Press(VK_ESCAPE)});
    ASSERT_TRUE(SetKeyboardState(held));
    first->BeginMoving({3, 6});
    SetKeyboardState(keys);
    EXPECT_TRUE(PumpUntil([&] { return script.Finished(); }));
    EXPECT_TRUE(floatingInLoop);
    ExpectReleased();
    EXPECT_TRUE(first->Docked()) << "Escape puts it back";
    const RECT after = WindowRect(first->Handle());
    EXPECT_TRUE(EqualRect(&r, &after)) << Text(after);
}

TEST_F(DockDrag, TheLoopEndsOnWMQuitAndLeavesItInTheQueue)
{
    const POINT from = HandleOf(first);
    const POINT to = {from.x + 40, from.y};
    std::vector<TStep> steps = {TStep::DownAt(from), TStep::MoveTo({from.x + 1, from.y})};
    AddMoves(steps, {from.x + 1, from.y}, to);
    steps.push_back(TStep::PostCode(pcQuit));
    steps.push_back(TStep::UpAt(to));
    TInputScript script(taken, PostTarget(), std::move(steps));
    // The pump ends at the WM_QUIT the loop put back.
    PumpUntil([&] { return false; }, 30000);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_TRUE(PumpUntil([&] { return script.Finished(); }));
    EXPECT_EQ(script.Failure(), "");
    PumpPending();
    EXPECT_FALSE(first->Moving());
    ExpectReleased();
    EXPECT_TRUE(first->Docked());
}

TEST_F(DockDrag, TheLoopEndsWhenTheCaptureGoes)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        const POINT from = HandleOf(first);
        const RECT formRect = WindowRect(form->Handle());
        const POINT to = {formRect.left + 150, formRect.bottom - 60};
        Drag(from, to, {TStep::PostCode(pcReleaseCapture), TStep::UpAt(to)});
        ExpectReleased();
        EXPECT_TRUE(first->Docked()) << "a drag that did not end by the button is not applied";
        EXPECT_FALSE(first->Floating());
    }
}

TEST_F(DockDrag, AThrowingRequestDockReleasesAllBeforeItGoesOn)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        int asked = 0;
        dock->OnRequestDock = [&](TObject*, TDkCustomDockableWindow*, bool&) {
            ++asked;
            throw std::runtime_error("no dock here");
        };
        // Called by the program itself: the exception comes out of the call.
        const RECT r = WindowRect(first->Handle());
        EXPECT_THROW(first->BeginMoving({3, (r.bottom - r.top) / 2}), std::runtime_error);
        EXPECT_EQ(asked, 1);
        EXPECT_FALSE(first->Moving());
        ExpectReleased();
        dock->OnRequestDock = nullptr;
    }
}

// A handler that throws while the loop runs ends it; the exception goes on, through the
// window procedure that began the drag, to the application's report.
class ThrowingHandler : public DockDrag, public testing::WithParamInterface<bool> {
protected:
    // Drags the first window a pixel along its dock with `smooth`; true when the report came.
    void DragOnePixel(TRecordingSink& sink)
    {
        first->SmoothDrag = GetParam();
        const POINT from = HandleOf(first);
        // The button is let go where a loop may no longer take it.
        TInputScript script(taken, PostTarget(),
                            {TStep::DownAt(from), TStep::PassOver({from.x + 1, from.y}), TStep::UpAt({from.x + 1, from.y})});
        EXPECT_TRUE(PumpUntil([&] { return script.Finished() && !sink.Requests.empty(); }, 30000));
        EXPECT_EQ(script.Failure(), "");
        PumpPending();
        ASSERT_EQ(sink.Requests.size(), 1u);
        EXPECT_NE(sink.Requests[0].Text.find("thrown by the handler"), std::string::npos);
        EXPECT_FALSE(first->Moving());
        ExpectReleased();
    }
};

// The first ask is at the start, the second at a move.
TEST_P(ThrowingHandler, OnRequestDock)
{
    TRecordingSink sink;
    int asked = 0;
    dock->OnRequestDock = [&](TObject*, TDkCustomDockableWindow*, bool&) {
        if (++asked == 2) throw std::runtime_error("thrown by the handler");
    };
    DragOnePixel(sink);
    EXPECT_EQ(asked, 2);
}

// A smooth drag moves the window in its dock at the first move, an outline drag at the end.
TEST_P(ThrowingHandler, OnMove)
{
    TRecordingSink sink;
    first->OnMove = [](TObject*) { throw std::runtime_error("thrown by the handler"); };
    DragOnePixel(sink);
}

INSTANTIATE_TEST_SUITE_P(DockDrag, ThrowingHandler, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Smooth" : "Outline"; });

// The resize's own refinement throws: the window hears that sizing ended, unapplied, and
// the exception goes on after all is released.
class TThrowingSizer : public TDkCustomDockableWindow {
public:
    using TDkCustomDockableWindow::TDkCustomDockableWindow;
    void SizingBegins(int edge) override { Begun.push_back(edge); }
    void SizingEnds(bool applied) override { Ended.push_back(applied); }
    void AdjustSizingRect(RECT&, int) override { throw std::runtime_error("cannot take that size"); }
    std::vector<int> Begun;
    std::vector<bool> Ended;
};

TEST_F(DockDrag, AResizeThatThrowsEndsSizingAndReleasesAll)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        auto* sizer = new TThrowingSizer(form);
        sizer->SetName("Sizer");
        sizer->SetBounds(0, 0, 60, 22);
        sizer->SmoothDrag = smooth;
        sizer->SetDockRow(1);
        sizer->SetCurrentDock(dock);
        const RECT formRect = WindowRect(form->Handle());
        FloatAt(sizer, {formRect.left + 100, formRect.bottom - 100});
        ASSERT_FALSE(HasFatalFailure());
        const HWND frame = sizer->FloatingParent()->Handle();
        const RECT before = WindowRect(frame);
        const POINT from = {before.right - 1, (before.top + before.bottom) / 2};
        ASSERT_EQ(SendMessageA(frame, WM_NCHITTEST, 0, MAKELPARAM(from.x, from.y)), HTRIGHT);
        clips.clear();
        TRecordingSink sink;
        TInputScript script(taken, PostTarget(),
                            {TStep::DownAt(from), TStep::PassOver({from.x + 5, from.y}), TStep::UpAt({from.x + 5, from.y})});
        EXPECT_TRUE(PumpUntil([&] { return script.Finished() && !sink.Requests.empty(); }, 30000));
        PumpPending();
        ASSERT_EQ(sink.Requests.size(), 1u);
        EXPECT_NE(sink.Requests[0].Text.find("cannot take that size"), std::string::npos);
        EXPECT_EQ(sizer->Begun, std::vector<int>{1});
        EXPECT_EQ(sizer->Ended, std::vector<bool>{false});
        ExpectReleased();
        ASSERT_EQ(clips.size(), 2u);
        EXPECT_TRUE(IsRectEmpty(&clips[1]));
        const RECT after = WindowRect(frame);
        EXPECT_TRUE(EqualRect(&before, &after)) << Text(after);
        delete sizer;
        PumpPending();
    }
}

// A dock that does not take the window: the window floats where it is let go over it.
TEST_F(DockDrag, ADockThatDoesNotTakeTheWindowLeavesItFloating)
{
    const struct {
        const char* Name;
        bool Refuse;              // OnRequestDock says no
        TDkDockableTo DockableTo;
    } cases[] = {
        {"OnRequestDock refuses", true, DkDockableToAll},
        {"the window does not go to top docks", false, static_cast<TDkDockableTo>(DkDockableToAll & ~(1u << dpTop))},
    };
    for (bool smooth : smoothModes) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(smooth ? "smooth: " : "outline: ") + c.Name);
            first->SmoothDrag = smooth;
            const RECT formRect = WindowRect(form->Handle());
            FloatAt(first, {formRect.left + 100, formRect.bottom - 100});
            ASSERT_FALSE(HasFatalFailure());
            int asked = 0;
            dock->OnRequestDock = [&](TObject* sender, TDkCustomDockableWindow* bar, bool& accept) {
                ++asked;
                EXPECT_EQ(sender, dock);
                EXPECT_EQ(bar, first);
                if (c.Refuse) accept = false;
            };
            first->DockableTo = c.DockableTo;
            const POINT from = CaptionOf(first);
            const RECT s = WindowRect(second->Handle());
            const POINT to = {s.right + 30, (s.top + s.bottom) / 2};
            Drag(from, to);
            ExpectReleased();
            EXPECT_TRUE(FloatingWindowShows(first));
            EXPECT_EQ(asked > 0, c.Refuse) << "only a dock the window goes to is asked";
            const RECT frame = WindowRect(first->FloatingParent()->Handle());
            EXPECT_TRUE(PtInRect(&frame, to)) << Text(frame);
            dock->OnRequestDock = nullptr;
            first->DockableTo = DkDockableToAll;
            first->SetCurrentDock(dock);
            PumpPending();
        }
    }
}

// A form listed among the window's dock forms lends its docks to the drag.
TEST_F(DockDrag, IntoTheDockOfADockForm)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        first->SmoothDrag = smooth;
        auto* other = new TForm(Application);
        other->SetCaption("Dock form");
        other->SetBounds(700, 150, 300, 300);
        auto* side = new TDkDock(other);
        side->SetPosition(dpLeft);
        side->SetParent(other);
        other->Show();
        SetWindowPos(other->Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        PumpPending();
        first->DockForms().push_back(other);
        const RECT formRect = WindowRect(form->Handle());
        FloatAt(first, {formRect.left + 100, formRect.bottom - 100});
        ASSERT_FALSE(HasFatalFailure());
        const POINT from = CaptionOf(first);
        const RECT sideRect = WindowRect(side->Handle());
        const POINT to = {sideRect.left + 1, sideRect.top + 40};
        Drag(from, to);
        ExpectReleased();
        EXPECT_EQ(first->CurrentDock(), side);
        EXPECT_EQ(first->Parent(), side);
        EXPECT_GT(side->Width(), 0) << "the dock is as thick as the window in it";
        first->DockForms().clear();
        first->SetCurrentDock(dock);
        PumpPending();
        delete other;
        PumpPending();
    }
}

// Two windows that give way share a row too short for both; dragging the second along the
// row moves the split between them, and the drag stays in that row.
TEST_F(DockDrag, DraggingAlongAFullRowMovesTheSplit)
{
    for (bool smooth : smoothModes) {
        SCOPED_TRACE(smooth ? "smooth" : "outline");
        for (TPlainWindow* w : {first, second}) {
            w->Shrink = dksmChevron;
            w->Minimum = 30;
            w->SmoothDrag = smooth;
        }
        // Each is 70 long; the row has 110: the second, wanted at 40, shortens the first.
        form->SetClientSize(110, 200);
        first->SetDockRow(0);
        first->SetDockPos(0);
        second->SetDockRow(0);
        second->SetDockPos(40);
        dock->ArrangeToolbars();
        PumpPending();
        const RECT firstBefore = WindowRect(first->Handle()), secondBefore = WindowRect(second->Handle());
        ASSERT_EQ(firstBefore.right - firstBefore.left, 40);
        ASSERT_EQ(secondBefore.left, firstBefore.right);

        HCURSOR shown = nullptr;
        Record = [&] { shown = GetCursor(); };
        const POINT from = HandleOf(second);
        const POINT to = {from.x + 20, from.y};
        Drag(from, to, {TStep::PostCode(pcRecord), TStep::UpAt(to)});
        ExpectReleased();
        EXPECT_EQ(shown, LoadCursorA(nullptr, IDC_SIZEWE));
        EXPECT_FALSE(dock->DragSplitting);
        EXPECT_EQ(dock->DraggedWindow, nullptr);
        const RECT firstAfter = WindowRect(first->Handle()), secondAfter = WindowRect(second->Handle());
        EXPECT_EQ(first->DockRow(), second->DockRow());
        EXPECT_EQ(secondAfter.top, secondBefore.top);
        EXPECT_EQ(firstAfter.right - firstAfter.left, 60) << Text(firstAfter);
        EXPECT_EQ(secondAfter.left, firstAfter.right);
        EXPECT_EQ(secondAfter.right - secondAfter.left, 50) << Text(secondAfter);
        EXPECT_EQ(second->DockPos(), 60);
    }
}

// The work area a resize confines the cursor to, smaller than the screen so that the clip shows.
class TSmallWorkArea : public TDkSystemChecks {
public:
    TSmallWorkArea() : before_(SetDkSystem(this)) {}
    TSmallWorkArea(const TSmallWorkArea&) = delete;
    TSmallWorkArea& operator=(const TSmallWorkArea&) = delete;
    ~TSmallWorkArea() override { SetDkSystem(before_); }
    RECT Area = {10, 10, GetSystemMetrics(SM_CXSCREEN) - 10, GetSystemMetrics(SM_CYSCREEN) - 10};
    bool MultipleMonitors() override { return false; }
    RECT MonitorRectOfWindow(HWND, bool) override { return Area; }

private:
    TDkSystemChecks* before_;
};

TEST_F(DockDrag, AFloatingWindowResizedByAnEdgeOrCorner)
{
    struct TCase {
        const char* Name;
        std::function<POINT(const RECT& frame)> Grab;
        LRESULT Hit;
        POINT Travel;
        bool Escape;
        SIZE Grown;  // how much wider and higher the frame ends
    };
    const TCase cases[] = {
        {"the right edge", [](const RECT& f) { return POINT{f.right - 1, (f.top + f.bottom) / 2}; }, HTRIGHT,
         {30, 12}, false, {30, 0}},
        {"the bottom-right corner", [](const RECT& f) { return POINT{f.right - 1, f.bottom - 1}; }, HTBOTTOMRIGHT,
         {30, 20}, false, {30, 20}},
        {"Escape gives the size back", [](const RECT& f) { return POINT{f.right - 1, f.bottom - 1}; },
         HTBOTTOMRIGHT, {30, 20}, true, {0, 0}},
    };
    TSmallWorkArea workArea;
    // The base class: its contents take the size they are given.
    auto* sized = new TDkCustomDockableWindow(form);
    sized->SetName("Sized");
    sized->SetBounds(0, 0, 60, 22);
    sized->SetDockRow(1);
    sized->SetCurrentDock(dock);
    for (bool smooth : smoothModes) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(smooth ? "smooth: " : "outline: ") + c.Name);
            sized->SmoothDrag = smooth;
            const RECT formRect = WindowRect(form->Handle());
            FloatAt(sized, {formRect.left + 100, formRect.bottom - 100});
            ASSERT_FALSE(HasFatalFailure());
            const HWND frame = sized->FloatingParent()->Handle();
            const RECT before = WindowRect(frame);
            const SIZE client = {sized->Width(), sized->Height()};
            // Each case has a frame of its own: no double-click.
            const POINT from = c.Grab(before);
            ASSERT_EQ(SendMessageA(frame, WM_NCHITTEST, 0, MAKELPARAM(from.x, from.y)), c.Hit);
            const POINT to = {from.x + c.Travel.x, from.y + c.Travel.y};
            clips.clear();
            std::vector<TStep> end;
            if (c.Escape) end.push_back(TStep::Press(VK_ESCAPE));
            end.push_back(TStep::UpAt(to));
            Drag(from, to, std::move(end));
            ExpectReleased();
            // While resizing the cursor stays in the work area.
            ASSERT_EQ(clips.size(), 2u);
            EXPECT_TRUE(EqualRect(&clips[0], &workArea.Area)) << Text(clips[0]);
            EXPECT_TRUE(IsRectEmpty(&clips[1]));
            ASSERT_TRUE(sized->Floating());
            const RECT after = WindowRect(frame);
            EXPECT_EQ(after.left, before.left);
            EXPECT_EQ(after.top, before.top);
            EXPECT_EQ(after.right - after.left, before.right - before.left + c.Grown.cx) << Text(after);
            EXPECT_EQ(after.bottom - after.top, before.bottom - before.top + c.Grown.cy) << Text(after);
            EXPECT_EQ(sized->Width(), client.cx + c.Grown.cx);
            EXPECT_EQ(sized->Height(), client.cy + c.Grown.cy);
            sized->SetCurrentDock(dock);
            PumpPending();
        }
    }
}

}  // namespace
