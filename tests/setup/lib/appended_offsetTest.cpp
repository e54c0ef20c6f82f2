#include "appended_offset.h"

#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr DWORD package_margin = 51200;  // what the launcher asks beyond the image

void put16(bytes& b, size_t at, WORD v) { std::memcpy(&b[at], &v, 2); }
void put32(bytes& b, size_t at, DWORD v) { std::memcpy(&b[at], &v, 4); }
DWORD get32(const bytes& b, size_t at)
{
    DWORD v = 0;
    std::memcpy(&v, &b[at], 4);
    return v;
}
WORD get16(const bytes& b, size_t at)
{
    WORD v = 0;
    std::memcpy(&v, &b[at], 2);
    return v;
}

// A small PE image laid out the way a linker does it, written here so each case can bend one
// field of it: the headers, then each section's raw data, file-aligned.
struct section_spec {
    const char* name;
    DWORD virtual_address;
};

constexpr DWORD file_alignment = 0x200;
constexpr DWORD debug_entry = 28;
constexpr DWORD nt_at = 0x40;
constexpr DWORD optional_at = nt_at + 24;

struct image {
    bool plus = false;
    bytes data;
    DWORD directories_at = 0;  // in the file
    DWORD count_at = 0;        // NumberOfRvaAndSizes, in the file
    DWORD sections_at = 0;
    DWORD headers_end = 0;  // the section table's end
    DWORD end = 0;          // SizeOfHeaders and every section's raw data
    std::vector<section_spec> sections;

    DWORD section_header(size_t i) const { return sections_at + static_cast<DWORD>(i) * 40; }
    DWORD raw_pointer(size_t i) const { return get32(data, section_header(i) + 20); }
    void directory(DWORD index, DWORD address, DWORD size)
    {
        put32(data, directories_at + index * 8, address);
        put32(data, directories_at + index * 8 + 4, size);
    }
    void append(DWORD count) { data.insert(data.end(), count, 0xA5); }

    // The debug directory at `address` inside section `holder`, one entry per (size, pointer).
    void debug(size_t holder, DWORD address, const std::vector<std::pair<DWORD, DWORD>>& entries)
    {
        DWORD at = address - sections[holder].virtual_address + raw_pointer(holder);
        for (const auto& [size, pointer] : entries) {
            put32(data, at + 12, 2);  // a CodeView entry
            put32(data, at + 16, size);
            put32(data, at + 24, pointer);
            at += debug_entry;
        }
        directory(6, address, debug_entry * static_cast<DWORD>(entries.size()));
    }
    // A certificate table of `size` bytes behind what the file holds now.
    void certificate(DWORD size)
    {
        directory(4, static_cast<DWORD>(data.size()), size);
        append(size);
    }
};

const std::vector<section_spec> usual_sections = {{".text", 0x1000}, {".rdata", 0x2000}, {".data", 0x3000}};

// `slots` data directories fit the optional header; each section holds one aligned block.
image make_image(bool plus, std::vector<section_spec> sections = usual_sections, DWORD slots = 16)
{
    image m;
    m.plus = plus;
    m.sections = std::move(sections);
    const DWORD directories_in_optional = plus ? 112 : 96;
    const DWORD optional_size = directories_in_optional + slots * 8;
    m.directories_at = optional_at + directories_in_optional;
    m.count_at = m.directories_at - 4;
    m.sections_at = optional_at + optional_size;
    m.headers_end = m.sections_at + 40 * static_cast<DWORD>(m.sections.size());
    const DWORD size_of_headers = (m.headers_end + file_alignment - 1) / file_alignment * file_alignment;
    m.end = size_of_headers + file_alignment * static_cast<DWORD>(m.sections.size());

    m.data.assign(m.end, 0);
    m.data[0] = 'M';
    m.data[1] = 'Z';
    put32(m.data, 0x3C, nt_at);
    std::memcpy(&m.data[nt_at], "PE\0\0", 4);
    put16(m.data, nt_at + 4, plus ? 0x8664 : 0x14C);
    put16(m.data, nt_at + 6, static_cast<WORD>(m.sections.size()));
    put16(m.data, nt_at + 20, static_cast<WORD>(optional_size));
    put16(m.data, nt_at + 22, 0x0102);
    put16(m.data, optional_at, plus ? 0x20B : 0x10B);
    put32(m.data, optional_at + 32, 0x1000);
    put32(m.data, optional_at + 36, file_alignment);
    put32(m.data, optional_at + 60, size_of_headers);
    put32(m.data, m.count_at, slots);
    for (size_t i = 0; i < m.sections.size(); ++i) {
        const DWORD at = m.section_header(i);
        std::memcpy(&m.data[at], m.sections[i].name, std::strlen(m.sections[i].name));
        put32(m.data, at + 8, file_alignment);
        put32(m.data, at + 12, m.sections[i].virtual_address);
        put32(m.data, at + 16, file_alignment);
        put32(m.data, at + 20, size_of_headers + file_alignment * static_cast<DWORD>(i));
    }
    return m;
}

