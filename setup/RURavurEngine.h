// The launcher's contract with the package's installation engine, "RURavur.dll": its three
// exports and the interfaces of its objects. setup and the sample engine in
// tools/sample_engine both build against this header, so the two cannot drift apart.
//
// The order of the launcher's calls:
//   InstallEngineTypelib(no_engine)                   -> FALSE fails the type-library step
//   DllGetClassObject(CLSID_RURavurEngine, IClassFactory) -> CreateInstance(IRURavurEngine)
//   IRURavurEngine::Attach                            (the engine object step)
//   IRURavurEngine::ReadHeaderFiles                   (a package on the web only)
//   IRURavurEngine::OpenCabinet
//   IRURavurEngine::SetSupportFolder, SetProperty...  (support folder and engine properties)
//   IRURavurEngine::SetCommandLine                    (answers the engine log's path)
//   IRURavurEngine::Initialize                        (the dialog sequence only)
//   IRURavurEngine::Run
//   IRURavurEngine::Finish
//   IRURavurResult::GetResult                         -> the launcher's exit code
//   RemoveEngineTypelib()                             (at tear-down)
// After a failure the launcher tells the notification sink that it is ending and asks the
// controller to stop. Every method answers S_OK or a failure code; a failure code ends the
// launcher's step with that code.
#pragma once

#include <windows.h>
#include <unknwn.h>

// The engine's exports, all __stdcall.
using InstallEngineTypelibProc = BOOL(WINAPI*)(BOOL no_engine);
using RemoveEngineTypelibProc = void(WINAPI*)();

// {5E0B6C1A-7D2F-4A8E-9C31-2B7F4E6A9D10}
inline constexpr CLSID CLSID_RURavurEngine = {
    0x5e0b6c1a, 0x7d2f, 0x4a8e, {0x9c, 0x31, 0x2b, 0x7f, 0x4e, 0x6a, 0x9d, 0x10}};
// {CEA84D3E-BB98-4BDB-B236-456F7F090575}
inline constexpr IID IID_IRURavurResult = {
    0xcea84d3e, 0xbb98, 0x4bdb, {0xb2, 0x36, 0x45, 0x6f, 0x7f, 0x09, 0x05, 0x75}};
// {250A289C-77A0-42A5-A9DD-0EDBD2F1B8F6}
inline constexpr IID IID_IRURavurStop = {
    0x250a289c, 0x77a0, 0x42a5, {0xa9, 0xdd, 0x0e, 0xdb, 0xd2, 0xf1, 0xb8, 0xf6}};
// {B421854F-05A0-4ECA-BE89-43094BE54E6D}: asked of the engine object for its user interface
inline constexpr IID IID_IRURavurUi = {
    0xb421854f, 0x05a0, 0x4eca, {0xbe, 0x89, 0x43, 0x09, 0x4b, 0xe5, 0x4e, 0x6d}};
// {9428A859-6DA5-4B68-B599-3751B6C6B281}: asked of that for the progress window's taker
inline constexpr IID IID_IRURavurProgressWindow = {
    0x9428a859, 0x6da5, 0x4b68, {0xb5, 0x99, 0x37, 0x51, 0xb6, 0xc6, 0xb2, 0x81}};
// {7A3C9E21-4B6D-4F08-A5E2-C19D3B7F6A42}
inline constexpr IID IID_IRURavurEngine = {
    0x7a3c9e21, 0x4b6d, 0x4f08, {0xa5, 0xe2, 0xc1, 0x9d, 0x3b, 0x7f, 0x6a, 0x42}};
// {D04F7B93-2C8A-4E1B-8F36-5A9E0C2D7B84}
inline constexpr IID IID_IRURavurNotify = {
    0xd04f7b93, 0x2c8a, 0x4e1b, {0x8f, 0x36, 0x5a, 0x9e, 0x0c, 0x2d, 0x7b, 0x84}};

// The result interface of the engine object.
struct IRURavurResult : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetResult(LONG* result) = 0;
};

// The stop interface of the engine controller.
struct IRURavurStop : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
};

// The engine's notification sink.
struct IRURavurNotify : public IUnknown {
    // The launcher is ending after a failure; `launcher` is its transfer-events interface.
    virtual HRESULT STDMETHODCALLTYPE OnLauncherEnding(IUnknown* launcher) = 0;
};

// Takes the launcher's progress window before the launcher destroys it.
struct IRURavurProgressWindow : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProgressWindow(HWND window) = 0;
};

// The engine object.
struct IRURavurEngine : public IUnknown {
    // `launcher` is the launcher's transfer-events interface (qv::ISetupTransferEvents),
    // valid until the engine is released. The folders end in a backslash.
    virtual HRESULT STDMETHODCALLTYPE Attach(IUnknown* launcher, LPCWSTR media_folder, LPCWSTR disk1_folder) = 0;
    // The package's header files from a package on the web, through the connection's
    // credentials.
    virtual HRESULT STDMETHODCALLTYPE ReadHeaderFiles(LPCWSTR url, LPCWSTR user, LPCWSTR password,
        LPCWSTR proxy_user, LPCWSTR proxy_password) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenCabinet(LPCWSTR media_folder) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSupportFolder(LPCWSTR folder) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR name, LPCWSTR value) = 0;
    // The engine's command line and the setup.ini it reads; answers where its log file goes
    // (a BSTR the launcher frees; null or empty: no log), whose folder the launcher makes.
    virtual HRESULT STDMETHODCALLTYPE SetCommandLine(LPCWSTR command_line, LPCWSTR setup_ini, BSTR* log_file) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(HWND wizard) = 0;
    // with_wizard is FALSE after a restart ("reboot"), where no wizard exists.
    virtual HRESULT STDMETHODCALLTYPE Run(BOOL with_wizard) = 0;
    virtual HRESULT STDMETHODCALLTYPE Finish() = 0;
    // The controller (asked for IRURavurStop) and the notification sink; either may answer
    // S_FALSE with null.
    virtual HRESULT STDMETHODCALLTYPE GetController(IUnknown** controller) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNotificationSink(IRURavurNotify** sink) = 0;
};
