// Receiving through a real pty COM port: the simulated instrument floods 64 MiB of 64-byte
// lines; the port and its packet collector hand them to the GUI thread as packets. Beside
// it, as the floor, a minimal overlapped reader of the same port. Each side runs several
// times, in turns, and the medians are compared. Then the CPU time an open port takes while
// nothing comes, over 10 s: most of it is Wine's, polling the modem lines of the pty for the
// pending WaitCommEvent (see tools/ptymodem), not the dispatch thread's 50 ms poll. Run it
// under tools/vr7sim.py (tools/bench.sh).
#include "Application.h"
#include "SioPacket.h"
#include "SioPort.h"
#include "Timer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int Lines = 1 << 20;
const int Runs = 3;
const int LineLength = 64;
const double MiB = Lines * LineLength / 1048576.0;

std::string Env(const char* name)
{
    char value[1024];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

double CpuSeconds()
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto seconds = [](FILETIME t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double Now()
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// The instrument answers each of our commands with the flood; written before the first.
void WriteScript()
{
    std::string path = "Z:" + Env("TAVRIN_PEER_DIR") + "/script";
    for (char& c : path)
        if (c == '/') c = '\\';
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const std::string text = "default lines " + std::to_string(Lines) + " " + std::to_string(LineLength) + "\n";
    DWORD n;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
}

// Sent messages (the port's synchronised calls) are served inside PeekMessage, which
// GetMessage would not return for.
void Pump(const std::function<bool()>& done)
{
    while (!done()) {
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG msg;
        while (!done() && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void Report(const char* what, double wall, double cpu)
{
    std::printf("%-34s %8.2f MB/s  %6.3f s wall  %6.3f s CPU\n", what, MiB / wall, wall, cpu);
}

struct TRun {
    double Wall, Cpu;
};

TRun RunPort(int com)
{
    // The library: port, dispatcher threads, packet collector, packets on the GUI thread.
    TSioComPort port(nullptr);
    port.SetComNumber(com);
    port.SetBaud(115200);
    port.SetInSize(1024);
    port.SetOutSize(1024);
    port.PromptForPort = false;
    port.SetOpen(true);
    TSioDataPacket packet(nullptr);
    packet.SetComPort(&port);
    packet.StartCond = scAnyData;
    packet.SetEndCond(ecString);
    packet.SetEndString("\n");
    packet.TimeOut = 0;
    int packets = 0;
    size_t bytes = 0;
    packet.OnStringPacket = [&](TObject*, const std::string& data) {
        ++packets;
        bytes += data.size();
    };
    packet.SetEnabled(true);
    const double cpu0 = CpuSeconds(), t0 = Now();
    port.SendString("GO\r");
    Pump([&] { return packets >= Lines; });
    const TRun run{Now() - t0, CpuSeconds() - cpu0};
    if (bytes != static_cast<size_t>(Lines) * LineLength) std::printf("  (got %zu bytes)\n", bytes);
    packet.SetEnabled(false);
    port.SetOpen(false);
    return run;
}

// The floor: one overlapped reader, counting line ends.
TRun RunFloor(int com)
{
    const std::string name = "\\\\.\\COM" + std::to_string(com);
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = 1000;
    SetCommTimeouts(h, &t);
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const double cpu0 = CpuSeconds(), t0 = Now();
    DWORD n = 0;
    WriteFile(h, "GO\r", 3, &n, &ov);
    GetOverlappedResult(h, &ov, &n, TRUE);
    static char buffer[65536];
    size_t bytes = 0;
    int lines = 0;
    while (lines < Lines) {
        ResetEvent(ov.hEvent);
        if (!ReadFile(h, buffer, sizeof buffer, &n, &ov) && GetLastError() != ERROR_IO_PENDING) break;
        if (!GetOverlappedResult(h, &ov, &n, TRUE) && GetLastError() != ERROR_TIMEOUT) break;
        for (DWORD i = 0; i < n; ++i) lines += buffer[i] == '\n';
        bytes += n;
    }
    const TRun run{Now() - t0, CpuSeconds() - cpu0};
    if (lines < Lines) std::printf("  (floor got %zu bytes)\n", bytes);
    CloseHandle(ov.hEvent);
    CloseHandle(h);
    return run;
}

TRun Median(std::vector<TRun> runs)
{
    std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.Wall < b.Wall; });
    return runs[runs.size() / 2];
}

}  // namespace

int main()
{
    const int com = std::stoi(Env("TAVRIN_TEST_COM"));
    WriteScript();
    std::vector<TRun> port, floor;
    for (int i = 0; i < Runs; ++i) {
        port.push_back(RunPort(com));
        floor.push_back(RunFloor(com));
    }
    for (int i = 0; i < Runs; ++i) {
        std::printf("run %d: port %.2f MB/s, floor %.2f MB/s\n", i + 1, MiB / port[i].Wall, MiB / floor[i].Wall);
    }
    const TRun p = Median(port), f = Median(floor);
    Report("port and packet collector (median)", p.Wall, p.Cpu);
    Report("minimal overlapped reader (floor)", f.Wall, f.Cpu);
    std::printf("%-34s %8.2f\n", "port / floor", f.Wall / p.Wall);

    // Idle: a port stays open, nothing comes.
    TSioComPort idle(nullptr);
    idle.SetComNumber(com);
    idle.PromptForPort = false;
    idle.SetOpen(true);
    TTimer stop(nullptr);
    bool over = false;
    stop.SetInterval(10000);
    stop.OnTimer = [&](TObject*) { over = true; };
    const double idle0 = CpuSeconds();
    Pump([&] { return over; });
    std::printf("%-34s %6.3f s CPU in 10 s\n", "open idle port", CpuSeconds() - idle0);
    idle.SetOpen(false);
    return 0;
}