// What the launcher asks of the offset: more than the margin behind it is a package.
bool has_appended_package(DWORD file_size, DWORD offset) { return file_size > uint64_t{offset} + package_margin; }

TEST(GetAppendedDataOffset, AStrippedProgramEndsWhereItsFileEnds)
{
    struct Case {
        const char* name;
        DWORD appended;
        bool package;
    };
    const Case cases[] = {
        {"nothing appended", 0, false},
        {"one byte less than the margin", package_margin - 1, false},
        {"exactly the margin", package_margin, false},
        {"one byte more than the margin", package_margin + 1, true},
    };
    const bytes stub = read_back(beside_program(L"launcher_stub.exe"));
    ASSERT_GT(stub.size(), 1024u);
    const DWORD stub_size = static_cast<DWORD>(stub.size());
    const scratch_folder folder(L"setup_appended");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bytes launcher = stub;
        launcher.insert(launcher.end(), c.appended, 0x5A);
        const std::wstring path = folder.write(L"launcher.exe", launcher);
        const DWORD offset = qv::GetAppendedDataOffset(path.c_str(), true);
        EXPECT_EQ(offset, stub_size);
        EXPECT_EQ(qv::GetAppendedDataOffset(path.c_str(), false), stub_size) << "the stand-in is not signed";
        EXPECT_EQ(has_appended_package(static_cast<DWORD>(launcher.size()), offset), c.package);
    }
}

// `zero` in place of a distance: the case's file is refused.
constexpr int64_t zero = -1;

