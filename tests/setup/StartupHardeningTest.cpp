// The search-path hardening and the delay-load hook: their decisions, the hook called in this
// process, and planted libraries beside a probe program (fixtures/delay_load_probe.cpp) that
// has them and beside a control program that has not, which must take the plants. The cases
// run with version.dll native first in Wine's load order (native_first.sh), else Wine would
// take its own version.dll whatever the search finds.
#include "StartupHardening.h"

#include "os_entry.h"

#include "FileSupport.h"
#include "ScratchFolder.h"
#include "SwappedSeam.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(SystemLibraryPath, TheSystemFolderAndTheNameInTheBuffer)
{
    const std::string long_folder = "C:\\" + std::string(240, 'f');  // 243 characters
    struct Case {
        const char* name;
        std::string folder;
        std::string library;
        bool fits;
        std::string path;
    };
    const Case cases[] = {
        {"a backslash between", "C:\\windows\\system32", "version.dll", true, "C:\\windows\\system32\\version.dll"},
        {"none added after a closing one", "C:\\", "version.dll", true, "C:\\version.dll"},
        {"259 characters fit", long_folder, std::string(15, 'n'), true, long_folder + "\\" + std::string(15, 'n')},
        {"260 do not, and nothing is cut", long_folder, std::string(16, 'n'), false, ""},
        {"a name far too long", "C:\\windows\\system32", std::string(400, 'n'), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char path[delay_load::path_buffer_size];
        std::memset(path, 'x', sizeof path);
        EXPECT_EQ(delay_load::SystemLibraryPath(c.folder.c_str(), c.library.c_str(), path), c.fits);
        EXPECT_EQ(std::string(path), c.path);
    }
}

TEST(LeftToDefaultSearch, OnlyTheCoreApiSetNames)
{
    struct Case {
        const char* name;
        bool left;
    };
    const Case cases[] = {
        {"api-ms-win-core-synch-l1-2-0.dll", true},
        {"API-MS-WIN-CORE-FILE-L1-1-0.DLL", true},
        {"api-ms-win-core-", true},
        {"api-ms-win-crt-runtime-l1-1-0.dll", false},
        {"api-ms-win-core", false},
        {"version.dll", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(delay_load::LeftToDefaultSearch(c.name), c.left);
    }
}

bool in_system_folder(HMODULE module)
{
    wchar_t path[MAX_PATH] = L"", system[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return _wcsnicmp(path, system, length) == 0 && path[length] == L'\\' && !std::wcschr(path + length + 1, L'\\');
}

TEST(DelayLoadFromSystemDirectory, ActsOnlyBeforeALibraryLoads)
{
    DelayLoadInfo info{};
    info.cb = sizeof info;
    info.szDll = "version.dll";
    struct Case {
        const char* name;
        unsigned notification;
        DWORD cb;
        const char* library;
    };
    const Case cases[] = {
        {"start of processing", dliStartProcessing, sizeof info, "version.dll"},
        {"before a function is looked up", dliNotePreGetProcAddress, sizeof info, "version.dll"},
        {"end of processing", dliNoteEndProcessing, sizeof info, "version.dll"},
        {"a record shorter than 16 bytes", dliNotePreLoadLibrary, 12, "version.dll"},
        {"no library name", dliNotePreLoadLibrary, sizeof info, nullptr},
        {"a core API set name", dliNotePreLoadLibrary, sizeof info, "api-ms-win-core-synch-l1-2-0.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        info.cb = c.cb;
        info.szDll = c.library;
        EXPECT_EQ(DelayLoadFromSystemDirectory(c.notification, &info), nullptr);
    }
    EXPECT_EQ(DelayLoadFromSystemDirectory(dliNotePreLoadLibrary, nullptr), nullptr);
}

TEST(DelayLoadFromSystemDirectory, LoadsTheSystemFoldersCopy)
{
    DelayLoadInfo info{};
    info.cb = sizeof info;
    info.szDll = "version.dll";
    const auto module = reinterpret_cast<HMODULE>(DelayLoadFromSystemDirectory(dliNotePreLoadLibrary, &info));
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(in_system_folder(module));
    FreeLibrary(module);
}

TEST(DelayLoadFromSystemDirectory, IsTheProcesssHook)
{
    EXPECT_EQ(__pfnDliNotifyHook2, &DelayLoadFromSystemDirectory);
}

// What HardenDllSearchPath handed the entry points it looked up.
std::wstring dll_directory = L"unset";
DWORD search_path_mode = 0;
BOOL WINAPI record_dll_directory(LPCWSTR path)
{
    dll_directory = path ? path : L"(null)";
    return TRUE;
}
BOOL WINAPI record_search_path_mode(DWORD mode)
{
    search_path_mode = mode;
    return TRUE;
}
FARPROC recording_resolver(const wchar_t*, const char* name)
{
    if (!std::strcmp(name, "SetDllDirectoryW"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(record_dll_directory));
    if (!std::strcmp(name, "SetSearchPathMode"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(record_search_path_mode));
    return nullptr;
}
FARPROC missing_resolver(const wchar_t*, const char*)
{
    return nullptr;
}

TEST(HardenDllSearchPath, EmptyDllDirectoryAndPermanentSafeSearch)
{
    const swapped<FARPROC (*)(const wchar_t*, const char*)> seam(qv::os_seams::resolve, recording_resolver);
    HardenDllSearchPath();
    EXPECT_EQ(dll_directory, L"");
    EXPECT_EQ(search_path_mode, 0x8001u);
}

TEST(HardenDllSearchPath, MissingEntryPointsAreSkipped)
{
    const swapped<FARPROC (*)(const wchar_t*, const char*)> seam(qv::os_seams::resolve, missing_resolver);
    HardenDllSearchPath();
    SUCCEED();
}

// The probes, run in a folder of the case's own beside the plants, with a current folder of
// their own that holds a cmd.exe of its own. The current folder's leaving the library search
// cannot be shown here: Wine keeps it there after SetDllDirectoryW(L"") (Windows takes it out;
// Wine only for a non-empty folder), so the call itself is what the seam case above shows.
struct PlantCase {
    const char* name;
    const wchar_t* program;
    const wchar_t* which;
    DWORD exit_code;
    const wchar_t* mark;  // the plant whose mark is looked at
    bool marked;
};

class Plants : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t overrides[512] = L"";
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 512);
        // Without it Wine takes its own version.dll and the control cannot take the plant.
        ASSERT_NE(std::wcsstr(overrides, L"version=n,b"), nullptr) << "run through native_first.sh";
    }

    // Lays out the case's folders, runs `program which` and answers its exit code.
    DWORD run(const scratch_folder& scratch, const wchar_t* program, const wchar_t* which)
    {
        const std::wstring app = scratch.join(L"app"), current = scratch.join(L"current");
        CreateDirectoryW(app.c_str(), nullptr);
        CreateDirectoryW(current.c_str(), nullptr);
        const std::wstring plant = beside_program(L"marking_plant.dll");
        for (const wchar_t* name : {L"version.dll", L"corvane_plant.dll", L"api-ms-win-core-corvane-l1-1-0.dll"})
            EXPECT_TRUE(CopyFileW(plant.c_str(), (app + L"\\" + name).c_str(), FALSE));
        scratch.write(L"current\\cmd.exe", {'M', 'Z'});
        const std::wstring exe = app + L"\\" + program;
        EXPECT_TRUE(CopyFileW(beside_program(program).c_str(), exe.c_str(), FALSE));

        std::wstring line = L"\"" + exe + L"\" " + which;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, current.c_str(), &startup,
                &process)) {
            ADD_FAILURE() << "the probe did not start: " << GetLastError();
            return 99;
        }
        const qv::kernel_handle handle(process.hProcess), thread(process.hThread);
        if (WaitForSingleObject(handle.get(), 20000) != WAIT_OBJECT_0) {
            TerminateProcess(handle.get(), 98);
            ADD_FAILURE() << "the probe did not end";
        }
        DWORD code = 97;
        GetExitCodeProcess(handle.get(), &code);
        return code;
    }
};

TEST_F(Plants, AreTakenOnlyWithoutTheDefences)
{
    const wchar_t* const probe = L"delay_load_probe.exe";
    const wchar_t* const control = L"delay_load_control.exe";
    const PlantCase cases[] = {
        {"a system library comes from the system folder", probe, L"version", 0, L"app\\version.dll", false},
        {"the control takes the planted system library", control, L"version", 4, L"app\\version.dll", true},
        {"a library the system folder lacks fails its call", probe, L"absent", 3, L"app\\corvane_plant.dll", false},
        {"the control finds it beside itself", control, L"absent", 0, L"app\\corvane_plant.dll", true},
        {"a core API set name goes to the default search", probe, L"apiset", 0,
            L"app\\api-ms-win-core-corvane-l1-1-0.dll", true},
        {"the control searches the same way", control, L"apiset", 0, L"app\\api-ms-win-core-corvane-l1-1-0.dll", true},
        {"the search for a program finds the system's first", probe, L"searchpath", 0, nullptr, false},
        {"the control finds the current folder's first", control, L"searchpath", 7, nullptr, false},
    };
    for (const PlantCase& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder scratch(L"setup_plants");
        EXPECT_EQ(run(scratch, c.program, c.which), c.exit_code);
        if (c.mark) {
            EXPECT_EQ(exists(scratch.join(std::wstring(c.mark) + L".loaded")), c.marked);
        }
    }
}

}  // namespace
