// Digests a file the way the library's file digest does: qv::file reads of 16384 bytes, each
// fed to Md5Update. Prints the median of three runs as "md5 MiB/s" and the digest as
// "digest HEX"; bench/md5_bench.sh puts openssl's figure on the same file beside it.
// Usage: md5_bench.exe FILE
#include "file.h"
#include "md5.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD block = 16384;
constexpr int runs = 3;

double now()
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// The bytes read, 0 when the file does not open.
DWORD digest_file(const std::wstring& path, unsigned char digest[16])
{
    qv::file f;
    if (f.open(path.c_str(), GENERIC_READ) != 0) return 0;
    qv::Md5Context context;
    qv::Md5Init(context);
    std::vector<unsigned char> buffer(block);
    DWORD done = 0;
    for (;;) {
        const DWORD got = f.read(buffer.data(), block);
        if (got == 0) break;
        qv::Md5Update(context, buffer.data(), got);
        done += got;
    }
    qv::Md5Final(digest, context);
    return done;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: md5_bench.exe FILE\n");
        return 2;
    }
    const int wide_size = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, nullptr, 0);
    std::wstring path(wide_size, L'\0');
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path.data(), wide_size);
    path.resize(wide_size - 1);

    std::vector<double> rates;
    std::string first;
    for (int i = 0; i < runs; ++i) {
        unsigned char digest[16];
        const double start = now();
        const DWORD size = digest_file(path, digest);
        const double seconds = now() - start;
        if (size == 0) {
            std::printf("# cannot read %s\n", argv[1]);
            return 1;
        }
        char hex[33];
        for (int k = 0; k < 16; ++k) std::snprintf(hex + 2 * k, 3, "%02x", digest[k]);
        if (i == 0) first = hex;
        if (first != hex) {
            std::printf("# run %d gave %s, the first %s\n", i + 1, hex, first.c_str());
            return 1;
        }
        rates.push_back(size / 1048576.0 / seconds);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("md5 %.1f\n", rates[runs / 2]);
    std::printf("digest %s\n", first.c_str());
    return 0;
}
