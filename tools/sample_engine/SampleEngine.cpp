// RURavur.dll, the sample installation engine: a test double of the engine that a package
// carries (setup/RURavurEngine.h is the contract). It does nothing but answer the launcher's
// calls as its control file says and write down every call it gets.
//
// Control file "RURavur.ini": beside the DLL, else in the folder of the process's option
// -media_path:"FOLDER\" (the launcher's relaunched copy loads the engine from a temporary
// folder and names its media that way; the last such option counts). Section [Engine]:
//   Result=N      what GetResult answers: decimal (may be negative) or 0x hex; default 0
//   Fail=STEP     the step that fails: InstallEngineTypelib, DllGetClassObject, Attach,
//                 ReadHeaderFiles, OpenCabinet, SetSupportFolder, SetProperty,
//                 SetCommandLine, Initialize, Run or Finish (any case); default none
//   FailCode=H    what the failing step answers, default 0x80004005; InstallEngineTypelib
//                 answers FALSE instead
//   LogFile=PATH  the log file SetCommandLine answers; default none (a null BSTR)
//   Hold=1        Run, after its record line (and its progress), waits until a file
//                 "RURavur.release" exists in the control file's folder, at most 60 s,
//                 handling the thread's messages meanwhile; the file is left where it is
//   Progress=N    Run calls the launcher's OnProgress N times with 1000 bytes (a failure
//                 answered there ends Run with that code)
//   Process=1     Attach also records the command line of the process that loaded the
//                 engine (GetCommandLineW), in a line of its own after its Attach line
// The file is read again at every call.
//
// Record file "RURavur.calls", in the control file's folder (beside the DLL without one):
// UTF-8 without byte-order mark, one line per call ended by "\n", appended at each call by
// opening, writing and closing the file. The lines:
//   InstallEngineTypelib no_engine=<0|1>
//   DllGetClassObject
//   Attach media=<media folder> disk1=<Disk1 folder>
//   Process command=<the process's command line>        (with Process=1 only)
//   ReadHeaderFiles url=<url>
//   OpenCabinet media=<media folder>
//   SetSupportFolder folder=<folder>
//   SetProperty <name>=<value>
//   SetCommandLine command=<command line> ini=<setup.ini path>
//   Initialize wizard=<1: a window that IsWindow, 0: not>
//   Run wizard=<0|1>
//   Finish
//   GetResult <the answer, signed decimal>
//   SetProgressWindow
//   OnLauncherEnding
//   Stop
//   RemoveEngineTypelib
// and after the line of a step that fails on purpose "Fail <step> 0x<answer, 8 lower-case hex
// digits>" (InstallEngineTypelib: 0x00000000, its FALSE). Two more lines tell of a Run that
// did not end as asked: "Progress stopped 0x<code>" (OnProgress failed) and "Hold timeout"
// (no release within 60 s; Run answers 0x800705b4). Values are written as they are, never
// quoted; a null text is empty; a line break inside a value is written as a blank. A value
// runs up to the next " name=" of its line, the last to the end of the line.
#include "RURavurEngine.h"
#include "lib/ISetupTransferEvents.h"

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>
#include <type_traits>

