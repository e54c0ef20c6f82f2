#include "disk1_files.h"

#include "appended_offset.h"
#include "file.h"
#include "file_system.h"
#include "handle.h"

#include <windows.h>
#include <lzexpand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

namespace {

constexpr DWORD transfer_buffer_size = 32768;
constexpr DWORD block_size = 16384;
constexpr DWORD text_block = 520;  // 259 characters and the zero
constexpr DWORD size_text_block = 30;
// Four zeros and one digit: no entry is shorter, so a count that needs more bytes than the
// package has cannot be true.
constexpr unsigned long long shortest_entry = 10;

constexpr int cannot_read = -1;
constexpr int not_found = -805;
constexpr int cannot_create = -800;
constexpr int cannot_write = -806;

// LZOpenFileW answers a negative error in place of a handle.
struct lz_handle_traits {
    using type = INT;
    static type invalid() noexcept { return -1; }
    static void close(type h) noexcept { LZClose(h); }
};
using lz_handle = handle<lz_handle_traits>;

lz_handle lz_open(const zString& path, WORD mode)
{
    std::wstring name(path.view());  // LZOpenFileW takes a writable string
    OFSTRUCT of = {};
    of.cBytes = sizeof(of);
    const INT h = LZOpenFileW(name.data(), &of, mode);
    return lz_handle(h < 0 ? -1 : h);
}

// Reads of the launcher at absolute offsets. The file pointer moves only when a read does
// not follow the previous one, in steps a LONG carries, so packages past 2 GiB read too.
class package_reader {
public:
    package_reader(file_lite& file, unsigned long long size) : file_(file), size_(size) {}

    unsigned long long size() const noexcept { return size_; }

    DWORD read_at(unsigned long long offset, void* buffer, DWORD count)
    {
        long long distance = static_cast<long long>(offset - position_);
        while (distance != 0) {
            const LONG step = static_cast<LONG>(std::clamp<long long>(distance, LONG_MIN, LONG_MAX));
            file_.seek(step, FILE_CURRENT);
            distance -= step;
        }
        position_ = offset;
        const int got = file_.read(buffer, count);
        if (got <= 0) return 0;
        position_ += static_cast<DWORD>(got);
        return static_cast<DWORD>(got);
    }

private:
    file_lite& file_;
    unsigned long long size_;
    unsigned long long position_ = 0;
};

// The text at `offset`, taken up to its zero inside one block; false when the block that
// could be read holds no zero (the package ends early, or the text is too long).
bool read_text(package_reader& in, unsigned long long& offset, DWORD block, unsigned char* buffer, zString& text)
{
    const DWORD got = in.read_at(offset, buffer, block);
    const size_t characters = got / sizeof(wchar_t);
    for (size_t i = 0; i < characters; ++i) {
        wchar_t c;
        std::memcpy(&c, buffer + i * sizeof(wchar_t), sizeof(c));
        if (c == L'\0') {
            text.assign(reinterpret_cast<const wchar_t*>(buffer), i);
            offset += (i + 1) * sizeof(wchar_t);
            return true;
        }
    }
    return false;
}

// Decimal digits only: the conversion alone would also take a sign and leading blanks.
bool parse_size(const zString& text, unsigned long long& size)
{
    if (text.empty()) return false;
    for (const wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    long long value = 0;
    if (!text.to_int64(value)) return false;
    size = static_cast<unsigned long long>(value);
    return true;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name a device whatever extension follows; the
// console's two halves too.
bool is_device_name(std::wstring_view component)
{
    std::wstring_view base = component.substr(0, std::min(component.find(L'.'), component.size()));
    while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
    const auto equals = [](std::wstring_view a, const wchar_t* b) {
        return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
    };
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (equals(base, device)) return true;
    if (base.size() != 4 || !(equals(base.substr(0, 3), L"COM") || equals(base.substr(0, 3), L"LPT"))) return false;
    const wchar_t n = base[3];
    return (n >= L'1' && n <= L'9') || n == L'\u00b9' || n == L'\u00b2' || n == L'\u00b3';
}

// One name of a path that stays where it is put: not ".." or any other run of dots and
// blanks (Windows trims those to nothing or to ".."), no drive or stream colon, no
// wildcard, no control character, no device.
bool is_plain_name(std::wstring_view name)
{
    if (name.find_first_not_of(L". ") == std::wstring_view::npos) return false;
    for (const wchar_t c : name)
        if (c < 32 || std::wstring_view(L"<>:\"|?*\\/").find(c) != std::wstring_view::npos) return false;
    return !is_device_name(name);
}

// A relative path below the target folder, separators already made "\": no root, drive or
// UNC start, every folder and the file a plain name (empty folders between two separators
// add nothing and pass).
bool is_contained_path(std::wstring_view path)
{
    if (path.empty() || path.front() == L'\\' || path.back() == L'\\') return false;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(L'\\', start), path.size());
        const std::wstring_view name = path.substr(start, end - start);
        if (!name.empty() && !is_plain_name(name)) return false;
        start = end + 1;
    }
    return true;
}

// Every folder along `folder` (which ends in "\"), at each backslash in turn; a failure
// shows later when the file cannot be created.
void make_folders(const zString& folder)
{
    for (size_t i = folder.find(L"\\"); i != zString::npos; i = folder.find(L"\\", i + 1))
        if (i > 0) OsCreateDirectory(folder.substr(0, i), nullptr);
}

// The launcher keeps its files in the package; media files named data<n>.cab other than
// data1.cab that lie in the target folder or one folder below it are fetched later, not
// unpacked, unless everything is asked for.
bool is_deferred_cabinet(const zString& stored, const zString& target)
{
    if (!(stored.extension_part() == L".cab")) return false;
    if (stored.length() < 4 || CompareStringOrdinal(stored.c_str(), 4, L"data", 4, TRUE) != CSTR_EQUAL) return false;
    if (stored == L"data1.cab") return false;
    zString folder = target.folder_part(true);
    if (!folder.empty() && (folder.last_char() == L'\\' || folder.last_char() == L'/')) folder.resize(folder.length() - 1);
    return folder.folder_part().empty();
}

// The entry's bytes from the launcher into `out`, in whole blocks and then the rest; on a
// short read what was read is written and the copy stops.
int copy_data(package_reader& in, unsigned long long offset, unsigned long long size, unsigned char* buffer,
    file_lite& out)
{
    while (size > 0) {
        const DWORD want = size >= block_size ? block_size : static_cast<DWORD>(size);
        const DWORD got = in.read_at(offset, buffer, want);
        if (got > 0 && out.write(buffer, got) != static_cast<int>(got)) return cannot_write;
        if (got < want) return cannot_write;
        offset += got;
        size -= got;
    }
    return 0;
}

// Expands the written file to its finished path; a failed expansion leaves the compressed
// file and nothing under the finished name.
bool expand(const zString& compressed, const zString& finished)
{
    const lz_handle source = lz_open(compressed, OF_READ);
    if (!source) return false;
    lz_handle target = lz_open(finished, OF_CREATE | OF_WRITE);
    if (!target) return false;
    const LONG written = LZCopy(source.get(), target.get());
    target.reset();
    if (written > 0) return true;
    OsDeleteFile(finished);
    return false;
}

}  // namespace

