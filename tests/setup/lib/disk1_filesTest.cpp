#include "disk1_files.h"

#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using names = std::vector<std::wstring>;

// One entry of the package as the launcher finds it behind its image.
struct entry {
    entry(std::wstring stored_name, std::wstring target_path, bytes content, std::optional<std::wstring> size = {},
        std::wstring third_text = L"third")
        : stored(std::move(stored_name)), target(std::move(target_path)), data(std::move(content)),
          size_text(std::move(size)), third(std::move(third_text))
    {
    }
    std::wstring stored;
    std::wstring target;
    bytes data;
    std::optional<std::wstring> size_text;  // the data's length when not given
    std::wstring third;
};

void put_text(bytes& out, const std::wstring& text)
{
    for (const wchar_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

bytes package(const std::vector<entry>& entries, std::optional<uint32_t> count = {})
{
    const uint32_t n = count.value_or(static_cast<uint32_t>(entries.size()));
    bytes out = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n >> 16),
        static_cast<unsigned char>(n >> 24)};
    for (const entry& e : entries) {
        put_text(out, e.stored);
        put_text(out, e.target);
        put_text(out, e.third);
        put_text(out, e.size_text.value_or(std::to_wstring(e.data.size())));
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    return out;
}

bytes pattern(size_t size, unsigned seed)
{
    bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return out;
}

bytes text_bytes(const char* text) { return bytes(text, text + std::strlen(text)); }

const bytes& launcher_stub()
{
    static const bytes stub = read_back(beside_program(L"launcher_stub.exe"));
    return stub;
}

// The stub with `appended` behind it, as `name` in the folder.
std::wstring launcher(const scratch_folder& folder, const bytes& appended, const wchar_t* name = L"setup.exe")
{
    bytes file = launcher_stub();
    file.insert(file.end(), appended.begin(), appended.end());
    return folder.write(name, file);
}

// Every file and folder below `folder`, relative, folders with their closing "\", sorted.
names tree(const std::wstring& folder, const std::wstring& prefix = L"")
{
    names out;
    WIN32_FIND_DATAW found;
    const qv::find_handle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return out;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(prefix + name + L"\\");
            const names below = tree(folder + L"\\" + name, prefix + name + L"\\");
            out.insert(out.end(), below.begin(), below.end());
        } else {
            out.push_back(prefix + name);
        }
    } while (FindNextFileW(find.get(), &found));
    std::sort(out.begin(), out.end());
    return out;
}

void remove_tree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    std::vector<std::wstring> files, folders;
    {
        const qv::find_handle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
        if (find) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? folders : files).push_back(folder + L"\\" + name);
            } while (FindNextFileW(find.get(), &found));
        }
    }
    for (const std::wstring& f : files) {
        SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(f.c_str());
    }
    for (const std::wstring& f : folders) remove_tree(f);
    RemoveDirectoryW(folder.c_str());
}

names as_names(const std::vector<zString>& list)
{
    names out;
    for (const zString& s : list) out.push_back(s.str());
    return out;
}

struct extraction {
    int result;
    names files;
    names folders;
};

extraction extract(const std::wstring& launcher_path, const std::wstring& target, bool extract_all = false)
{
    std::vector<zString> files, folders;
    const int result = qv::CopyDisk1Files(launcher_path.c_str(), target.c_str(), &files, &folders, extract_all);
    return {result, as_names(files), as_names(folders)};
}

// The folder the cases unpack into, one level below the case's scratch folder so that a
// path that climbs out of it still lands where the case looks.
struct workplace {
    scratch_folder scratch{L"setup_disk1"};
    std::wstring target = scratch.join(L"Disk1");
    workplace() { CreateDirectoryW(target.c_str(), nullptr); }
    std::wstring in_target(const std::wstring& relative) const { return target + L"\\" + relative; }
};

TEST(CopyDisk1Files, AnEmptyPackageListsTheTargetFolderTwice)
{
    const workplace w;
    const extraction got = extract(launcher(w.scratch, package({})), w.target);
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.files, (names{w.target, w.target}));
    EXPECT_TRUE(got.folders.empty());
    EXPECT_EQ(tree(w.scratch.path()), (names{L"Disk1\\", L"setup.exe"}));
}