TEST(GetAppendedDataOffset, CountsDebugDataPastTheImageAndTheCertificateTable)
{
    struct Case {
        const char* name;
        image (*make)(bool plus);
        int64_t set;    // behind the image's end, with the certificate left out
        int64_t clear;  // and with it
    };
    const Case cases[] = {
        {"nothing appended", [](bool plus) { return make_image(plus); }, 0, 0},
        {"bytes appended",
            [](bool plus) {
                image m = make_image(plus);
                m.append(5000);
                return m;
            },
            0, 0},
        {"debug data past the image",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(1, 0x2040, {{300, m.end}});
                m.append(300 + 7000);
                return m;
            },
            300, 300},
        {"debug data inside the image",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(1, 0x2040, {{0x80, m.raw_pointer(2)}});
                m.append(7000);
                return m;
            },
            0, 0},
        {"debug data ending at the image's end",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(1, 0x2040, {{0x80, m.end - 0x80}});
                m.append(7000);
                return m;
            },
            0, 0},
        {"one entry inside the image and two past it",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(1, 0x2000, {{0x80, m.raw_pointer(2)}, {300, m.end}, {20, m.end + 300}});
                m.append(320);
                return m;
            },
            320, 320},
        {"a .debug section at the directory's address",
            [](bool plus) {
                image m = make_image(plus, {{".text", 0x1000}, {".rdata", 0x2000}, {".debug", 0x4000}});
                m.debug(2, 0x4000, {{300, m.end}});
                m.append(300);
                return m;
            },
            300, 300},
        {"a .debug section elsewhere leaves the directory to .rdata",
            [](bool plus) {
                image m = make_image(plus, {{".text", 0x1000}, {".debug", 0x4000}, {".rdata", 0x2000}});
                m.debug(2, 0x2010, {{300, m.end}});
                m.append(300);
                return m;
            },
            300, 300},
        {".text holds the directory when there is no .rdata",
            [](bool plus) {
                image m = make_image(plus, {{".text", 0x1000}, {".data", 0x3000}});
                m.debug(0, 0x1100, {{300, m.end}});
                m.append(300);
                return m;
            },
            300, 300},
        {"with an .rdata, .text is not asked",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(0, 0x1100, {{300, m.end}});
                m.append(300);
                return m;
            },
            0, 0},
        {"the address past .rdata's raw data",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(2, 0x3000, {{300, m.end}});
                m.directory(6, 0x2000 + file_alignment, debug_entry);
                m.append(300);
                return m;
            },
            0, 0},
        {"no section of the three names",
            [](bool plus) {
                image m = make_image(plus, {{"CODE", 0x1000}, {"DATA", 0x2000}});
                m.debug(1, 0x2000, {{300, m.end}});
                m.append(300);
                return m;
            },
            0, 0},
        {"a debug directory smaller than one entry",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(1, 0x2000, {{300, m.end}});
                m.directory(6, 0x2000, debug_entry - 1);
                m.append(300);
                return m;
            },
            0, 0},
        {"a certificate table",
            [](bool plus) {
                image m = make_image(plus);
                m.certificate(0x640);
                return m;
            },
            0, 0x640},
        {"debug data and a certificate table",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(1, 0x2040, {{300, m.end}});
                m.append(300);
                m.certificate(0x640);
                m.append(60000);
                return m;
            },
            300, 300 + 0x640},
        {"five directories declared: no debug directory",
            [](bool plus) {
                image m = make_image(plus);
                m.debug(1, 0x2040, {{300, m.end}});
                m.append(300);
                m.certificate(0x640);
                put32(m.data, m.count_at, 5);
                return m;
            },
            0, 0x640},
        {"four directories declared: no certificate table",
            [](bool plus) {
                image m = make_image(plus);
                m.certificate(0x640);
                put32(m.data, m.count_at, 4);
                return m;
            },
            0, 0},
        {"room for five directories only",
            [](bool plus) {
                // Directory 6 would lie over the first section header: debug() writes it there.
                image m = make_image(plus, usual_sections, 5);
                m.debug(1, 0x2040, {{300, m.end}});
                m.append(300);
                m.certificate(0x640);
                put32(m.data, m.count_at, 16);
                return m;
            },
            0, 0x640},
        {"a certificate table larger than the file",
            [](bool plus) {
                image m = make_image(plus);
                m.certificate(0x640);
                m.directory(4, m.end, 0xFFFFFF00);
                return m;
            },
            0, zero},
    };
    const scratch_folder folder(L"setup_appended");
    for (const bool plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (plus ? " (PE32+)" : " (PE32)"));
            const image m = c.make(plus);
            const std::wstring path = folder.write(L"image.exe", m.data);
            EXPECT_EQ(qv::GetAppendedDataOffset(path.c_str(), true), c.set == zero ? 0 : m.end + c.set);
            EXPECT_EQ(qv::GetAppendedDataOffset(path.c_str(), false), c.clear == zero ? 0 : m.end + c.clear);
        }
    }
}

