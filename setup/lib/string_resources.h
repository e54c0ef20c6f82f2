// One string of a module's string table in a chosen language, with the fallbacks to the
// primary language, the user's language and the neutral table; and the language names of
// the C run-time's locale functions.
#pragma once

#include "zString.h"

#include <cstddef>

namespace qv {

// The languages a string is looked for in, in order, without repeats: the asked language,
// its primary language with the default sublanguage, the user's language, neutral.
// LANG_USER_DEFAULT and LANG_SYSTEM_DEFAULT stand for the languages given.
struct string_language_order {
    LANGID ids[4];
    size_t count;
};
string_language_order StringLanguageOrder(LANGID language, LANGID userLanguage, LANGID systemLanguage) noexcept;

// The string `id` of `module` (null: the program) in `language` or its fallbacks; the text is
// set only when the answer is true. A block in a language the module does not have is
// never taken for it, whatever FindResourceExW would offer in its place.
bool FindStringResource(zString& text, UINT id, LANGID language, HMODULE module);

// The string `id` from the block `resource`; false when its slot is empty or the block
// ends before the string does.
bool LoadStringFromBlock(zString& text, HRSRC resource, UINT id, HMODULE module);

// A name of the table ("german-swiss"), without regard to case, to its language id; 0 when
// the name is not in the table.
LANGID LanguageNameToId(const wchar_t* name);
// The table's name of a language id; empty when the id is not in the table.
zString LanguageIdToName(LANGID id);

// The string `id` as the text of the item, or as the format for the arguments that are set:
// `first`; `first` and `second`; or all three. A later argument set while an earlier one is
// 0 gives an empty text. False when the string is not found or the text cannot be set.
bool SetDlgItemTextFromResource(HWND window, int item, UINT id, LANGID language, HMODULE module,
                                DWORD_PTR first = 0, DWORD_PTR second = 0, DWORD_PTR third = 0);

}  // namespace qv