TEST(CopyDisk1Files, CopiesEachEntryWholeAcrossTheBlockSize)
{
    const size_t sizes[] = {0, 1, 16383, 16384, 16385, 32768, 32769, 70000};
    std::vector<entry> entries;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        const std::wstring name = L"f" + std::to_wstring(sizes[i]) + L".bin";
        entries.push_back({name, name, pattern(sizes[i], static_cast<unsigned>(i))});
    }
    entries.push_back({L"last.txt", L"last.txt", text_bytes("after the big ones")});
    const workplace w;
    const extraction got = extract(launcher(w.scratch, package(entries)), w.target);
    ASSERT_EQ(got.result, 0);
    names expected_files = {w.target};
    for (const entry& e : entries) {
        SCOPED_TRACE(e.stored);
        EXPECT_EQ(read_back(w.in_target(e.stored)), e.data);
        expected_files.push_back(w.in_target(e.stored));
    }
    expected_files.push_back(w.target);
    EXPECT_EQ(got.files, expected_files);
    EXPECT_TRUE(got.folders.empty());
}

TEST(CopyDisk1Files, DefersTheLaterCabinetsNearTheTargetUnlessAllIsAsked)
{
    struct Case {
        const wchar_t* stored;
        const wchar_t* target;
        bool deferred;  // without the extract-all flag
    };
    const Case cases[] = {
        {L"DATA2.CAB", L"DATA2.CAB", true},
        {L"data2.cab", L"Data2.cab", true},
        {L"data3.cab", L"sub\\data3.cab", true},
        {L"data4.cab", L"sub/data4.cab", true},
        {L"database.cab", L"database.cab", true},  // the name only has to start with "data"
        {L"data1.cab", L"data1.cab", false},
        {L"DATA1.CAB", L"sub\\DATA1.CAB", false},
        {L"data2.cab", L"one\\two\\data2.cab", false},
        {L"data2.cab", L"one/two/data2.cab", false},
        {L"mydata2.cab", L"mydata2.cab", false},
        {L"data2.cabx", L"data2.cabx", false},
        {L"dat.cab", L"dat.cab", false},
        {L"data5.txt", L"data5.txt", false},
    };
    for (const bool extract_all : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << std::string(c.target, c.target + wcslen(c.target)) << " all " << extract_all);
            const workplace w;
            const bytes content = pattern(100, 3);
            const std::vector<entry> entries = {
                {c.stored, c.target, content}, {L"after.txt", L"after.txt", text_bytes("read behind it")}};
            const extraction got = extract(launcher(w.scratch, package(entries)), w.target, extract_all);
            ASSERT_EQ(got.result, 0);
            std::wstring target_path = c.target;
            std::replace(target_path.begin(), target_path.end(), L'/', L'\\');
            const std::wstring folder = target_path.substr(0, target_path.find_last_of(L'\\') + 1);
            const std::wstring written = w.in_target(folder + c.stored);
            const bool skipped = c.deferred && !extract_all;
            EXPECT_EQ(exists(written), !skipped);
            if (!skipped) {
                EXPECT_EQ(read_back(written), content);
            }
            names expected_files = {w.target};
            if (!skipped) expected_files.push_back(written);
            expected_files.push_back(w.in_target(L"after.txt"));
            expected_files.push_back(w.target);
            EXPECT_EQ(got.files, expected_files);
            EXPECT_EQ(read_back(w.in_target(L"after.txt")), text_bytes("read behind it"));
            // The folder is made and listed, the cabinet skipped or not.
            EXPECT_EQ(got.folders, folder.empty() ? names{} : names{w.in_target(folder)});
            if (!folder.empty()) {
                EXPECT_TRUE(exists(w.in_target(folder)));
            }
        }
    }
}

TEST(CopyDisk1Files, ExpandsTheCompressedReadmeOfTheBuiltPackage)
{
    const bytes readme = read_back(L"fixtures\\disk1_media\\docs\\readme.txt");
    ASSERT_FALSE(readme.empty());
    const workplace w;
    const extraction got = extract(beside_program(L"disk1_media.exe"), w.target);
    ASSERT_EQ(got.result, 0);
    EXPECT_EQ(read_back(w.in_target(L"docs\\readme.txt")), readme);
    EXPECT_EQ(read_back(w.in_target(L"Data1.cab")), read_back(L"fixtures\\disk1_media\\Data1.cab"));
    EXPECT_EQ(read_back(w.in_target(L"setup.ini")), read_back(L"fixtures\\disk1_media\\setup.ini"));
    EXPECT_EQ(got.files, (names{w.target, w.in_target(L"Data1.cab"), w.in_target(L"setup.ini"),
                             w.in_target(L"docs\\readme.txt"), w.target}));
    EXPECT_EQ(got.folders, (names{w.in_target(L"docs\\"), w.in_target(L"program\\")}));
    EXPECT_EQ(tree(w.target), (names{L"Data1.cab", L"docs\\", L"docs\\readme.txt", L"program\\", L"setup.ini"}));

    // Everything asked for, no lists: the deferred cabinet too.
    const workplace all;
    EXPECT_EQ(qv::CopyDisk1Files(beside_program(L"disk1_media.exe").c_str(), all.target.c_str(), nullptr, nullptr, true), 0);
    EXPECT_EQ(read_back(all.in_target(L"program\\data2.cab")), read_back(L"fixtures\\disk1_media\\program\\data2.cab"));
    EXPECT_EQ(read_back(all.in_target(L"docs\\readme.txt")), readme);
}

