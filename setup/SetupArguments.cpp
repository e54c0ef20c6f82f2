#include "SetupArguments.h"

#include <algorithm>

std::vector<zString> SplitSetupArguments(std::wstring_view commandLine)
{
    std::vector<zString> out;
    std::wstring piece;
    bool quoted = false;
    for (const wchar_t c : commandLine) {
        if (c == L'"') quoted = !quoted;
        if (c == L' ' && !quoted) {
            if (!piece.empty()) out.emplace_back(piece);
            piece.clear();
            continue;
        }
        piece += c;
    }
    if (!piece.empty()) out.emplace_back(piece);
    return out;
}

bool ParseLanguageId(std::wstring_view text, LANGID& id)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) return false;
    unsigned long value = 0;
    for (const wchar_t c : text) {
        unsigned digit;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        else return false;
        value = value * base + digit;
    }
    if (value == 0 || value > 0xFFFF) return false;
    id = static_cast<LANGID>(value);
    return true;
}

std::vector<LANGID> ParseLanguageList(std::wstring_view text)
{
    std::vector<LANGID> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(L",; \t", start);
        if (end == std::wstring_view::npos) end = text.size();
        LANGID id = 0;
        if (ParseLanguageId(text.substr(start, end - start), id) && std::find(out.begin(), out.end(), id) == out.end())
            out.push_back(id);
        start = end + 1;
    }
    return out;
}

CSetupOptionList::CSetupOptionList(std::wstring_view commandLine)
    : arguments_(SplitSetupArguments(commandLine)), consumed_(arguments_.size(), false)
{
}

size_t CSetupOptionList::Find(const wchar_t* name, unsigned flags, zString* value, value_test test)
{
    const std::wstring_view wanted(name);
    size_t found = npos;
    zString found_value;
    for (size_t i = 0; i < arguments_.size(); ++i) {
        const std::wstring_view argument = arguments_[i].view();
        if (argument.size() < 1 + wanted.size() || (argument[0] != L'-' && argument[0] != L'/')) continue;
        if (!qv::text::starts_with_nocase(argument.substr(1), wanted)) continue;
        const std::wstring_view rest = argument.substr(1 + wanted.size());
        if ((flags & option_exact) && !rest.empty()) continue;
        const zString unquoted = zString(rest).unquoted();
        if (test && !test(unquoted.view())) continue;
        found = i;
        found_value = unquoted;
        if (flags & option_consume) consumed_[i] = true;
    }
    if (found != npos && value) *value = found_value;
    return found;
}

zString CSetupOptionList::Remainder() const
{
    zString out;
    for (size_t i = 0; i < arguments_.size(); ++i) {
        if (consumed_[i]) continue;
        if (!out.empty()) out += L' ';
        out += arguments_[i];
    }
    out.trim(L"\n\t ");
    return out;
}
