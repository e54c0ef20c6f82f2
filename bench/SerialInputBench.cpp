// The serial library's input path: bytes drained from the device into the input ring,
// matched against a two-byte end pattern ("\r\n") and taken out by the handler, in MB/s;
// beside it, as its floor, a plain copy of the same bytes into a ring and out again.
#include "SioUser.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A device that hands over one prepared chunk per drain.
class TBenchDispatcher : public TSioBaseDispatcher {
public:
    TBenchDispatcher() : TSioBaseDispatcher(nullptr) {}
    ~TBenchDispatcher() override { CloseDevice(); }

    const uint8_t* chunk = nullptr;
    unsigned left = 0;

    int EscapeFunction(int) override { return 0; }
    int Flush(bool) override { return 0; }
    unsigned RefreshCommStatus(TSioCommStatus& status) override
    {
        status.InQueue = left;
        return 0;
    }
    int ReadDeviceState(DCB& dcb) override
    {
        dcb = {};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        return 0;
    }
    int ReadDevice(void* buffer, unsigned count) override
    {
        const unsigned n = std::min(count, left);
        std::memcpy(buffer, chunk, n);
        chunk += n;
        left -= n;
        return static_cast<int>(n);
    }
    int WriteDeviceState(const DCB&) override { return 0; }
    bool WaitCommEvent(DWORD&) override { return false; }
    bool SetQueueSizes(unsigned, unsigned) override { return true; }
    int OpenDeviceHandle(const std::string&) override { return 1; }
    int CloseDeviceHandle() override { return 0; }
    void StartThreads() override {}
    int ReadModemLines(DWORD& lines) override
    {
        lines = 0;
        return 0;
    }
    int WriteDevice(const uint8_t*, unsigned count) override { return static_cast<int>(count); }
};

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned megabytes = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 64;
    const unsigned chunkSize = 4096;
    // Reply-like lines of 62 characters and CR LF.
    std::vector<uint8_t> chunk(chunkSize);
    for (unsigned i = 0; i < chunkSize; ++i) chunk[i] = static_cast<uint8_t>('A' + i % 26);
    for (unsigned i = 62; i + 1 < chunkSize; i += 64) {
        chunk[i] = '\r';
        chunk[i + 1] = '\n';
    }
    const unsigned chunks = megabytes * (1u << 20) / chunkSize;
    const double total = static_cast<double>(chunks) * chunkSize / (1 << 20);

    TBenchDispatcher d;
    if (d.OpenDevice("COM1", 115200, NOPARITY, 8, 1, 4096, 4096, 0) != 0) return 1;
    const bool linesToo = !(argc > 2 && std::string(argv[2]) == "drain-only");
    if (linesToo) d.NewDataTrigger("\r\n", false);
    std::vector<uint8_t> out(SioInputRingSize);
    unsigned long long taken = 0;
    d.AttachMethodHandler(&d, [&](UINT message, WPARAM, LPARAM) {
        if (message != SioDataMessage) return;
        const unsigned n = d.InputCount();
        if (n && d.TakeInput(out.data(), n) > 0) taken += n;
    }, false);

    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    for (unsigned c = 0; c < chunks; ++c) {
        d.chunk = chunk.data();
        d.left = chunkSize;
        d.HandleCommEvent(EV_RXCHAR);
        if (!linesToo) taken += d.TakeInput(out.data(), d.InputCount());
    }
    QueryPerformanceCounter(&t1);

    // The floor: the same bytes copied into a ring of the same size and out again.
    std::vector<uint8_t> ring(SioInputRingSize);
    unsigned write = 0, read = 0;
    unsigned long long copied = 0;
    for (unsigned c = 0; c < chunks; ++c) {
        const unsigned first = std::min(chunkSize, SioInputRingSize - write);
        std::memcpy(&ring[write], chunk.data(), first);
        std::memcpy(&ring[0], chunk.data() + first, chunkSize - first);
        write = (write + chunkSize) % SioInputRingSize;
        const unsigned n = (write - read) % SioInputRingSize;
        const unsigned a = std::min(n, SioInputRingSize - read);
        std::memcpy(out.data(), &ring[read], a);
        std::memcpy(out.data() + a, &ring[0], n - a);
        read = write;
        copied += n;
    }
    QueryPerformanceCounter(&t2);

    const double path = total / Seconds(t0, t1);
    const double floor = total / Seconds(t1, t2);
    std::printf("input path: %.1f MB/s (%llu bytes taken)\n", path, taken);
    std::printf("plain copy: %.1f MB/s (%llu bytes)\n", floor, copied);
    std::printf("ratio: the input path runs at %.1f%% of the copy\n", 100.0 * path / floor);
    return taken == copied ? 0 : 2;
}
