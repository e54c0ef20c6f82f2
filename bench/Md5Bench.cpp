// Digests a file with the library's FileMd5: qv::file reads of 16384 bytes, each fed to
// Md5Update. Prints the median of three runs as "md5 MiB/s" and the digest as
// "digest HEX"; bench/md5_bench.sh puts openssl's figure on the same file beside it.
// Usage: md5_bench.exe FILE
#include "file_copy.h"

#include "BenchClock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int runs = 3;

// The file's size, 0 when it cannot be digested.
DWORD digest_file(const std::wstring& path, unsigned char digest[16])
{
    if (qv::FileMd5(path.c_str(), digest) != 0) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
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
