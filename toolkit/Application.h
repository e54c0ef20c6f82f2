// The application object: title, help file, message pump, exception reports, and the one
// sink that every modal message box goes through.
#pragma once

#include "Classes.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// What a modal message box would show; the sink returns the button pressed (IDOK, IDYES...).
struct TMessageRequest {
    std::string Text;
    std::string Caption;
    UINT Flags = MB_OK;
};
using TMessageSink = std::function<int(const TMessageRequest& request)>;

class TCustomForm;
struct TMessage;

// A hook on the notifications the application's main window gets
// (CM_APPKEYDOWN, CM_APPSYSCOMMAND); true when it handled the message.
using TMainWindowHook = std::function<bool(TMessage& message)>;

// Answers a help request; the default calls WinHelp.
using THelpSink = std::function<bool(const std::string& helpFile, UINT command, ULONG_PTR data)>;

using TExceptionEvent = std::function<void(TObject* sender, const std::exception& e)>;
using TMessageEvent = std::function<void(MSG& msg, bool& handled)>;

class TApplication : public TComponent {
public:
    TApplication();

    std::string Title;  // the program's name until set
    std::string HelpFile;
    TCustomForm* MainForm = nullptr;

    // Handles every waiting message. A WM_QUIT it takes is put back and ends the pass.
    void ProcessMessages();
    // Handles one message, waiting for one when none is there; returns as well once a call
    // from another thread (a synchronised call, a sent message) has run, so that a loop
    // "until a flag is set" sees a flag that such a call sets.
    void HandleMessage();
    // Shows the main form and handles messages until a WM_QUIT arrives.
    void Run();
    void Terminate() { PostQuitMessage(0); }
    bool Terminated() const { return terminated_; }

    // Reports the exception being handled (call it inside a catch block).
    void HandleException(TObject* sender);
    void ShowException(const std::exception& e);

    // Shows a modal message box through the sink; returns the button pressed.
    int MessageBox(const std::string& text, const std::string& caption, UINT flags);
    // Replaces the sink and returns the one before; an empty sink restores the system's box.
    TMessageSink SetMessageSink(TMessageSink sink);

    // Help on a context number of the help file; false when there is no help file.
    bool HelpContext(int context);
    bool HelpCommand(UINT command, ULONG_PTR data);
    THelpSink SetHelpSink(THelpSink sink);

    // A filter sees each message before it is dispatched; true means it took the message.
    void AddMessageFilter(std::function<bool(MSG&)> filter);

    // Hooks run in the order they came until one handles the message.
    int HookMainWindow(TMainWindowHook hook);  // an identifier for UnhookMainWindow
    void UnhookMainWindow(int id);
    bool CallMainWindowHooks(TMessage& message);

    TExceptionEvent OnException;
    TMessageEvent OnMessage;

private:
    bool ProcessMessage(MSG& msg);
    void Dispatch(MSG& msg);
    std::vector<std::function<bool(MSG&)>> filters_;
    std::vector<std::pair<int, TMainWindowHook>> mainWindowHooks_;
    int nextHookId_ = 0;

    bool terminated_ = false;
    TMessageSink sink_;
    THelpSink helpSink_;
};

extern TApplication* const Application;
// The thread that started the program: the GUI thread.
extern const DWORD MainThreadID;
inline bool InMainThread() { return GetCurrentThreadId() == MainThreadID; }