int CopyDisk1Files(const zString& launcher, const zString& target_folder, std::vector<zString>* files,
    std::vector<zString>* folders, bool extract_all)
{
    const DWORD package_offset = GetAppendedDataOffset(launcher, true);
    file_lite file;
    if (!file.open_read(launcher.c_str())) return cannot_read;
    WIN32_FIND_DATAW found;
    {
        const find_handle search(OsFindFirstFile(launcher, found));
        if (!search) return not_found;
    }
    // 0 is no image: the package would be read from the file's first byte.
    if (package_offset == 0) return cannot_read;
    package_reader in(file, (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[transfer_buffer_size]);

    unsigned long long offset = package_offset;
    DWORD count = 0;
    if (in.read_at(offset, &count, sizeof(count)) != sizeof(count)) return cannot_write;
    offset += sizeof(count);
    if (offset > in.size() || count > (in.size() - offset) / shortest_entry) return cannot_write;

    if (files) files->push_back(target_folder);
    const zString base = target_folder.remove_backslash();
    for (DWORD entry = 0; entry < count; ++entry) {
        zString stored, target, third, size_text;
        if (!read_text(in, offset, text_block, buffer.get(), stored) || !read_text(in, offset, text_block, buffer.get(), target)
            || !read_text(in, offset, text_block, buffer.get(), third)
            || !read_text(in, offset, size_text_block, buffer.get(), size_text))
            return cannot_write;
        unsigned long long size = 0;
        if (!parse_size(size_text, size) || size > in.size() - std::min(offset, in.size())) return cannot_write;
        target.replace_all(L"/", L"\\");
        if (!is_plain_name(stored.view()) || !is_contained_path(target.view())) return cannot_create;

        const zString folder_part = target.folder_part(true);
        const zString output_folder = base + L"\\" + folder_part;
        if (!folder_part.empty() && OsGetFileAttributes(output_folder) == INVALID_FILE_ATTRIBUTES) {
            make_folders(output_folder);
            if (folders) folders->push_back(output_folder);
        }
        const unsigned long long data = offset;
        offset += size;
        if (!extract_all && is_deferred_cabinet(stored, target)) continue;

        zString path = output_folder + stored;
        {
            file_lite out;
            if (!out.open_write(path.c_str(), CREATE_ALWAYS)) return cannot_create;
            if (const int failed = copy_data(in, data, size, buffer.get(), out)) return failed;
        }
        if (!(stored == target.file_name_part())) {
            const zString finished = base + L"\\" + target;
            if (expand(path, finished)) {
                OsDeleteFile(path);
                path = finished;
            }
        }
        if (files) files->push_back(path);
    }
    if (files) files->push_back(target_folder);
    return 0;
}

}  // namespace qv
