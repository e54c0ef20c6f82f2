// Unpacks a 256 MiB package appended to a launcher with CopyDisk1Files and, as its floor,
// copies a plain file of the same bytes with CopyFileW; prints the medians of three runs of
// each as "name MB/s" and their ratio. The launcher is a copy of this stripped program.
#include "disk1_files.h"

#include "BenchClock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD total = 256u << 20;
constexpr DWORD piece = 1u << 20;
constexpr int runs = 3;

bool write_all(HANDLE file, const void* data, DWORD count)
{
    DWORD done = 0;
    return WriteFile(file, data, count, &done, nullptr) && done == count;
}

void put_text(std::vector<unsigned char>& out, const std::wstring& text)
{
    for (const wchar_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

// `head` (the launcher's bytes, or nothing) followed by the entry's directory when asked
// and the 256 MiB of data.
bool make_file(const std::wstring& path, const std::vector<unsigned char>& head, bool with_package)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> front = head;
    if (with_package) {
        front.insert(front.end(), {1, 0, 0, 0});
        put_text(front, L"big.bin");
        put_text(front, L"media\\big.bin");
        put_text(front, L"");
        put_text(front, std::to_wstring(total));
    }
    bool ok = front.empty() || write_all(file, front.data(), static_cast<DWORD>(front.size()));
    std::vector<unsigned char> block(piece);
    for (DWORD at = 0; ok && at < total; at += piece) {
        for (DWORD i = 0; i < piece; i += 4) {
            const DWORD v = (at + i) * 2654435761u;
            std::memcpy(&block[i], &v, 4);
        }
        ok = write_all(file, block.data(), piece);
    }
    CloseHandle(file);
    return ok;
}

DWORD size_of(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) || data.nFileSizeHigh) return 0;
    return data.nFileSizeLow;
}

// MB/s of one timed run, 0 when it failed or left a file of the wrong size.
double rate(const std::function<bool()>& once, const std::wstring& result)
{
    DeleteFileW(result.c_str());
    const double start = now();
    const bool ok = once();
    const double seconds = now() - start;
    const bool whole = ok && size_of(result) == total;
    DeleteFileW(result.c_str());
    if (!whole) return 0;
    return total / 1e6 / seconds;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main()
{
    wchar_t temp[MAX_PATH], self[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const DWORD self_length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder = std::wstring(temp) + L"disk1_extract_bench_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring launcher = folder + L"\\setup.exe", plain = folder + L"\\plain.bin";
    const std::wstring target = folder + L"\\Disk1", copied = folder + L"\\copied.bin";
    const std::wstring extracted = target + L"\\media\\big.bin";
    CreateDirectoryW(folder.c_str(), nullptr);

    std::vector<unsigned char> image;
    {
        const HANDLE me = CreateFileW(std::wstring(self, self_length).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
            OPEN_EXISTING, 0, nullptr);
        image.resize(GetFileSize(me, nullptr));
        DWORD done = 0;
        ReadFile(me, image.data(), static_cast<DWORD>(image.size()), &done, nullptr);
        CloseHandle(me);
    }
    int failures = 0;
    if (!make_file(launcher, image, true) || !make_file(plain, {}, false)) {
        std::printf("# cannot write the %lu MiB files in %ls\n", static_cast<unsigned long>(total >> 20), folder.c_str());
        failures = 1;
    }

    std::vector<double> extraction, copy;
    for (int i = 0; i < runs && !failures; ++i) {
        extraction.push_back(rate([&] { return qv::CopyDisk1Files(launcher.c_str(), target.c_str(), nullptr, nullptr, false) == 0; }, extracted));
        copy.push_back(rate([&] { return CopyFileW(plain.c_str(), copied.c_str(), FALSE) != 0; }, copied));
    }
    if (!failures) {
        const double e = median(extraction), c = median(copy);
        if (e == 0 || c == 0) failures = 1;
        std::printf("CopyDisk1Files %.1f MB/s\n", e);
        std::printf("CopyFileW %.1f MB/s (floor)\n", c);
        std::printf("ratio %.2f\n", c > 0 ? e / c : 0.0);
    }
    DeleteFileW(launcher.c_str());
    DeleteFileW(plain.c_str());
    RemoveDirectoryW((target + L"\\media").c_str());
    RemoveDirectoryW(target.c_str());
    RemoveDirectoryW(folder.c_str());
    return failures;
}
