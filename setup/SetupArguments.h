// The launcher's command line as arguments and options. Pure text work: nothing here asks
// Windows anything, so every rule can be shown by a table.
#pragma once

#include "zString.h"

#include <cstddef>
#include <string_view>
#include <vector>

// The command line cut at blanks; a double quote toggles a quoted stretch in which blanks do
// not cut, and the quotes stay in the argument. Empty pieces are dropped.
std::vector<zString> SplitSetupArguments(std::wstring_view commandLine);

// A language id: hexadecimal after a leading "0x", else decimal, the whole text a number
// between 1 and 0xFFFF. False leaves `id` alone.
bool ParseLanguageId(std::wstring_view text, LANGID& id);

// Language ids separated by commas, semicolons or blanks; pieces that are no id are skipped,
// repeats dropped, the order kept.
std::vector<LANGID> ParseLanguageList(std::wstring_view text);

// The arguments of one command line and which of them an option lookup took. An option is an
// argument beginning with "-" or "/"; its name is compared without regard to case with the
// start of the argument after that character, and the rest is its value.
class CSetupOptionList {
public:
    enum : unsigned {
        option_exact = 1,    // nothing may follow the name
        option_consume = 2,  // the arguments found leave the remainder
    };
    static constexpr size_t npos = static_cast<size_t>(-1);
    // Says whether a value (quotes removed) belongs to the option at all.
    using value_test = bool (*)(std::wstring_view value);

    explicit CSetupOptionList(std::wstring_view commandLine);

    // The index of the last argument that is the option `name`, or npos. With option_consume
    // every such argument is taken, so a repeated option never reaches the remainder; the last
    // one's value, surrounding quotes removed, goes to `value`.
    size_t Find(const wchar_t* name, unsigned flags, zString* value = nullptr, value_test test = nullptr);
    bool Has(const wchar_t* name, unsigned flags) { return Find(name, flags) != npos; }

    // The arguments no lookup took, joined by single blanks, trimmed of line feeds, tabs and blanks.
    zString Remainder() const;

    size_t Count() const { return arguments_.size(); }
    const zString& Argument(size_t index) const { return arguments_[index]; }
    bool IsConsumed(size_t index) const { return consumed_[index]; }

private:
    std::vector<zString> arguments_;
    std::vector<bool> consumed_;
};