// Every image here has debug data past its end and a certificate table that fills the file to
// two pages, so that a read past its end faults; each case bends it until it is no sound
// image, which gives 0 whatever the flag.
TEST(GetAppendedDataOffset, RefusesImagesWhoseHeadersDoNotHold)
{
    struct Case {
        const char* name;
        void (*bend)(image& m);
    };
    const Case cases[] = {
        {"no MZ", [](image& m) { m.data[1] = 'X'; }},
        {"no PE signature", [](image& m) { m.data[nt_at + 2] = 1; }},
        {"the new header past the end", [](image& m) { put32(m.data, 0x3C, static_cast<DWORD>(m.data.size())); }},
        {"a negative new header offset", [](image& m) { put32(m.data, 0x3C, 0x80000040); }},
        {"the new header in the file's last two bytes",
            [](image& m) {
                put32(m.data, 0x3C, static_cast<DWORD>(m.data.size() - 2));
                std::memcpy(&m.data[m.data.size() - 2], "PE", 2);
            }},
        {"the signature in the file's last bytes",
            [](image& m) {
                put32(m.data, 0x3C, static_cast<DWORD>(m.data.size() - 4));
                std::memcpy(&m.data[m.data.size() - 4], "PE\0\0", 4);
            }},
        {"a ROM optional header", [](image& m) { put16(m.data, optional_at, 0x107); }},
        {"an optional header too small for the directories",
            [](image& m) { put16(m.data, nt_at + 20, static_cast<WORD>(m.directories_at - optional_at - 4)); }},
        {"an optional header past the end", [](image& m) { put16(m.data, nt_at + 20, 0xFFFF); }},
        {"a section table past the end", [](image& m) { put16(m.data, nt_at + 6, 0xFFFF); }},
        {"headers that end inside the section table",
            [](image& m) { put32(m.data, optional_at + 60, m.headers_end - 1); }},
        {"raw sizes past 32 bits", [](image& m) { put32(m.data, m.section_header(2) + 16, 0xFFFFFF00); }},
        {"raw sizes that wrap to the same 32-bit sum",
            [](image& m) {
                put32(m.data, m.section_header(0) + 16, file_alignment + 0x80000000);
                put32(m.data, m.section_header(2) + 16, file_alignment + 0x80000000);
            }},
        {"section data cut short", [](image& m) { put32(m.data, m.section_header(2) + 16, 0x100000); }},
        {"the debug directory's section outside the file",
            [](image& m) { put32(m.data, m.section_header(1) + 20, 0xFFFFF000); }},
        {"the debug directory running past the end", [](image& m) { m.directory(6, 0x2040, debug_entry * 100000); }},
        {"a debug entry cut by the file's end",
            [](image& m) {
                const DWORD at = static_cast<DWORD>(m.data.size()) - debug_entry + 4;
                std::memcpy(&m.data[at], &m.data[m.raw_pointer(1) + 0x40], debug_entry - 4);
                put32(m.data, m.section_header(1) + 20, at - 0x40);
            }},
        {"debug data larger than the file",
            [](image& m) { put32(m.data, m.raw_pointer(1) + 0x40 + 16, 0x7FFFFFFF); }},
        {"debug sizes that wrap 32 bits",
            [](image& m) {
                const DWORD entries = m.raw_pointer(1) + 0x40;
                put32(m.data, entries + 16, 0x80000000);
                std::memcpy(&m.data[entries + debug_entry], &m.data[entries], debug_entry);
                m.directory(6, 0x2040, 2 * debug_entry);
            }},
    };
    const scratch_folder folder(L"setup_appended");
    for (const bool plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (plus ? " (PE32+)" : " (PE32)"));
            image m = make_image(plus);
            m.debug(1, 0x2040, {{300, m.end}});
            m.append(300);
            m.certificate(0x2000 - static_cast<DWORD>(m.data.size()));
            const std::wstring sound = folder.write(L"sound.exe", m.data);
            ASSERT_EQ(qv::GetAppendedDataOffset(sound.c_str(), false), m.data.size());
            c.bend(m);
            const std::wstring path = folder.write(L"bent.exe", m.data);
            EXPECT_EQ(qv::GetAppendedDataOffset(path.c_str(), true), 0u);
            EXPECT_EQ(qv::GetAppendedDataOffset(path.c_str(), false), 0u);
        }
    }
}

