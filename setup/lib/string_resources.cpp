#include "string_resources.h"

#include <cstring>
#include <cwchar>

namespace qv {

namespace {

constexpr UINT strings_per_block = 16;
// String ids are 16 bits: a larger one would name a block of another id's.
constexpr UINT largest_string_id = 0xFFFF;

struct language_name {
    const wchar_t* name;
    LANGID id;
};

// A name for a whole language stands for its neutral sublanguage where the table also
// names the country variants (english, chinese, norwegian), so that every id has one name.
constexpr language_name language_names[] = {
    {L"chinese", MAKELANGID(LANG_CHINESE, SUBLANG_NEUTRAL)},
    {L"chinese-simplified", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)},
    {L"chinese-traditional", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)},
    {L"czech", MAKELANGID(LANG_CZECH, SUBLANG_DEFAULT)},
    {L"danish", MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT)},
    {L"dutch", MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH)},
    {L"dutch-belgian", MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH_BELGIAN)},
    {L"english", MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL)},
    {L"english-uk", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK)},
    {L"american", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)},
    {L"australian", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_AUS)},
    {L"canadian", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_CAN)},
    {L"english-nz", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_NZ)},
    {L"finnish", MAKELANGID(LANG_FINNISH, SUBLANG_DEFAULT)},
    {L"french", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)},
    {L"french-belgian", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_BELGIAN)},
    {L"french-swiss", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_SWISS)},
    {L"french-canadian", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN)},
    {L"german", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)},
    {L"german-austrian", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_AUSTRIAN)},
    {L"german-swiss", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_SWISS)},
    {L"greek", MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT)},
    {L"hungarian", MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT)},
    {L"icelandic", MAKELANGID(LANG_ICELANDIC, SUBLANG_DEFAULT)},
    {L"italian", MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN)},
    {L"italian-swiss", MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN_SWISS)},
    {L"japanese", MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)},
    {L"korean", MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT)},
    {L"norwegian", MAKELANGID(LANG_NORWEGIAN, SUBLANG_NEUTRAL)},
    {L"norwegian-bokmal", MAKELANGID(LANG_NORWEGIAN, SUBLANG_NORWEGIAN_BOKMAL)},
    {L"norwegian-nynorsk", MAKELANGID(LANG_NORWEGIAN, SUBLANG_NORWEGIAN_NYNORSK)},
    {L"polish", MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT)},
    {L"portuguese", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE)},
    {L"portuguese-brazilian", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN)},
    {L"russian", MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)},
    {L"slovak", MAKELANGID(LANG_SLOVAK, SUBLANG_DEFAULT)},
    {L"spanish", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH)},
    {L"spanish-mexican", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MEXICAN)},
    {L"spanish-modern", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN)},
    {L"swedish", MAKELANGID(LANG_SWEDISH, SUBLANG_DEFAULT)},
    {L"turkish", MAKELANGID(LANG_TURKISH, SUBLANG_DEFAULT)},
};
static_assert(sizeof(language_names) / sizeof(language_names[0]) == 41);

// Which of the languages wanted the block has, from one walk over its languages. Nothing
// here can throw: it runs inside Windows' enumeration.
struct block_languages {
    const LANGID* wanted;
    size_t count;
    bool present[4];
};

BOOL WINAPI note_block_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) noexcept
{
    auto* block = reinterpret_cast<block_languages*>(param);
    for (size_t i = 0; i < block->count; ++i)
        if (block->wanted[i] == language) block->present[i] = true;
    return TRUE;
}

WORD read_word(const unsigned char* at) noexcept
{
    WORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

}  // namespace

string_language_order StringLanguageOrder(LANGID language, LANGID userLanguage, LANGID systemLanguage) noexcept
{
    const auto actual = [&](LANGID id) -> LANGID {
        if (id == LANG_USER_DEFAULT) return userLanguage;
        if (id == LANG_SYSTEM_DEFAULT) return systemLanguage;
        return id;
    };
    // Swiss German falls back to German, not to the Austrian German that 0x807 | 0x400 names.
    const LANGID wanted[] = {
        actual(language),
        actual(MAKELANGID(PRIMARYLANGID(language), SUBLANG_DEFAULT)),
        actual(LANG_USER_DEFAULT),
        MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
    };
    string_language_order order = {{}, 0};
    for (const LANGID id : wanted) {
        bool seen = false;
        for (size_t i = 0; i < order.count; ++i) seen = seen || order.ids[i] == id;
        if (!seen) order.ids[order.count++] = id;
    }
    return order;
}

bool FindStringResource(zString& text, UINT id, LANGID language, HMODULE module)
{
    if (id > largest_string_id) return false;
    const wchar_t* block = MAKEINTRESOURCEW(id / strings_per_block + 1);
    const string_language_order order = StringLanguageOrder(language, GetUserDefaultLangID(), GetSystemDefaultLangID());
    // FindResourceExW answers with a block of some other language when the asked one is
    // missing, which would put that language ahead of the rest of the order.
    block_languages present = {order.ids, order.count, {}};
    EnumResourceLanguagesW(module, RT_STRING, block, note_block_language, reinterpret_cast<LONG_PTR>(&present));
    for (size_t i = 0; i < order.count; ++i) {
        if (!present.present[i]) continue;
        const HRSRC resource = FindResourceExW(module, RT_STRING, block, order.ids[i]);
        if (resource && LoadStringFromBlock(text, resource, id, module)) return true;
    }
    return false;
}

bool LoadStringFromBlock(zString& text, HRSRC resource, UINT id, HMODULE module)
{
    if (!resource) return false;
    const HGLOBAL loaded = LoadResource(module, resource);
    const auto* data = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    if (!data) return false;
    // Every step is measured against the block's size: a short or damaged block must not
    // lead the walk into whatever follows it in the image.
    const size_t size = SizeofResource(module, resource);
    size_t at = 0;
    for (UINT slot = 0; slot < id % strings_per_block; ++slot) {
        if (size - at < sizeof(WORD)) return false;
        const size_t bytes = sizeof(WORD) + size_t{read_word(data + at)} * sizeof(wchar_t);
        if (size - at < bytes) return false;
        at += bytes;
    }
    if (size - at < sizeof(WORD)) return false;
    const size_t length = read_word(data + at);
    at += sizeof(WORD);
    if (length == 0 || (size - at) / sizeof(wchar_t) < length) return false;
    text.assign(reinterpret_cast<const wchar_t*>(data + at), length);
    return true;
}

LANGID LanguageNameToId(const wchar_t* name)
{
    if (!name) return 0;
    for (const language_name& row : language_names)
        if (_wcsicmp(row.name, name) == 0) return row.id;
    return 0;
}

zString LanguageIdToName(LANGID id)
{
    for (const language_name& row : language_names)
        if (row.id == id) return zString(row.name);
    return zString();
}

bool SetDlgItemTextFromResource(HWND window, int item, UINT id, LANGID language, HMODULE module,
                                DWORD_PTR first, DWORD_PTR second, DWORD_PTR third)
{
    zString found;
    if (!FindStringResource(found, id, language, module)) return false;
    zString text;
    if (!first && !second && !third)
        text = found;
    else if (first && (second || !third))
        // The unset ones go too, as 0: a format that asks for one more argument than it was
        // given reads a null, not whatever lies beyond the arguments.
        text.format(found.c_str(), first, second, third);
    return SetDlgItemTextW(window, item, text.c_str()) != FALSE;
}

}  // namespace qv
