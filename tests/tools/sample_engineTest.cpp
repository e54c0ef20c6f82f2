// The sample engine RURavur.dll: a copy in a scratch folder, with its control file beside it,
// driven through the launcher's call order, answers as the control file says and writes
// every call into its record.
#include "RURavurEngine.h"
#include "ScratchFolder.h"
#include "handle.h"
#include "lib/ISetupTransferEvents.h"

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

std::wstring bin_folder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

void write_file(const std::wstring& path, const std::string& content)
{
    const qv::file_handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

std::vector<std::string> read_lines(const std::wstring& path)
{
    std::vector<std::string> lines;
    const qv::file_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return lines;
    std::string content(GetFileSize(file.get(), nullptr), '\0');
    DWORD done = 0;
    ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &done, nullptr);
    size_t at = 0;
    for (size_t end; (end = content.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(content.substr(at, end - at));
    return lines;
}

std::string hex(HRESULT code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code));
    return text;
}

// The launcher's side of Attach: counts the progress it is told of and answers as set.
class CFakeLauncher : public qv::ISetupTransferEvents {
public:
    CFakeLauncher() : progressed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, qv::IID_ISetupTransferEvents)) {
            *object = static_cast<qv::ISetupTransferEvents*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // It lives on the case's stack: the count only tells whether the engine gave back what it took.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT STDMETHODCALLTYPE OnProgress(ULONG bytes) override
    {
        progress_bytes += bytes;
        SetEvent(progressed_.get());
        return progress_answer;
    }
    HRESULT STDMETHODCALLTYPE OnTransferBegin(LPCWSTR, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnTransferEnd(LPCWSTR, HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFileBegin(LPCWSTR, ULONGLONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFileEnd(LPCWSTR, HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryValueA(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryValueB(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryValueC(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnFileQuery(LPCWSTR, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryValueD(LONG, LONG, LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryA(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryB(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryValueE(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnTransferRate(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnTransferError(HWND, DWORD, DWORD, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ForwardQuery(IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSettingText(BSTR*) override { return E_NOTIMPL; }

    HANDLE progressed() const { return progressed_.get(); }

    LONG references = 0;
    ULONG progress_bytes = 0;
    HRESULT progress_answer = S_OK;

private:
    qv::kernel_handle progressed_;
};

// A copy of the engine in a scratch folder of the case, loaded from there.
class SampleEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CopyFileW((bin_folder() + L"\\RURavur.dll").c_str(), dll_path().c_str(), FALSE));
        module_.reset(LoadLibraryW(dll_path().c_str()));
        ASSERT_TRUE(module_);
        install = reinterpret_cast<InstallEngineTypelibProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_.get(), "InstallEngineTypelib")));
        remove = reinterpret_cast<RemoveEngineTypelibProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_.get(), "RemoveEngineTypelib")));
        get_class = reinterpret_cast<LPFNGETCLASSOBJECT>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_.get(), "DllGetClassObject")));
        ASSERT_TRUE(install && remove && get_class);
    }

    std::wstring dll_path() const { return folder_.join(L"RURavur.dll"); }
    void control(const std::string& lines) { write_file(folder_.join(L"RURavur.ini"), "[Engine]\r\n" + lines); }
    std::vector<std::string> record() const { return read_lines(folder_.join(L"RURavur.calls")); }
    std::string last_line() const
    {
        const std::vector<std::string> lines = record();
        return lines.empty() ? std::string() : lines.back();
    }
    void forget_record() { DeleteFileW(folder_.join(L"RURavur.calls").c_str()); }

    // A new engine object, as the launcher makes it.
    qv::com_ptr<IRURavurEngine> new_engine()
    {
        qv::com_ptr<IClassFactory> factory;
        qv::com_ptr<IRURavurEngine> engine;
        if (SUCCEEDED(get_class(CLSID_RURavurEngine, IID_IClassFactory, reinterpret_cast<void**>(factory.put()))))
            factory.get()->CreateInstance(nullptr, IID_IRURavurEngine, reinterpret_cast<void**>(engine.put()));
        return engine;
    }

    scratch_folder folder_{L"sample_engine"};
    qv::module_handle module_;
    InstallEngineTypelibProc install = nullptr;
    RemoveEngineTypelibProc remove = nullptr;
    LPFNGETCLASSOBJECT get_class = nullptr;
};

// The launcher's calls up to Finish, in its order. `run` answers the name of the first step
// that failed and its code, or an empty name when none did.
struct launch {
    launch(InstallEngineTypelibProc install, LPFNGETCLASSOBJECT get_class, qv::ISetupTransferEvents* launcher, HWND wizard)
        : install(install), get_class(get_class), launcher(launcher), wizard(wizard)
    {
    }
    launch(const launch&) = delete;
    launch& operator=(const launch&) = delete;

    InstallEngineTypelibProc install;
    LPFNGETCLASSOBJECT get_class;
    qv::ISetupTransferEvents* launcher;
    HWND wizard;

    qv::com_ptr<IClassFactory> factory;
    qv::com_ptr<IRURavurEngine> engine;
    BSTR log = nullptr;

    ~launch() { SysFreeString(log); }

    std::pair<std::string, HRESULT> run()
    {
        const std::pair<const char*, std::function<HRESULT()>> steps[] = {
            {"InstallEngineTypelib", [&] { return install(FALSE) ? S_OK : E_FAIL; }},
            {"DllGetClassObject",
                [&] {
                    const HRESULT hr = get_class(CLSID_RURavurEngine, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
                    if (FAILED(hr)) return hr;
                    return factory.get()->CreateInstance(nullptr, IID_IRURavurEngine, reinterpret_cast<void**>(engine.put()));
                }},
            {"Attach", [&] { return engine.get()->Attach(launcher, L"C:\\media\\", L"C:\\disk1 folder\\"); }},
            {"ReadHeaderFiles",
                [&] { return engine.get()->ReadHeaderFiles(L"http://127.0.0.1:9/package/", L"user", L"secret", nullptr, nullptr); }},
            {"OpenCabinet", [&] { return engine.get()->OpenCabinet(L"C:\\media\\"); }},
            {"SetSupportFolder", [&] { return engine.get()->SetSupportFolder(L"C:\\support\\"); }},
            {"SetProperty",
                [&] {
                    const HRESULT hr = engine.get()->SetProperty(L"SETUPEXEDIR", L"C:\\media");
                    return FAILED(hr) ? hr : engine.get()->SetProperty(L"Name", L"Gr\u00fc\u00dfe\r\nzwei");
                }},
            {"SetCommandLine",
                [&] { return engine.get()->SetCommandLine(L" -sel_lang0409 -x \"a b\"", L"C:\\disk1 folder\\setup.ini", &log); }},
            {"Initialize", [&] { return engine.get()->Initialize(wizard); }},
            {"Run", [&] { return engine.get()->Run(wizard != nullptr); }},
            {"Finish", [&] { return engine.get()->Finish(); }},
        };
        for (const auto& [name, call] : steps) {
            const HRESULT hr = call();
            if (FAILED(hr)) return {name, hr};
        }
        return {"", S_OK};
    }
};

TEST_F(SampleEngine, RecordsTheLaunchersWholeCallOrder)
{
    control("Result=-5001\r\nLogFile=C:\\logs\\engine.log\r\nProgress=3\r\n");
    CFakeLauncher launcher;
    const HWND wizard = CreateWindowExW(0, L"STATIC", L"wizard", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(wizard);
    {
        launch l{install, get_class, &launcher, wizard};
        ASSERT_EQ((std::pair<std::string, HRESULT>{"", S_OK}), l.run());
        ASSERT_TRUE(l.log);
        EXPECT_STREQ(L"C:\\logs\\engine.log", l.log);
        EXPECT_EQ(3000u, launcher.progress_bytes);

        qv::com_ptr<IRURavurResult> result;
        ASSERT_EQ(S_OK, l.engine.get()->QueryInterface(IID_IRURavurResult, reinterpret_cast<void**>(result.put())));
        LONG value = 0;
        EXPECT_EQ(S_OK, result.get()->GetResult(&value));
        EXPECT_EQ(-5001, value);

        qv::com_ptr<IUnknown> ui;
        qv::com_ptr<IRURavurProgressWindow> taker;
        ASSERT_EQ(S_OK, l.engine.get()->QueryInterface(IID_IRURavurUi, reinterpret_cast<void**>(ui.put())));
        ASSERT_EQ(S_OK, ui.get()->QueryInterface(IID_IRURavurProgressWindow, reinterpret_cast<void**>(taker.put())));
        EXPECT_EQ(S_OK, taker.get()->SetProgressWindow(wizard));

        qv::com_ptr<IRURavurNotify> sink;
        ASSERT_EQ(S_OK, l.engine.get()->GetNotificationSink(sink.put()));
        EXPECT_EQ(S_OK, sink.get()->OnLauncherEnding(&launcher));
        qv::com_ptr<IUnknown> controller;
        qv::com_ptr<IRURavurStop> stop;
        ASSERT_EQ(S_OK, l.engine.get()->GetController(controller.put()));
        ASSERT_EQ(S_OK, controller.get()->QueryInterface(IID_IRURavurStop, reinterpret_cast<void**>(stop.put())));
        EXPECT_EQ(S_OK, stop.get()->Stop());

        // The engine object holds its controller and sink; its last release frees them and
        // gives the launcher's reference back.
        stop.reset();
        EXPECT_EQ(1u, controller.release()->Release());
        EXPECT_EQ(1u, sink.release()->Release());
        taker.reset();
        ui.reset();
        result.reset();
        EXPECT_EQ(0u, l.factory.release()->Release());
        EXPECT_EQ(1, launcher.references);
        EXPECT_EQ(0u, l.engine.release()->Release());
        EXPECT_EQ(0, launcher.references);
    }
    remove();
    DestroyWindow(wizard);

    EXPECT_EQ((std::vector<std::string>{
                  "InstallEngineTypelib no_engine=0",
                  "DllGetClassObject",
                  "Attach media=C:\\media\\ disk1=C:\\disk1 folder\\",
                  "ReadHeaderFiles url=http://127.0.0.1:9/package/",
                  "OpenCabinet media=C:\\media\\",
                  "SetSupportFolder folder=C:\\support\\",
                  "SetProperty SETUPEXEDIR=C:\\media",
                  "SetProperty Name=Gr\xc3\xbc\xc3\x9f" "e  zwei",
                  "SetCommandLine command= -sel_lang0409 -x \"a b\" ini=C:\\disk1 folder\\setup.ini",
                  "Initialize wizard=1",
                  "Run wizard=1",
                  "Finish",
                  "GetResult -5001",
                  "SetProgressWindow",
                  "OnLauncherEnding",
                  "Stop",
                  "RemoveEngineTypelib",
              }),
        record());
}

TEST_F(SampleEngine, FailingStepAnswersItsCode)
{
    struct row {
        const char* step;
        const char* fail_code;  // empty: none in the control file
        HRESULT expected;
    };
    const row rows[] = {
        {"InstallEngineTypelib", "0x80042001", E_FAIL},  // FALSE, whatever the code
        {"DllGetClassObject", "", E_FAIL},               // the default code
        {"Attach", "0x80042002", static_cast<HRESULT>(0x80042002)},
        {"ReadHeaderFiles", "0x80070005", E_ACCESSDENIED},
        {"OpenCabinet", "0x80042003", static_cast<HRESULT>(0x80042003)},
        {"SetSupportFolder", "0x80042004", static_cast<HRESULT>(0x80042004)},
        {"SetProperty", "0x80042005", static_cast<HRESULT>(0x80042005)},
        {"SetCommandLine", "0x80042006", static_cast<HRESULT>(0x80042006)},
        {"Initialize", "0x80042007", static_cast<HRESULT>(0x80042007)},
        {"Run", "0x80042000", static_cast<HRESULT>(0x80042000)},
        {"Finish", "-2147024891", E_ACCESSDENIED},  // decimal
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.step);
        forget_record();
        control(std::string("Fail=") + r.step + "\r\nLogFile=C:\\engine.log\r\n"
                + (*r.fail_code ? std::string("FailCode=") + r.fail_code + "\r\n" : std::string()));
        CFakeLauncher launcher;
        {
            launch l{install, get_class, &launcher, nullptr};
            EXPECT_EQ((std::pair<std::string, HRESULT>{r.step, r.expected}), l.run());
            const std::vector<std::string> lines = record();
            ASSERT_GE(lines.size(), 2u);
            const std::string answered = r.step == std::string("InstallEngineTypelib") ? hex(FALSE) : hex(r.expected);
            EXPECT_EQ(std::string("Fail ") + r.step + " " + answered, lines.back());
            EXPECT_EQ(0u, lines[lines.size() - 2].rfind(r.step, 0)) << lines[lines.size() - 2];
            if (r.step == std::string("Initialize")) {
                EXPECT_EQ("Initialize wizard=0", lines[lines.size() - 2]);
            }
            if (r.step == std::string("SetCommandLine")) {
                EXPECT_EQ(nullptr, l.log) << "no log file from a failed call";
            }
        }
        remove();
        EXPECT_EQ(0, launcher.references);
    }
}

TEST_F(SampleEngine, GetResultAnswersTheControlFile)
{
    const std::pair<const char*, LONG> rows[] = {
        {"", 0}, {"Result=7\r\n", 7}, {"Result=-5001\r\n", -5001},
        {"Result=0x80042000\r\n", static_cast<LONG>(0x80042000)}, {"Result=0XFFFFEC77\r\n", -5001},
    };
    qv::com_ptr<IRURavurEngine> engine = new_engine();
    ASSERT_TRUE(engine);
    qv::com_ptr<IRURavurResult> result;
    ASSERT_EQ(S_OK, engine.get()->QueryInterface(IID_IRURavurResult, reinterpret_cast<void**>(result.put())));
    for (const auto& [lines, expected] : rows) {
        SCOPED_TRACE(lines);
        control(lines);
        LONG value = 12345;
        EXPECT_EQ(S_OK, result.get()->GetResult(&value));
        EXPECT_EQ(expected, value);
        EXPECT_EQ("GetResult " + std::to_string(expected), last_line());
    }
}

// Answers WM_APP with 42: only a thread that handles its messages can.
LRESULT CALLBACK answering_proc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    return message == WM_APP ? 42 : DefWindowProcW(window, message, w, l);
}

// Runs the engine on a thread of its own, which has a window; the release file ends a hold
// on every way out of the case.
struct held_run {
    held_run(IRURavurEngine* engine, std::wstring release) : engine(engine), release(std::move(release)) {}
    held_run(const held_run&) = delete;
    held_run& operator=(const held_run&) = delete;

    IRURavurEngine* engine;
    std::wstring release;
    HRESULT answer = E_PENDING;
    HWND window = nullptr;
    qv::kernel_handle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    qv::kernel_handle thread;

    static DWORD WINAPI proc(void* data)
    {
        auto* run = static_cast<held_run*>(data);
        try {
            WNDCLASSW c = {};
            c.lpfnWndProc = answering_proc;
            c.hInstance = GetModuleHandleW(nullptr);
            c.lpszClassName = L"sample_engine_held_run";
            RegisterClassW(&c);
            run->window = CreateWindowExW(0, c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
            SetEvent(run->ready.get());
            run->answer = run->engine->Run(FALSE);
            DestroyWindow(run->window);
        } catch (...) {
        }
        return 0;
    }
    void start() { thread.reset(CreateThread(nullptr, 0, proc, this, 0, nullptr)); }
    ~held_run()
    {
        write_file(release, "");
        if (thread) WaitForSingleObject(thread.get(), 70000);
    }
};

TEST_F(SampleEngine, HoldWaitsForTheReleaseFile)
{
    control("Hold=1\r\nProgress=1\r\n");
    CFakeLauncher launcher;
    qv::com_ptr<IRURavurEngine> engine = new_engine();
    ASSERT_TRUE(engine);
    ASSERT_EQ(S_OK, engine.get()->Attach(&launcher, L"C:\\media\\", L"C:\\disk1\\"));
    {
        held_run run(engine.get(), folder_.join(L"RURavur.release"));
        run.start();
        ASSERT_TRUE(run.thread);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(run.ready.get(), 20000));
        ASSERT_TRUE(run.window);
        // Its progress comes after its record line and before the hold.
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(launcher.progressed(), 20000));
        EXPECT_EQ("Run wizard=0", last_line());
        // The thread answers only while Run holds and handles its messages; once Run has
        // returned, its window is gone.
        DWORD_PTR answer = 0;
        EXPECT_TRUE(SendMessageTimeoutW(run.window, WM_APP, 0, 0, SMTO_BLOCK, 20000, &answer));
        EXPECT_EQ(42u, answer);
        EXPECT_EQ(E_PENDING, run.answer);
        write_file(run.release, "");
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(run.thread.get(), 20000));
        EXPECT_EQ(S_OK, run.answer);
    }
    EXPECT_EQ("Run wizard=0", last_line());
}

TEST_F(SampleEngine, FailedProgressEndsRun)
{
    control("Progress=5\r\n");
    CFakeLauncher launcher;
    launcher.progress_answer = E_ABORT;
    qv::com_ptr<IRURavurEngine> engine = new_engine();
    ASSERT_TRUE(engine);
    ASSERT_EQ(S_OK, engine.get()->Attach(&launcher, L"C:\\media\\", L"C:\\disk1\\"));
    EXPECT_EQ(E_ABORT, engine.get()->Run(TRUE));
    EXPECT_EQ(1000u, launcher.progress_bytes);
    EXPECT_EQ("Progress stopped 0x80004004", last_line());
}

// The launcher's relaunched copy is told its media and Disk1 folders on its command line: the
// engine writes that line down when asked, and only then.
TEST_F(SampleEngine, ProcessLineOnlyWhenAsked)
{
    const std::wstring own = GetCommandLineW();
    std::string own_utf8(WideCharToMultiByte(CP_UTF8, 0, own.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, own.c_str(), -1, own_utf8.data(), static_cast<int>(own_utf8.size()), nullptr, nullptr);
    own_utf8.resize(own_utf8.size() - 1);
    const std::string attach = "Attach media=C:\\media\\ disk1=C:\\disk1\\";
    struct row {
        const char* name;
        const char* lines;
        std::vector<std::string> record;
    };
    const row rows[] = {
        {"without the key", "", {attach}},
        {"Process=0", "Process=0\r\n", {attach}},
        {"Process=1", "Process=1\r\n", {attach, "Process command=" + own_utf8}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        control(r.lines);
        CFakeLauncher launcher;
        qv::com_ptr<IRURavurEngine> engine = new_engine();
        ASSERT_TRUE(engine);
        forget_record();
        ASSERT_EQ(S_OK, engine.get()->Attach(&launcher, L"C:\\media\\", L"C:\\disk1\\"));
        EXPECT_EQ(r.record, record());
    }
}

// The launcher's relaunched copy loads the engine from its temporary folder, with the media
// folder on its command line: a program loading a copy without a control file beside it.
TEST_F(SampleEngine, ControlFileOfTheMediaPath)
{
    struct row {
        const char* name;
        bool beside;  // a control file beside the DLL too
        DWORD exit_code;
    };
    const row rows[] = {
        {"the media folder's control file", false, 1},
        {"the control file beside the DLL wins", true, 0},
    };
    const std::wstring media = folder_.join(L"media folder"), other = folder_.join(L"other");
    ASSERT_TRUE(CreateDirectoryW(media.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    write_file(media + L"\\RURavur.ini", "[Engine]\r\nFail=InstallEngineTypelib\r\n");
    write_file(other + L"\\RURavur.ini", "[Engine]\r\n");
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        forget_record();
        DeleteFileW((media + L"\\RURavur.calls").c_str());
        if (r.beside)
            control("Result=1\r\n");
        else
            DeleteFileW(folder_.join(L"RURavur.ini").c_str());
        // A quoted argument is no option, and the last option counts.
        std::wstring command = L"\"" + bin_folder() + L"\\sample_engine_host.exe\" \"" + dll_path() + L"\" \"-media_path:"
                               + other + L"\\\" -media_path:\"" + other + L"\\\" -media_path:\"" + media + L"\\\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        const qv::kernel_handle process_handle(process.hProcess), thread_handle(process.hThread);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 20000));
        DWORD code = 99;
        GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(r.exit_code, code);
        const std::vector<std::string> here = record(), there = read_lines(media + L"\\RURavur.calls");
        EXPECT_TRUE(read_lines(other + L"\\RURavur.calls").empty());
        const std::vector<std::string> expected = r.beside
            ? std::vector<std::string>{"InstallEngineTypelib no_engine=1", "RemoveEngineTypelib"}
            : std::vector<std::string>{"InstallEngineTypelib no_engine=1", "Fail InstallEngineTypelib 0x00000000",
                "RemoveEngineTypelib"};
        EXPECT_EQ(expected, r.beside ? here : there);
        EXPECT_TRUE((r.beside ? there : here).empty());
    }
}

// The two builds' exports, and the type library both carry.
TEST(SampleEngineBuild, ExportsAndTypeLibrary)
{
    const std::pair<const wchar_t*, bool> rows[] = {{L"RURavur.dll", true}, {L"RURavur_noexport.dll", false}};
    for (const auto& [name, with_install] : rows) {
        SCOPED_TRACE(testing::Message() << name);
        const std::wstring path = bin_folder() + L"\\" + name;
        const qv::module_handle module(LoadLibraryW(path.c_str()));
        ASSERT_TRUE(module);
        EXPECT_EQ(with_install, GetProcAddress(module.get(), "InstallEngineTypelib") != nullptr);
        EXPECT_NE(nullptr, GetProcAddress(module.get(), "DllGetClassObject"));
        EXPECT_NE(nullptr, GetProcAddress(module.get(), "RemoveEngineTypelib"));

        qv::com_ptr<ITypeLib> library;
        ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
        for (const GUID* id : {&CLSID_RURavurEngine, &IID_IRURavurEngine, &IID_IRURavurResult, &IID_IRURavurStop,
                 &IID_IRURavurNotify, &IID_IRURavurUi, &IID_IRURavurProgressWindow}) {
            qv::com_ptr<ITypeInfo> info;
            EXPECT_EQ(S_OK, library.get()->GetTypeInfoOfGuid(*id, info.put()));
        }
        // The engine's interface derives from the system's IUnknown, not a copy of it.
        qv::com_ptr<ITypeInfo> engine, base;
        ASSERT_EQ(S_OK, library.get()->GetTypeInfoOfGuid(IID_IRURavurEngine, engine.put()));
        HREFTYPE reference = 0;
        ASSERT_EQ(S_OK, engine.get()->GetRefTypeOfImplType(0, &reference));
        ASSERT_EQ(S_OK, engine.get()->GetRefTypeInfo(reference, base.put()));
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(S_OK, base.get()->GetTypeAttr(&attributes));
        EXPECT_TRUE(IsEqualIID(IID_IUnknown, attributes->guid));
        base.get()->ReleaseTypeAttr(attributes);
        qv::com_ptr<ITypeLib> base_library;
        UINT index = 0;
        ASSERT_EQ(S_OK, base.get()->GetContainingTypeLib(base_library.put(), &index));
        TLIBATTR* library_attributes = nullptr;
        ASSERT_EQ(S_OK, base_library.get()->GetLibAttr(&library_attributes));
        EXPECT_TRUE(IsEqualGUID(IID_StdOle, library_attributes->guid));
        base_library.get()->ReleaseTLibAttr(library_attributes);
    }
}

}  // namespace