namespace {

// The steps a control file can make fail.
enum class step {
    none,
    InstallEngineTypelib,
    DllGetClassObject,
    Attach,
    ReadHeaderFiles,
    OpenCabinet,
    SetSupportFolder,
    SetProperty,
    SetCommandLine,
    Initialize,
    Run,
    Finish
};

struct step_name {
    step which;
    const wchar_t* name;
};

constexpr step_name step_names[] = {
    {step::InstallEngineTypelib, L"InstallEngineTypelib"},
    {step::DllGetClassObject, L"DllGetClassObject"},
    {step::Attach, L"Attach"},
    {step::ReadHeaderFiles, L"ReadHeaderFiles"},
    {step::OpenCabinet, L"OpenCabinet"},
    {step::SetSupportFolder, L"SetSupportFolder"},
    {step::SetProperty, L"SetProperty"},
    {step::SetCommandLine, L"SetCommandLine"},
    {step::Initialize, L"Initialize"},
    {step::Run, L"Run"},
    {step::Finish, L"Finish"},
};

const wchar_t* name_of(step which)
{
    for (const step_name& s : step_names)
        if (s.which == which) return s.name;
    return L"";
}

constexpr const wchar_t* control_name = L"RURavur.ini";
constexpr const wchar_t* record_name = L"RURavur.calls";
constexpr const wchar_t* release_name = L"RURavur.release";
constexpr DWORD hold_bound_ms = 60000;

// Every entry point goes through this: nothing thrown may reach the launcher.
template <class Call>
HRESULT barrier(Call call) noexcept
{
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool file_exists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring with_backslash(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder;
}

// This DLL's own file.
std::wstring own_path()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&own_path), &self);
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// Its folder, with the closing backslash.
std::wstring own_folder()
{
    const std::wstring path = own_path();
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// The value of the last -media_path: (or /media_path:) option of the process's command line,
// cut as the launcher cuts it: at blanks, a double quote toggling a quoted part in which
// blanks do not cut; the value's quotes removed.
std::wstring media_path_option()
{
    const std::wstring command = GetCommandLineW();
    const std::wstring name = L"media_path:";
    std::wstring found;
    size_t i = 0;
    while (i < command.size()) {
        while (i < command.size() && command[i] == L' ') ++i;
        const size_t begin = i;
        bool quoted = false;
        for (; i < command.size() && (quoted || command[i] != L' '); ++i)
            if (command[i] == L'"') quoted = !quoted;
        const std::wstring argument = command.substr(begin, i - begin);
        if (argument.size() > name.size() && (argument[0] == L'-' || argument[0] == L'/')
            && _wcsnicmp(argument.c_str() + 1, name.c_str(), name.size()) == 0) {
            std::wstring value = argument.substr(1 + name.size());
            std::wstring unquoted;
            for (wchar_t c : value)
                if (c != L'"') unquoted += c;
            if (!unquoted.empty()) found = unquoted;
        }
    }
    return found;
}

// What the control file says, read afresh for each call.
struct control {
    std::wstring folder;  // where the record goes and the release is looked for
    std::wstring file;    // the control file; empty when there is none
    LONG result = 0;
    step fail = step::none;
    HRESULT fail_code = E_FAIL;
    std::wstring log_file;
    bool hold = false;
    unsigned progress = 0;
    bool process = false;

    std::wstring text(const wchar_t* key) const
    {
        if (file.empty()) return {};
        std::wstring value(4096, L'\0');
        value.resize(GetPrivateProfileStringW(L"Engine", key, L"", value.data(), static_cast<DWORD>(value.size()),
            file.c_str()));
        return value;
    }

    // Decimal, or hexadecimal after "0x"; `fallback` when empty or unreadable.
    long number(const wchar_t* key, long fallback) const
    {
        const std::wstring value = text(key);
        if (value.empty()) return fallback;
        wchar_t* end = nullptr;
        long n = 0;
        if (value.size() > 2 && value[0] == L'0' && (value[1] == L'x' || value[1] == L'X'))
            n = static_cast<long>(std::wcstoul(value.c_str() + 2, &end, 16));
        else
            n = std::wcstol(value.c_str(), &end, 10);
        return end && *end == L'\0' ? n : fallback;
    }
};

control read_control()
{
    control c;
    const std::wstring beside = own_folder();
    if (file_exists(beside + control_name)) {
        c.folder = beside;
    } else {
        const std::wstring media = with_backslash(media_path_option());
        c.folder = !media.empty() && file_exists(media + control_name) ? media : beside;
    }
    if (file_exists(c.folder + control_name)) c.file = c.folder + control_name;
    if (c.file.empty()) return c;
    c.result = c.number(L"Result", 0);
    const std::wstring fail = c.text(L"Fail");
    for (const step_name& s : step_names)
        if (_wcsicmp(fail.c_str(), s.name) == 0) c.fail = s.which;
    c.fail_code = static_cast<HRESULT>(c.number(L"FailCode", E_FAIL));
    c.log_file = c.text(L"LogFile");
    c.hold = c.number(L"Hold", 0) != 0;
    const long progress = c.number(L"Progress", 0);
    c.progress = progress > 0 ? static_cast<unsigned>(progress) : 0;
    c.process = c.number(L"Process", 0) != 0;
    return c;
}

void append_utf8(std::string& out, const wchar_t* text)
{
    if (!text || !*text) return;
    const int wide = static_cast<int>(std::wcslen(text));
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    const size_t at = out.size();
    out.resize(at + size);
    WideCharToMultiByte(CP_UTF8, 0, text, wide, out.data() + at, size, nullptr, nullptr);
    for (size_t i = at; i < out.size(); ++i)
        if (out[i] == '\r' || out[i] == '\n') out[i] = ' ';  // one line per call
}

void append(std::string& out, const char* text) { out += text; }
void append(std::string& out, const std::string& text) { out += text; }
void append(std::string& out, const wchar_t* text) { append_utf8(out, text); }

std::string hex(HRESULT code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code));
    return text;
}