TEST(GetAppendedDataOffset, GivesZeroForWhatIsNoImage)
{
    const scratch_folder folder(L"setup_appended");
    bytes dos_header(64, 0);
    dos_header[0] = 'M';
    dos_header[1] = 'Z';
    bytes short_dos_header(dos_header.begin(), dos_header.end() - 1);
    const std::string text = "MZ is not enough for a program\r\n";
    struct Case {
        const char* name;
        std::wstring path;
    };
    const Case cases[] = {
        {"an empty file", folder.write(L"empty.exe", {})},
        {"63 bytes", folder.write(L"short.exe", short_dos_header)},
        {"a DOS header alone", folder.write(L"dos.exe", dos_header)},
        {"a text", folder.write(L"text.exe", bytes(text.begin(), text.end()))},
        {"a folder", folder.path()},
        {"a missing file", folder.join(L"missing.exe")},
        {"an empty path", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(qv::GetAppendedDataOffset(c.path.c_str(), true), 0u);
        EXPECT_EQ(qv::GetAppendedDataOffset(c.path.c_str(), false), 0u);
    }
}

// A file cut anywhere before the end of what its headers count is refused; cut inside its
// certificate table it still answers with the certificate left out.
TEST(GetAppendedDataOffset, RefusesEveryCutOfTheImage)
{
    const scratch_folder folder(L"setup_appended");
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        image m = make_image(plus);
        m.debug(1, 0x2040, {{300, m.end}, {40, m.end + 300}});
        m.append(340);
        m.certificate(0x640);
        const DWORD without_certificate = m.end + 340;
        const DWORD debug_at = m.raw_pointer(1) + 0x40;
        for (DWORD length = 0; length < m.data.size(); ++length) {
            // Each byte through the headers and the debug directory, a sample of the rest.
            const bool header = length <= m.headers_end;
            const bool debug = length >= debug_at - 4 && length <= debug_at + 2 * debug_entry + 4;
            const bool edge = length + 2 >= without_certificate && length <= without_certificate + 2;
            if (!header && !debug && !edge && length % 61 != 0) continue;
            SCOPED_TRACE(length);
            const std::wstring path = folder.write(L"cut.exe", bytes(m.data.begin(), m.data.begin() + length));
            EXPECT_EQ(qv::GetAppendedDataOffset(path.c_str(), false), 0u);
            EXPECT_EQ(qv::GetAppendedDataOffset(path.c_str(), true), length < without_certificate ? 0 : without_certificate);
        }
    }
}

// The fields a hostile file would bend: the DOS and file headers, the optional header's
// sizes and two directories, every section header, the debug directory's entries.
std::vector<DWORD> header_fields(const bytes& b)
{
    std::vector<DWORD> fields = {0x3C};
    const DWORD nt = get32(b, 0x3C);
    const DWORD optional = nt + 24;
    const bool plus = get16(b, optional) == 0x20B;
    const DWORD directories = optional + (plus ? 112 : 96);
    const DWORD sections = optional + get16(b, nt + 20);
    for (const DWORD at : {nt, nt + 4, nt + 6, nt + 20, optional, optional + 60, directories - 4})
        fields.push_back(at);
    for (const DWORD index : {4, 6}) {
        fields.push_back(directories + index * 8);
        fields.push_back(directories + index * 8 + 4);
    }
    for (DWORD i = 0; i < get16(b, nt + 6); ++i)
        for (const DWORD field : {0, 4, 8, 12, 16, 20}) fields.push_back(sections + i * 40 + field);
    const DWORD debug_address = get32(b, directories + 6 * 8);
    for (DWORD i = 0; i < get16(b, nt + 6) && debug_address; ++i) {
        const DWORD at = sections + i * 40;
        const DWORD va = get32(b, at + 12);
        if (std::memcmp(&b[at], ".rdata", 6) == 0 && debug_address >= va && debug_address - va < get32(b, at + 16)) {
            const DWORD entries = debug_address - va + get32(b, at + 20);
            for (DWORD e = 0; e < get32(b, directories + 6 * 8 + 4) / debug_entry; ++e)
                for (const DWORD field : {12, 16, 20, 24}) fields.push_back(entries + e * debug_entry + field);
        }
    }
    return fields;
}

