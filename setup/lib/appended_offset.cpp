#include "appended_offset.h"

#include "handle.h"

#include <cstdint>
#include <cstring>

namespace qv {

namespace {

// The PE layout, by offsets: every field is read through image_bytes, which refuses a read
// that would leave the file, so a cut or hostile file answers 0 and never reads past its end.
constexpr uint64_t dos_header_size = 64;
constexpr uint64_t dos_new_header_at = 0x3C;
constexpr uint64_t file_header_size = 20;     // after the 4-byte signature
constexpr uint64_t section_header_size = 40;
constexpr uint64_t debug_entry_size = 28;
constexpr uint64_t data_directory_size = 8;
constexpr DWORD certificate_directory = 4;
constexpr DWORD debug_directory = 6;

struct optional_layout {
    WORD magic;
    uint64_t directory_count_at;  // NumberOfRvaAndSizes
    uint64_t directories_at;
};
constexpr optional_layout layouts[] = {
    {0x10B, 92, 96},    // PE32
    {0x20B, 108, 112},  // PE32+
};
constexpr uint64_t size_of_headers_at = 60;  // the same in both layouts

class image_bytes {
public:
    image_bytes(const unsigned char* data, uint64_t size) noexcept : data_(data), size_(size) {}

    uint64_t size() const noexcept { return size_; }
    bool holds(uint64_t at, uint64_t count) const noexcept { return at <= size_ && count <= size_ - at; }
    bool read(uint64_t at, void* out, uint64_t count) const noexcept
    {
        if (!holds(at, count)) return false;
        std::memcpy(out, data_ + at, static_cast<size_t>(count));
        return true;
    }
    template <class T>
    bool read(uint64_t at, T& out) const noexcept
    {
        return read(at, &out, sizeof out);
    }

private:
    const unsigned char* data_;
    uint64_t size_;
};

struct section {
    char name[8];
    DWORD virtual_address;
    DWORD raw_size;
    DWORD raw_pointer;
};

// The section table has been found whole inside the file before any of these are asked.
class section_table {
public:
    section_table(const image_bytes& image, uint64_t at, WORD count) noexcept : image_(image), at_(at), count_(count) {}

