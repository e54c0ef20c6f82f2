// Reads 64 MiB from the loopback peer (tools/httppeer.py, port in TAVRIN_HTTP_PORT) through
// qv::file and, as its floor, through a minimal synchronous WinINet reader, both in 64 KiB
// reads; prints the medians of three runs of each as "name MiB/s".
#include "file.h"

#include "BenchClock.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD total = 64u << 20;
constexpr DWORD piece = 64u << 10;
constexpr int runs = 3;

// MiB/s of the median run; 0 when a run did not read everything.
double median_rate(const std::function<DWORD()>& once)
{
    std::vector<double> rates;
    for (int i = 0; i < runs; ++i) {
        const double start = now();
        const DWORD got = once();
        const double seconds = now() - start;
        if (got != total) {
            std::printf("# a run read %lu bytes of %lu\n", static_cast<unsigned long>(got), static_cast<unsigned long>(total));
            return 0;
        }
        rates.push_back(total / 1048576.0 / seconds);
    }
    std::sort(rates.begin(), rates.end());
    return rates[runs / 2];
}

DWORD through_file(const std::wstring& url)
{
    qv::file f;
    if (f.open(url.c_str(), GENERIC_READ) != 0) return 0;
    std::vector<unsigned char> buffer(piece);
    DWORD done = 0;
    for (;;) {
        const DWORD got = f.read(buffer.data(), piece);
        if (got == 0) break;
        done += got;
    }
    return done;
}

DWORD through_wininet(const std::wstring& url, DWORD size = piece)
{
    HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlW(session, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    std::vector<unsigned char> buffer(size);
    DWORD done = 0, got = 0;
    while (request && InternetReadFile(request, buffer.data(), size, &got) && got != 0) done += got;
    if (request) InternetCloseHandle(request);
    InternetCloseHandle(session);
    return done;
}

}  // namespace

int main()
{
    const char* port = std::getenv("TAVRIN_HTTP_PORT");
    if (!port) {
        std::printf("run under tools/httppeer.py\n");
        return 2;
    }
    const std::string narrow = std::string("http://127.0.0.1:") + port + "/data/" + std::to_string(total);
    const std::wstring url(narrow.begin(), narrow.end());
    std::printf("qv::file %.1f\n", median_rate([&] { return through_file(url); }));
    std::printf("wininet %.1f\n", median_rate([&] { return through_wininet(url); }));
    // The file object's first reads are 1500 bytes each, on purpose: the same reads, bare.
    std::printf("wininet_1500 %.1f\n", median_rate([&] { return through_wininet(url, 1500); }));
    return 0;
}
