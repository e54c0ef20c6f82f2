// tavrin as a program: started as the user starts it, its window closed, the process ends
// by itself with exit code 0. Its port list scans the COM ports (the comscan lock); with no
// settings it opens none.
#include "MainWindowSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return ExtractFilePath(path) + "tavrin.exe";
}

struct TFoundWindow {
    DWORD Process;
    HWND Window;
};

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM data)
{
    auto* found = reinterpret_cast<TFoundWindow*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    if (pid != found->Process || !IsWindowVisible(window) || std::string(title) != "Tavrin V1.1 Build 5") return TRUE;
    found->Window = window;
    return FALSE;
}

class Program : public testing::Test {
protected:
    void SetUp() override
    {
        settings = SettingsFolder() + "tavrin.INI";
        DeleteFileA(settings.c_str());
    }
    void TearDown() override
    {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 99);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        DeleteFileA(settings.c_str());
    }
    std::string settings;
    PROCESS_INFORMATION process = {};
};

// Its forms are freed with every library they use still there: a dock left to the end of
// the program's static objects would crash it on the way out.
TEST_F(Program, ClosingTheWindowEndsTheProgramWithCodeZero)
{
    // A crash ends the program with its code instead of a debugger's dialog.
    SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
    std::string command = "\"" + ProgramPath() + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << GetLastError();
    // Idle once its window is up and its start-up done.
    ASSERT_EQ(WaitForInputIdle(process.hProcess, 30000), 0u);
    TFoundWindow found = {process.dwProcessId, nullptr};
    EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&found));
    ASSERT_TRUE(found.Window);
    PostMessageA(found.Window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 0u) << std::hex << code;
    EXPECT_EQ(TIniFile(settings).ReadInteger("COMMS", "ComPort", -1), 0) << "its settings written at the close";
}

}  // namespace