    section operator[](WORD i) const noexcept
    {
        const uint64_t at = at_ + i * section_header_size;
        section s{};
        image_.read(at, s.name, sizeof s.name);
        image_.read(at + 12, s.virtual_address);
        image_.read(at + 16, s.raw_size);
        image_.read(at + 20, s.raw_pointer);
        return s;
    }
    // The first section of the name that `also` accepts.
    template <class Also>
    bool find(const char* name, Also also, section& out) const noexcept
    {
        char padded[8] = {};
        std::memcpy(padded, name, std::strlen(name));
        for (WORD i = 0; i < count_; ++i) {
            out = (*this)[i];
            if (std::memcmp(out.name, padded, sizeof padded) == 0 && also(out)) return true;
        }
        return false;
    }

private:
    const image_bytes& image_;
    uint64_t at_;
    WORD count_;
};

struct directory {
    DWORD address = 0;
    DWORD size = 0;
};

// Where the debug directory lies in the file; false when no section holds it, which leaves
// the image without debug data.
bool debug_directory_at(const section_table& sections, DWORD address, uint64_t& at) noexcept
{
    section s{};
    if (sections.find(".debug", [&](const section& d) { return d.virtual_address == address; }, s)) {
        at = s.raw_pointer;
        return true;
    }
    const auto any = [](const section&) { return true; };
    if (!sections.find(".rdata", any, s) && !sections.find(".text", any, s)) return false;
    // Unsigned: an address before the section wraps past its raw data too.
    if (address - s.virtual_address >= s.raw_size) return false;
    at = uint64_t{address} - s.virtual_address + s.raw_pointer;
    return true;
}

// The sizes of the debug data that lies past the end of the image; false when the directory
// is placed outside the file.
bool debug_past_image(const image_bytes& image, const section_table& sections, directory debug,
    uint64_t end_of_image, uint64_t& total) noexcept
{
    total = 0;
    uint64_t at = 0;
    const uint64_t count = debug.size / debug_entry_size;
    if (debug.address == 0 || count == 0 || !debug_directory_at(sections, debug.address, at)) return true;
    if (!image.holds(at, count * debug_entry_size)) return false;
    for (uint64_t i = 0; i < count; ++i) {
        DWORD data_size = 0, data_pointer = 0;
        image.read(at + i * debug_entry_size + 16, data_size);
        image.read(at + i * debug_entry_size + 24, data_pointer);
        if (uint64_t{data_pointer} + data_size > end_of_image) total += data_size;
    }
    return true;
}

// 0 for anything that is not a whole, well-formed image.
DWORD offset_in_image(const image_bytes& image, bool leave_out_certificate) noexcept
{
    char mz[2];
    if (image.size() < dos_header_size || !image.read(0, mz, 2) || std::memcmp(mz, "MZ", 2) != 0) return 0;
    DWORD nt_at = 0;
    char pe[4];
    if (!image.read(dos_new_header_at, nt_at) || !image.read(nt_at, pe, 4) || std::memcmp(pe, "PE\0\0", 4) != 0)
        return 0;

    const uint64_t file_header_at = uint64_t{nt_at} + 4;
    WORD section_count = 0, optional_size = 0;
    if (!image.read(file_header_at + 2, section_count) || !image.read(file_header_at + 16, optional_size)) return 0;
    const uint64_t optional_at = file_header_at + file_header_size;
    const uint64_t sections_at = optional_at + optional_size;
    if (!image.holds(sections_at, section_count * section_header_size)) return 0;

    WORD magic = 0;
    if (!image.read(optional_at, magic)) return 0;
    const optional_layout* layout = nullptr;
    for (const optional_layout& l : layouts)
        if (l.magic == magic) layout = &l;
    // Up to the first directory the optional header must be there; the directories it does
    // not declare, or has no room for, are empty.
    if (!layout || optional_size < layout->directories_at) return 0;
    DWORD size_of_headers = 0, directory_count = 0;
    if (!image.read(optional_at + size_of_headers_at, size_of_headers)
        || !image.read(optional_at + layout->directory_count_at, directory_count))
        return 0;
    // Headers that end inside their own section table are no image's.
    if (size_of_headers < sections_at + section_count * section_header_size) return 0;
    auto read_directory = [&](DWORD index) {
        directory d;
        const uint64_t at = layout->directories_at + index * data_directory_size;
        if (index < directory_count && at + data_directory_size <= optional_size) {
            image.read(optional_at + at, d.address);
            image.read(optional_at + at + 4, d.size);
        }
        return d;
    };

    const section_table sections(image, sections_at, section_count);
    uint64_t end_of_image = size_of_headers;
    for (WORD i = 0; i < section_count; ++i) end_of_image += sections[i].raw_size;

    uint64_t debug_total = 0;
    if (!debug_past_image(image, sections, read_directory(debug_directory), end_of_image, debug_total)) return 0;
    uint64_t offset = end_of_image + debug_total;
    if (!leave_out_certificate) offset += read_directory(certificate_directory).size;
    // A file shorter than what its headers claim is cut or lies about itself.
    if (offset > image.size()) return 0;
    return static_cast<DWORD>(offset);
}

}  // namespace

DWORD GetAppendedDataOffset(const zString& path, bool leave_out_certificate)
{
    // Nobody may write or cut the file while it is mapped: a view that shrinks under the reader
    // faults instead of reading.
    const file_handle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.HighPart != 0 || size.LowPart < dos_header_size) return 0;
    const kernel_handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return 0;
    const mapped_view view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return 0;
    return offset_in_image(image_bytes(static_cast<const unsigned char*>(view.get()), size.LowPart),
        leave_out_certificate);
}

}  // namespace qv