// Another thread of the launcher (a stop during a held run) may write at the same time.
SRWLOCK record_lock = SRWLOCK_INIT;

// One line into the record: open, append, close.
template <class... Pieces>
void record(const control& c, const Pieces&... pieces)
{
    std::string line;
    (append(line, pieces), ...);
    line += '\n';
    const std::wstring path = c.folder + record_name;
    AcquireSRWLockExclusive(&record_lock);
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    ReleaseSRWLockExclusive(&record_lock);
}

// The answer of step `which`: its failure when the control file names it, else S_OK.
HRESULT answer(const control& c, step which)
{
    if (c.fail != which) return S_OK;
    record(c, "Fail ", name_of(which), " ", hex(c.fail_code));
    return c.fail_code;
}

// Waits until `done` holds, at most `bound_ms`, woken by `change`; the thread's messages are
// handled meanwhile, so a window of the launcher's thread still answers.
template <class Done>
bool wait_for(HANDLE change, DWORD bound_ms, Done done)
{
    const DWORD start = GetTickCount();
    int quit_code = 0;
    bool quit = false;
    bool held = done();
    while (!held) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= bound_ms) break;
        const DWORD woke = quit ? WaitForSingleObject(change, bound_ms - elapsed)
                                : MsgWaitForMultipleObjectsEx(1, &change, bound_ms - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            FindNextChangeNotification(change);
        } else if (woke == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (!quit && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit = true;
                    quit_code = static_cast<int>(msg.wParam);
                    break;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        } else if (woke != WAIT_TIMEOUT) {
            break;
        }
        held = done();
    }
    if (quit) PostQuitMessage(quit_code);  // for the loop that was meant to see it
    return held;
}

// A COM object of one interface besides IUnknown.
template <class Interface>
class single_object : public Interface {
public:
    explicit single_object(const IID& iid) : iid_(iid) {}
    virtual ~single_object() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid_)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

private:
    const IID& iid_;
    LONG references_ = 1;
};

class CEngineController : public single_object<IRURavurStop> {
public:
    CEngineController() : single_object(IID_IRURavurStop) {}
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        return barrier([] {
            record(read_control(), "Stop");
            return S_OK;
        });
    }
};

class CEngineNotify : public single_object<IRURavurNotify> {
public:
    CEngineNotify() : single_object(IID_IRURavurNotify) {}
    HRESULT STDMETHODCALLTYPE OnLauncherEnding(IUnknown*) override
    {
        return barrier([] {
            record(read_control(), "OnLauncherEnding");
            return S_OK;
        });
    }
};

