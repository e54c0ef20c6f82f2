// Runs one Windows program and ends with its exit code. Into the file that TAVRIN_EXIT_FILE
// names it writes "started" as soon as it runs, and the program's whole exit code, in
// decimal, on a second line once the program has ended. The Linux side of a Wine process can
// still fail after the Windows program has ended (64-bit Wine 8 with glibc 2.36 sometimes
// asserts in ld.so's exit handlers, "dl-fini.c: 87"); tools/wine-run judges a test by the
// code written here, the one Windows gave, and falls back to Wine's own status only when
// nothing was written.
// With "--print" as its first argument it also prints "exit code: %ld (0x%08lx)" on its
// standard output once the program has ended: the whole code, signed and in hexadecimal,
// for a person or a script that sees only Wine's low byte otherwise.
//   runner.exe [--print] PROGRAM [ARGUMENTS]
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

// The command line after this program's own name, as CreateProcessW takes it.
wchar_t* rest_of_command_line()
{
    wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

// Takes `option` off the front of `command` when it stands there as a whole argument.
bool take_option(wchar_t*& command, const wchar_t* option)
{
    const size_t length = std::wcslen(option);
    if (std::wcsncmp(command, option, length) != 0) return false;
    wchar_t* rest = command + length;
    if (*rest && *rest != L' ' && *rest != L'\t') return false;
    while (*rest == L' ' || *rest == L'\t') ++rest;
    command = rest;
    return true;
}

void inheritable(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

void write_line(const wchar_t* path, const wchar_t* mode, const char* line)
{
    if (FILE* out = _wfopen(path, mode)) {
        std::fprintf(out, "%s\n", line);
        std::fclose(out);
    }
}

}  // namespace

int main()
{
    wchar_t exit_file[MAX_PATH];
    const bool report = GetEnvironmentVariableW(L"TAVRIN_EXIT_FILE", exit_file, MAX_PATH) - 1u < MAX_PATH - 1u;
    if (report) write_line(exit_file, L"wb", "started");
    wchar_t* command = rest_of_command_line();
    const bool print = take_option(command, L"--print");
    if (!*command) {
        std::fprintf(stderr, "runner: usage: runner.exe [--print] PROGRAM [ARGUMENTS]\n");
        return 126;
    }
    inheritable(STD_INPUT_HANDLE);
    inheritable(STD_OUTPUT_HANDLE);
    inheritable(STD_ERROR_HANDLE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "runner: cannot start %ls: error %lu\n", command, GetLastError());
        return 126;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);

    if (report) {
        char line[16];
        std::snprintf(line, sizeof line, "%lu", static_cast<unsigned long>(code));
        write_line(exit_file, L"ab", line);
    }
    if (print) {
        std::printf("exit code: %ld (0x%08lx)\n", static_cast<long>(code), static_cast<unsigned long>(code));
        std::fflush(stdout);
    }
    return static_cast<int>(code);
}