// Thousands of bent copies of the fixtures, from one seed. Whatever a copy holds, the answer
// is 0 or an offset inside the file, and leaving the certificate out never makes it larger
// nor turns an accepted file into a refused one.
TEST(GetAppendedDataOffset, MutatedImagesNeverLeadOutsideTheFile)
{
    constexpr unsigned seed = 0x5EED0107;
    constexpr int mutants = 3000;
    constexpr ULONGLONG deadline_ms = 10000;  // a cap against a slow machine, not a measure

    std::vector<bytes> fixtures = {read_back(beside_program(L"launcher_stub.exe"))};
    for (const bool plus : {false, true}) {
        image m = make_image(plus);
        m.debug(1, 0x2040, {{300, m.end}, {0x80, m.raw_pointer(2)}});
        m.append(300);
        // A page-sized file: a read past its end leaves the view's last page and faults.
        m.certificate(0x2000 - static_cast<DWORD>(m.data.size()));
        fixtures.push_back(m.data);
    }
    ASSERT_GT(fixtures[0].size(), 1024u);
    std::vector<std::vector<DWORD>> fields;
    for (const bytes& f : fixtures) fields.push_back(header_fields(f));

    const scratch_folder folder(L"setup_appended");
    std::mt19937 random(seed);
    const auto below = [&](size_t n) { return static_cast<size_t>(std::uniform_int_distribution<size_t>(0, n - 1)(random)); };
    const ULONGLONG start = GetTickCount64();
    int accepted = 0, refused = 0, made = 0;
    for (; made < mutants && GetTickCount64() - start < deadline_ms; ++made) {
        const size_t which = below(fixtures.size());
        bytes b = fixtures[which];
        const DWORD headers = std::min<DWORD>(static_cast<DWORD>(b.size()), 0x400);
        for (size_t bends = 1 + below(3); bends > 0 && !b.empty(); --bends) {
            switch (below(4)) {
            case 0:
                b[below(std::min<size_t>(headers, b.size()))] ^= static_cast<unsigned char>(1u << below(8));
                break;
            case 1: {
                const DWORD at = fields[which][below(fields[which].size())];
                const DWORD size = static_cast<DWORD>(b.size());
                // Values near the file's size aim reads at its last bytes.
                const DWORD values[] = {static_cast<DWORD>(random()), 0, 0xFFFFFFFF, 0x80000000,
                    static_cast<DWORD>(below(0x100)), size - 1 - static_cast<DWORD>(below(8)),
                    size - static_cast<DWORD>(below(64)), size + static_cast<DWORD>(below(64))};
                if (at + 4 <= b.size()) put32(b, at, values[below(std::size(values))]);
                break;
            }
            case 2: {
                // Cut anywhere, at a page's end or within the headers.
                const size_t kind = below(3);
                size_t length = kind == 0 ? below(b.size()) : kind == 1 ? below(b.size() / 0x1000 + 1) * 0x1000 : below(headers);
                b.resize(std::min(length, b.size()));
                break;
            }
            default:
                b[below(b.size())] = static_cast<unsigned char>(random());
                break;
            }
        }
        const std::wstring path = folder.write(L"mutant.exe", b);
        const DWORD set = qv::GetAppendedDataOffset(path.c_str(), true);
        const DWORD clear = qv::GetAppendedDataOffset(path.c_str(), false);
        const auto inside = [&](DWORD offset) { return offset == 0 || (offset >= 64 && offset <= b.size()); };
        ASSERT_TRUE(inside(set) && inside(clear))
            << "mutant " << made << " of seed " << seed << ": " << set << ", " << clear << " for " << b.size() << " bytes";
        if (clear != 0) {
            ASSERT_NE(set, 0u) << "mutant " << made;
            ASSERT_LE(set, clear) << "mutant " << made;
        }
        ++(set != 0 ? accepted : refused);
    }
    RecordProperty("mutants", made);
    // Both answers must have been reached, or the bending missed the parser.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