TEST(CopyDisk1Files, AFailedExpansionKeepsTheCompressedFileAndNoTarget)
{
    // An SZDD header: magic, method, the missing character, the expanded length.
    const auto szdd = [](char method, uint32_t length, const bytes& body) {
        bytes out = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, static_cast<unsigned char>(method), 't',
            static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
            static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    struct Case {
        const char* name;
        bytes data;
    };
    const Case cases[] = {
        {"nothing to expand", szdd('A', 0, {})},
        {"an unknown method", szdd('B', 5, {0xFF, 'h', 'e', 'l', 'l', 'o'})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const workplace w;
        const extraction got = extract(launcher(w.scratch, package({{L"broken.tx_", L"docs\\broken.txt", c.data}})), w.target);
        EXPECT_EQ(got.result, 0);
        EXPECT_FALSE(exists(w.in_target(L"docs\\broken.txt")));
        EXPECT_EQ(read_back(w.in_target(L"docs\\broken.tx_")), c.data);
        EXPECT_EQ(got.files, (names{w.target, w.in_target(L"docs\\broken.tx_"), w.target}));
        EXPECT_EQ(got.folders, names{w.in_target(L"docs\\")});
    }
}

TEST(CopyDisk1Files, TakesTheSlashAsTheSeparatorAndListsOnlyTheEntrysFolder)
{
    const workplace w;
    const std::vector<entry> entries = {
        {L"a.txt", L"one/two/a.txt", text_bytes("a")},
        {L"b.txt", L"one/two\\b.txt", text_bytes("b")},
        {L"c.txt", L"one\\c.txt", text_bytes("c")},
    };
    const extraction got = extract(launcher(w.scratch, package(entries)), w.target);
    ASSERT_EQ(got.result, 0);
    EXPECT_EQ(read_back(w.in_target(L"one\\two\\a.txt")), text_bytes("a"));
    EXPECT_EQ(read_back(w.in_target(L"one\\two\\b.txt")), text_bytes("b"));
    EXPECT_EQ(read_back(w.in_target(L"one\\c.txt")), text_bytes("c"));
    EXPECT_EQ(got.files, (names{w.target, w.in_target(L"one\\two\\a.txt"), w.in_target(L"one\\two\\b.txt"),
                             w.in_target(L"one\\c.txt"), w.target}));
    // one\ was made on the way to one\two\, and so was never missing for the third entry.
    EXPECT_EQ(got.folders, names{w.in_target(L"one\\two\\")});
}

TEST(CopyDisk1Files, ReplacesAnExistingFile)
{
    const workplace w;
    w.scratch.write(L"Disk1\\readme.txt", pattern(5000, 1));
    const extraction got = extract(launcher(w.scratch, package({{L"readme.txt", L"readme.txt", text_bytes("new")}})), w.target);
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(read_back(w.in_target(L"readme.txt")), text_bytes("new"));
}

TEST(CopyDisk1Files, ALauncherThatCannotBeReadLeavesTheListsAlone)
{
    const workplace w;
    struct Case {
        const char* name;
        std::wstring path;
    };
    const Case cases[] = {
        {"missing", w.scratch.join(L"missing.exe")},
        {"missing folder", w.scratch.join(L"nowhere\\setup.exe")},
        // No PE image: the offset is 0 and the package would be read from the first byte.
        {"no image", w.scratch.write(L"text.exe", package({{L"a.txt", L"a.txt", text_bytes("a")}}))},
        {"a folder", w.scratch.path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<zString> files = {L"kept"}, folders = {L"kept too"};
        EXPECT_EQ(qv::CopyDisk1Files(c.path.c_str(), w.target.c_str(), &files, &folders, false), -1);
        EXPECT_EQ(as_names(files), names{L"kept"});
        EXPECT_EQ(as_names(folders), names{L"kept too"});
    }
    EXPECT_TRUE(tree(w.target).empty());
}

TEST(CopyDisk1Files, ALauncherThatOpensButIsNotFoundGivesMinus805)
{
    // The null device opens for reading, but no directory holds it.
    const workplace w;
    std::vector<zString> files, folders;
    EXPECT_EQ(qv::CopyDisk1Files(L"\\\\.\\NUL", w.target.c_str(), &files, &folders, false), -805);
    EXPECT_TRUE(files.empty());
    EXPECT_TRUE(folders.empty());
}

TEST(CopyDisk1Files, AFileThatCannotBeCreatedGivesMinus800AndKeepsWhatWasMade)
{
    const workplace w;
    CreateDirectoryW(w.in_target(L"taken").c_str(), nullptr);  // a folder where the file should go
    const std::vector<entry> entries = {
        {L"first.txt", L"first.txt", text_bytes("1")}, {L"taken", L"taken", text_bytes("2")}, {L"third.txt", L"third.txt", text_bytes("3")}};
    const extraction got = extract(launcher(w.scratch, package(entries)), w.target);
    EXPECT_EQ(got.result, -800);
    EXPECT_EQ(got.files, (names{w.target, w.in_target(L"first.txt")}));
    EXPECT_EQ(tree(w.target), (names{L"first.txt", L"taken\\"}));
}

TEST(CopyDisk1Files, RefusesEntriesThatLeaveTheTargetFolder)
{
    // Absolute targets name a file of their own that the case checks is not made.
    const std::wstring stray = L"disk1_stray_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring temp_stray = std::wstring(temp) + stray;
    struct Case {
        std::wstring stored;
        std::wstring target;
    };
    const Case cases[] = {
        {L"evil", L"..\\evil"},
        {L"evil", L"../evil"},
        {L"evil", L"..\\..\\evil"},
        {L"evil", L"a\\..\\..\\evil"},
        {L"evil", L"a/../../evil"},
        {L"evil", L"a\\..\\evil"},  // stays inside, but ".." has no place in a package
        {L"evil", L"...\\evil"},
        {L"evil", L".. \\evil"},
        {L"evil", L".\\evil"},
        {stray, L"C:\\" + stray},
        {stray, L"C:" + stray},
        {stray, L"C:/" + stray},
        {stray, temp_stray},
        {L"evil", L"\\evil"},
        {L"evil", L"/evil"},
        {L"evil", L"\\\\srv\\share\\evil"},
        {L"evil", L"//srv/share/evil"},
        {L"evil", L"\\\\?\\C:\\evil"},
        {L"evil", L"evil:stream"},
        {L"NUL", L"NUL"},
        {L"nul.txt", L"docs\\nul.txt"},
        {L"evil", L"docs\\nul\\evil"},
        {L"evil", L""},
        {L"evil", L"docs\\"},
        {L"..", L"docs\\evil"},
        {L"..\\evil", L"evil"},
        {L"../evil", L"evil"},
        {L"sub\\evil", L"evil"},
        {L"C:evil", L"evil"},
        {L".", L"evil"},
        {L"", L"evil"},
        {L"con", L"docs\\con"},
        {L"conout$", L"conout$"},
        {L"ev*l", L"docs\\ev*l"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << c.stored.size() << " chars, target "
                                        << std::string(c.target.begin(), c.target.end()));
        const workplace w;
        const std::vector<entry> entries = {
            {L"first.txt", L"first.txt", text_bytes("kept")}, {c.stored, c.target, text_bytes("evil")},
            {L"after.txt", L"after.txt", text_bytes("never")}};
        const extraction got = extract(launcher(w.scratch, package(entries)), w.target);
        EXPECT_EQ(got.result, -800);
        EXPECT_EQ(got.files, (names{w.target, w.in_target(L"first.txt")}));
        EXPECT_TRUE(got.folders.empty());
        EXPECT_EQ(tree(w.scratch.path()), (names{L"Disk1\\", L"Disk1\\first.txt", L"setup.exe"}));
        EXPECT_FALSE(exists(L"C:\\" + stray));
        EXPECT_FALSE(exists(temp_stray));
    }
}

TEST(CopyDisk1Files, StopsWithMinus806WhereThePackageEndsEarly)
{
    const entry first = {L"first.txt", L"first.txt", text_bytes("kept")};
    const entry cut = {L"cut.bin", L"cut.bin", pattern(20000, 5)};
    const bytes whole = package({first, cut});
    const size_t first_end = package({first}).size();
    const size_t name_start = first_end;
    const size_t data_start = whole.size() - cut.data.size();
    struct Case {
        const char* name;
        size_t length;  // of the package; the first entry is always whole
    };
    const Case cases[] = {
        {"before the stored name", first_end},
        {"inside the stored name", name_start + 5},
        {"after the stored name", name_start + 2 * 8},
        {"inside the size text", data_start - 3},
        {"before the data", data_start},
        {"inside the first block", data_start + 100},
        {"at the block's end", data_start + 16384},
        {"one byte short", whole.size() - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const workplace w;
        const extraction got = extract(launcher(w.scratch, bytes(whole.begin(), whole.begin() + c.length)), w.target);
        EXPECT_EQ(got.result, -806);
        EXPECT_EQ(got.files, (names{w.target, w.in_target(L"first.txt")}));
        EXPECT_EQ(tree(w.target), names{L"first.txt"}) << "nothing of the entry that runs past the end";
    }

    // A count alone, and no count at all.
    for (const bytes& p : {bytes{1, 0, 0, 0}, bytes{1, 0}, bytes{}}) {
        const workplace w;
        const extraction got = extract(launcher(w.scratch, p), w.target);
        EXPECT_EQ(got.result, -806);
        EXPECT_TRUE(got.files.empty());
        EXPECT_TRUE(tree(w.target).empty());
    }
}

TEST(CopyDisk1Files, RefusesTextsWithoutTheirZeroInsideTheirBlock)
{
    struct Case {
        const char* name;
        entry e;
        int result;
    };
    const Case cases[] = {
        {"stored name of 259 characters", {std::wstring(259, L's'), L"ok.txt", text_bytes("x")}, -800},  // fits, too long to create
        {"stored name of 260 characters", {std::wstring(260, L's'), L"ok.txt", text_bytes("x")}, -806},
        {"target of 260 characters", {L"ok.txt", std::wstring(260, L't'), text_bytes("x")}, -806},
        {"third text of 260 characters", {L"ok.txt", L"ok.txt", text_bytes("x"), {}, std::wstring(260, L'3')}, -806},
        {"size of 14 digits", {L"ok.txt", L"ok.txt", text_bytes("x"), L"00000000000001"}, 0},
        {"size of 15 digits", {L"ok.txt", L"ok.txt", text_bytes("x"), L"000000000000001"}, -806},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const workplace w;
        const extraction got = extract(launcher(w.scratch, package({c.e})), w.target);
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(tree(w.target), c.result == 0 ? names{L"ok.txt"} : names{});
    }
}

TEST(CopyDisk1Files, RefusesSizesThatAreNoNumberOrRunPastTheEnd)
{
    const wchar_t* sizes[] = {L"", L"12x", L"x12", L"-1", L"+4", L" 4", L"4 ", L"0x4", L"1e2", L"4294967295",
        L"4294967300", L"99999999999999"};
    for (const wchar_t* size : sizes) {
        SCOPED_TRACE(testing::Message() << std::string(size, size + wcslen(size)));
        const workplace w;
        const std::vector<entry> entries = {{L"first.txt", L"first.txt", text_bytes("kept")},
            {L"bad.bin", L"sub\\bad.bin", pattern(20000, 2), size}, {L"after.txt", L"after.txt", text_bytes("x")}};
        const extraction got = extract(launcher(w.scratch, package(entries)), w.target);
        EXPECT_EQ(got.result, -806);
        EXPECT_EQ(got.files, (names{w.target, w.in_target(L"first.txt")}));
        EXPECT_TRUE(got.folders.empty());
        EXPECT_EQ(tree(w.target), names{L"first.txt"});
    }
}

TEST(CopyDisk1Files, RefusesACountThePackageCannotHold)
{
    const std::vector<entry> entries = {{L"first.txt", L"first.txt", text_bytes("kept")}};
    struct Case {
        uint32_t count;
        bool first_made;
    };
    const Case cases[] = {
        {0xFFFFFFFF, false},  // more than the bytes behind it could hold: nothing at all
        {0x80000000, false},
        {2, true},  // the second entry is missing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        const workplace w;
        const extraction got = extract(launcher(w.scratch, package(entries, c.count)), w.target);
        EXPECT_EQ(got.result, -806);
        EXPECT_EQ(got.files, c.first_made ? (names{w.target, w.in_target(L"first.txt")}) : names{});
        EXPECT_EQ(tree(w.target), c.first_made ? names{L"first.txt"} : names{});
    }
}

// The names in `folder` itself, without descending.
names shallow(const std::wstring& folder)
{
    names out;
    WIN32_FIND_DATAW found;
    const qv::find_handle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return out;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) out.push_back(found.cFileName);
    } while (FindNextFileW(find.get(), &found));
    std::sort(out.begin(), out.end());
    return out;
}

// Mutations of the built package, each unpacked into a fresh folder of its own: no crash,
// no hang, an answer of the table, nothing outside that folder and every listed path in it.
TEST(CopyDisk1Files, MutatedPackagesStayInsideTheTargetFolder)
{
    const bytes valid = read_back(beside_program(L"disk1_media.exe"));
    const size_t start = launcher_stub().size();
    ASSERT_GT(valid.size(), start + 4);
    const scratch_folder scratch(L"setup_disk1_mutated");
    const std::wstring launcher_path = scratch.join(L"setup.exe");
    const std::wstring nest = scratch.join(L"a");
    const std::wstring target = nest + L"\\b\\Disk1";

    std::mt19937 random(20240614);
    const auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    const wchar_t specials[] = {L'\\', L'/', L'.', L':', L'\0', L'0', L'9', L'x', L' ', L'*'};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int runs = 0;
    for (; runs < 3000 && std::chrono::steady_clock::now() < deadline; ++runs) {
        bytes p(valid.begin() + static_cast<std::ptrdiff_t>(start), valid.end());
        const int changes = 1 + static_cast<int>(below(3));
        for (int i = 0; i < changes && p.size() >= 4; ++i) {
            switch (below(6)) {
            case 0:  // a flipped bit
                p[below(p.size())] ^= static_cast<unsigned char>(1u << below(8));
                break;
            case 1: {  // a character of the texts made special
                const size_t at = below(p.size() / 2) * 2;
                const wchar_t c = specials[below(std::size(specials))];
                p[at] = static_cast<unsigned char>(c & 0xFF);
                p[at + 1] = static_cast<unsigned char>(c >> 8);
                break;
            }
            case 2: {  // a run of ".." and separators
                const char* climb = "..\\..\\..\\";
                const size_t at = below(p.size() / 2) * 2;
                for (size_t k = 0; climb[k] && at + 2 * k + 1 < p.size(); ++k) {
                    p[at + 2 * k] = static_cast<unsigned char>(climb[k]);
                    p[at + 2 * k + 1] = 0;
                }
                break;
            }
            case 3:  // a count of its own
                p[below(4)] = static_cast<unsigned char>(below(256));
                break;
            case 4:  // cut short
                p.resize(below(p.size()));
                break;
            default: {  // bytes dropped or doubled, shifting everything behind them
                const size_t at = below(p.size());
                const size_t n = 1 + below(4);
                if (below(2)) {
                    p.erase(p.begin() + static_cast<std::ptrdiff_t>(at),
                        p.begin() + static_cast<std::ptrdiff_t>(std::min(p.size(), at + n)));
                } else {
                    p.insert(p.begin() + static_cast<std::ptrdiff_t>(at), n, p[at]);
                }
                break;
            }
            }
        }
        launcher(scratch, p);
        CreateDirectoryW(nest.c_str(), nullptr);
        CreateDirectoryW((nest + L"\\b").c_str(), nullptr);
        CreateDirectoryW(target.c_str(), nullptr);
        const extraction got = extract(launcher_path, target, below(2) == 0);
        SCOPED_TRACE(testing::Message() << "run " << runs << " answered " << got.result);
        ASSERT_TRUE(got.result == 0 || got.result == -800 || got.result == -806);
        for (const std::wstring& listed : got.files)
            ASSERT_EQ(listed.compare(0, target.size(), target), 0) << std::string(listed.begin(), listed.end());
        for (const std::wstring& listed : got.folders)
            ASSERT_EQ(listed.compare(0, target.size() + 1, target + L"\\"), 0) << std::string(listed.begin(), listed.end());
        // Whatever lands outside the target hangs off one of the three levels above it.
        ASSERT_EQ(shallow(scratch.path()), (names{L"a", L"setup.exe"}));
        ASSERT_EQ(shallow(nest), names{L"b"});
        ASSERT_EQ(shallow(nest + L"\\b"), names{L"Disk1"});
        remove_tree(target);
    }
    EXPECT_GT(runs, 100);
    EXPECT_EQ(tree(scratch.path()), (names{L"a\\", L"a\\b\\", L"setup.exe"}));
    std::printf("%d mutated packages\n", runs);
}

}  // namespace