// The engine object: the engine, its result and its user interface (whose only part here is
// the taker of the progress window, answered both for IID_IRURavurUi and on it).
class CEngine : public IRURavurEngine, public IRURavurResult, public IRURavurProgressWindow {
public:
    CEngine() = default;
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;
    virtual ~CEngine()
    {
        if (events_) events_->Release();
        if (controller_) controller_->Release();
        if (sink_) sink_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IRURavurEngine))
            *object = static_cast<IRURavurEngine*>(this);
        else if (IsEqualIID(riid, IID_IRURavurResult))
            *object = static_cast<IRURavurResult*>(this);
        else if (IsEqualIID(riid, IID_IRURavurUi) || IsEqualIID(riid, IID_IRURavurProgressWindow))
            *object = static_cast<IRURavurProgressWindow*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Attach(IUnknown* launcher, LPCWSTR media_folder, LPCWSTR disk1_folder) override
    {
        return barrier([&] {
            const control c = read_control();
            record(c, "Attach media=", media_folder, " disk1=", disk1_folder);
            if (c.process) record(c, "Process command=", GetCommandLineW());
            const HRESULT hr = answer(c, step::Attach);
            if (FAILED(hr)) return hr;
            if (events_) events_->Release();
            events_ = nullptr;
            if (launcher) launcher->QueryInterface(qv::IID_ISetupTransferEvents, reinterpret_cast<void**>(&events_));
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE ReadHeaderFiles(LPCWSTR url, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override
    {
        return step_call(step::ReadHeaderFiles, "ReadHeaderFiles url=", url);
    }
    HRESULT STDMETHODCALLTYPE OpenCabinet(LPCWSTR media_folder) override
    {
        return step_call(step::OpenCabinet, "OpenCabinet media=", media_folder);
    }
    HRESULT STDMETHODCALLTYPE SetSupportFolder(LPCWSTR folder) override
    {
        return step_call(step::SetSupportFolder, "SetSupportFolder folder=", folder);
    }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR name, LPCWSTR value) override
    {
        return step_call(step::SetProperty, "SetProperty ", name, "=", value);
    }

    HRESULT STDMETHODCALLTYPE SetCommandLine(LPCWSTR command_line, LPCWSTR setup_ini, BSTR* log_file) override
    {
        return barrier([&] {
            if (log_file) *log_file = nullptr;
            const control c = read_control();
            record(c, "SetCommandLine command=", command_line, " ini=", setup_ini);
            const HRESULT hr = answer(c, step::SetCommandLine);
            if (FAILED(hr)) return hr;
            if (!log_file) return E_POINTER;
            if (!c.log_file.empty() && !(*log_file = SysAllocString(c.log_file.c_str()))) return E_OUTOFMEMORY;
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE Initialize(HWND wizard) override
    {
        return step_call(step::Initialize, "Initialize wizard=", wizard && IsWindow(wizard) ? "1" : "0");
    }

    HRESULT STDMETHODCALLTYPE Run(BOOL with_wizard) override
    {
        return barrier([&] {
            const control c = read_control();
            record(c, "Run wizard=", with_wizard ? "1" : "0");
            for (unsigned i = 0; events_ && i < c.progress; ++i) {
                const HRESULT hr = events_->OnProgress(1000);
                if (FAILED(hr)) {
                    record(c, "Progress stopped ", hex(hr));
                    return hr;
                }
            }
            if (c.hold && !hold(c)) {
                record(c, "Hold timeout");
                return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            }
            return answer(c, step::Run);
        });
    }

    HRESULT STDMETHODCALLTYPE Finish() override { return step_call(step::Finish, "Finish"); }

    HRESULT STDMETHODCALLTYPE GetController(IUnknown** controller) override
    {
        return barrier([&] {
            if (!controller) return E_POINTER;
            if (!controller_) controller_ = new CEngineController;
            *controller = controller_;
            controller_->AddRef();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetNotificationSink(IRURavurNotify** sink) override
    {
        return barrier([&] {
            if (!sink) return E_POINTER;
            if (!sink_) sink_ = new CEngineNotify;
            *sink = sink_;
            sink_->AddRef();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE GetResult(LONG* result) override
    {
        return barrier([&] {
            if (!result) return E_POINTER;
            const control c = read_control();
            *result = c.result;
            record(c, "GetResult ", std::to_string(c.result));
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE SetProgressWindow(HWND) override
    {
        return barrier([] {
            record(read_control(), "SetProgressWindow");
            return S_OK;
        });
    }

private:
    // A step whose work is its record line and its answer.
    template <class... Pieces>
    HRESULT step_call(step which, const Pieces&... pieces)
    {
        return barrier([&] {
            const control c = read_control();
            record(c, pieces...);
            return answer(c, which);
        });
    }

    // Waits for the release file; false after the bound.
    static bool hold(const control& c)
    {
        const std::wstring release = c.folder + release_name;
        // Watching starts before the first look, so a file made in between still wakes us.
        const HANDLE change = FindFirstChangeNotificationW(c.folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        if (change == INVALID_HANDLE_VALUE) return file_exists(release);
        const bool released = wait_for(change, hold_bound_ms, [&] { return file_exists(release); });
        FindCloseChangeNotification(change);
        return released;
    }

    LONG references_ = 1;
    qv::ISetupTransferEvents* events_ = nullptr;
    IRURavurStop* controller_ = nullptr;
    IRURavurNotify* sink_ = nullptr;
};

class CEngineFactory : public single_object<IClassFactory> {
public:
    CEngineFactory() : single_object(IID_IClassFactory) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        return barrier([&] {
            if (!object) return E_POINTER;
            *object = nullptr;
            if (outer) return CLASS_E_NOAGGREGATION;
            CEngine* engine = new CEngine;
            const HRESULT hr = engine->QueryInterface(riid, object);
            engine->Release();
            return hr;
        });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// The library loaded by InstallEngineTypelib, kept until RemoveEngineTypelib.
ITypeLib* type_library = nullptr;
SRWLOCK type_library_lock = SRWLOCK_INIT;

}  // namespace

extern "C" BOOL WINAPI InstallEngineTypelib(BOOL no_engine)
{
    return SUCCEEDED(barrier([&] {
        const control c = read_control();
        record(c, "InstallEngineTypelib no_engine=", no_engine ? "1" : "0");
        if (c.fail == step::InstallEngineTypelib) {
            record(c, "Fail InstallEngineTypelib ", hex(FALSE));
            return E_FAIL;
        }
        // REGKIND_NONE: nothing goes into the registry, which every test of the prefix shares.
        ITypeLib* loaded = nullptr;
        const HRESULT hr = LoadTypeLibEx(own_path().c_str(), REGKIND_NONE, &loaded);
        if (FAILED(hr)) return hr;
        AcquireSRWLockExclusive(&type_library_lock);
        ITypeLib* previous = type_library;
        type_library = loaded;
        ReleaseSRWLockExclusive(&type_library_lock);
        if (previous) previous->Release();
        return S_OK;
    }));
}

extern "C" void WINAPI RemoveEngineTypelib()
{
    barrier([] {
        record(read_control(), "RemoveEngineTypelib");
        AcquireSRWLockExclusive(&type_library_lock);
        ITypeLib* kept = type_library;
        type_library = nullptr;
        ReleaseSRWLockExclusive(&type_library_lock);
        if (kept) kept->Release();
        return S_OK;
    });
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* object)
{
    return barrier([&] {
        if (!object) return E_POINTER;
        *object = nullptr;
        const control c = read_control();
        record(c, "DllGetClassObject");
        const HRESULT hr = answer(c, step::DllGetClassObject);
        if (FAILED(hr)) return hr;
        if (!IsEqualCLSID(rclsid, CLSID_RURavurEngine)) return CLASS_E_CLASSNOTAVAILABLE;
        CEngineFactory* factory = new CEngineFactory;
        const HRESULT got = factory->QueryInterface(riid, object);
        factory->Release();
        return got;
    });
}

// The exports are what the launcher's contract says they are.
static_assert(std::is_same_v<decltype(&InstallEngineTypelib), InstallEngineTypelibProc>);
static_assert(std::is_same_v<decltype(&RemoveEngineTypelib), RemoveEngineTypelibProc>);
static_assert(std::is_same_v<decltype(&DllGetClassObject), LPFNGETCLASSOBJECT>);
