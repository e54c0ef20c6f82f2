#include "Application.h"

#include "Barrier.h"
#include "Forms.h"
#include "SysUtils.h"
#include "UtilWindow.h"

#include <algorithm>

const DWORD MainThreadID = GetCurrentThreadId();

namespace {

TApplication& TheApplication()
{
    static TApplication application;
    return application;
}

std::string ProgramStem()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

bool SystemHelp(const std::string& helpFile, UINT command, ULONG_PTR data)
{
    return WinHelpA(GetActiveWindow(), helpFile.c_str(), command, data) != 0;
}

int SystemMessageBox(const TMessageRequest& request)
{
    return MessageBoxA(GetActiveWindow(), request.Text.c_str(), request.Caption.c_str(), request.Flags);
}

}  // namespace

TApplication* const Application = &TheApplication();

TApplication::TApplication()
    : TComponent(nullptr), Title(ProgramStem()), sink_(SystemMessageBox), helpSink_(SystemHelp)
{
}

bool TApplication::ProcessMessage(MSG& msg)
{
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        // Whoever runs the outer loop must still see it.
        terminated_ = true;
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    Dispatch(msg);
    return true;
}

void TApplication::Dispatch(MSG& msg)
{
    bool handled = false;
    if (OnMessage) OnMessage(msg, handled);
    if (handled) return;
    const auto filters = filters_;
    for (const auto& filter : filters)
        if (filter(msg)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void TApplication::AddMessageFilter(std::function<bool(MSG&)> filter)
{
    filters_.push_back(std::move(filter));
}

int TApplication::HookMainWindow(TMainWindowHook hook)
{
    mainWindowHooks_.emplace_back(++nextHookId_, std::move(hook));
    return nextHookId_;
}

void TApplication::UnhookMainWindow(int id)
{
    for (auto it = mainWindowHooks_.begin(); it != mainWindowHooks_.end(); ++it)
        if (it->first == id) {
            mainWindowHooks_.erase(it);
            return;
        }
}

bool TApplication::CallMainWindowHooks(TMessage& message)
{
    // A hook may unhook itself or others while it runs.
    const auto hooks = mainWindowHooks_;
    for (const auto& [id, hook] : hooks) {
        const bool listed = std::any_of(mainWindowHooks_.begin(), mainWindowHooks_.end(),
                                        [id = id](const auto& entry) { return entry.first == id; });
        if (listed && hook(message)) return true;
    }
    return false;
}

bool TApplication::HelpContext(int context)
{
    return HelpCommand(HELP_CONTEXT, static_cast<ULONG_PTR>(context));
}

bool TApplication::HelpCommand(UINT command, ULONG_PTR data)
{
    if (HelpFile.empty()) return false;
    return helpSink_(HelpFile, command, data);
}

THelpSink TApplication::SetHelpSink(THelpSink sink)
{
    THelpSink previous = std::move(helpSink_);
    helpSink_ = sink ? std::move(sink) : THelpSink(SystemHelp);
    return previous;
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (ProcessMessage(msg)) {
    }
}

void TApplication::HandleMessage()
{
    // A call from another thread runs inside the peek and posts nothing: the caller must
    // look at what it changed before this sleeps. WaitMessage would run such a call and
    // sleep on; the wait below returns for it, and the next peek runs it.
    const unsigned calls = CrossThreadCalls();
    MSG msg;
    if (ProcessMessage(msg) || terminated_ || CrossThreadCalls() != calls) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void TApplication::Run()
{
    terminated_ = false;
    if (MainForm) MainForm->Show();
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
    terminated_ = true;
}

void TApplication::HandleException(TObject* sender)
{
    const std::exception_ptr current = std::current_exception();
    if (!current) return;
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        if (OnException) OnException(sender, e);
        else ShowException(e);
    } catch (...) {
        const Exception unknown("Unknown exception");
        if (OnException) OnException(sender, unknown);
        else ShowException(unknown);
    }
}

void TApplication::ShowException(const std::exception& e)
{
    MessageBox(Sentence(e.what()), Title, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags)
{
    const TMessageSink sink = sink_;  // a sink may replace itself while it runs
    return sink(TMessageRequest{text, caption, flags});
}

TMessageSink TApplication::SetMessageSink(TMessageSink sink)
{
    TMessageSink previous = std::move(sink_);
    sink_ = sink ? std::move(sink) : TMessageSink(SystemMessageBox);
    return previous;
}
