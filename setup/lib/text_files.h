// Whole-file text work of setup's library: reading and writing a file's text, converting a
// file between UTF-16 and a code page, telling UTF-16 text, and replacing quoted values on
// the lines that hold a key. Failures are results and LastFileOpError; nothing here raises.
#pragma once

#include "zString.h"

#include <windows.h>

#include <vector>

namespace qv {

// The whole file through qv::file::read_all, without the two closing zeros; 0 or the Windows
// error of the open or the read.
DWORD ReadFileBytes(const zString& path, std::vector<unsigned char>& bytes);

// Creates the folder and the file (replacing one of that name) and writes `text` in
// `code_page` (-1: the file's default, the ANSI code page), after the byte-order mark when
// `bom` asks for one and the code page has one (1200, 1201, 65001). 0 or the Windows error.
DWORD WriteTextFile(const zString& path, const zString& text, UINT code_page, bool bom);

// UTF-16LE (its leading mark skipped) to `code_page`; the target gets exactly the converted
// bytes. An empty source gives an empty target.
bool ConvertUnicodeFileToMultiByte(const zString& source, const zString& target, UINT code_page);
// `code_page` to UTF-16LE, the target starting with the mark 0xFEFF.
bool ConvertMultiByteFileToUnicode(const zString& source, const zString& target, UINT code_page);

// IsTextUnicode's answer (flags in/out as its own; null asks every test), or a leading 0xFEFF.
bool TextLooksUnicode(const void* bytes, DWORD size, int* flags);
bool FileLooksUnicode(const zString& path);

// The decision of ReplaceQuotedValuesInFile on a text: each key's lines changed in place;
// the number of changes.
unsigned ReplaceQuotedValuesInText(zString& text, const std::vector<zString>& keys, const std::vector<zString>& values);
// The file is rewritten in its own encoding only when something changed. The number of
// changes, at most 0xFFFF; 0 when the file cannot be read or written back.
int ReplaceQuotedValuesInFile(const std::vector<zString>& keys, const std::vector<zString>& values, const zString& path);
// Total changes in the high 16 bits (at most 0x7FFF, so a result is never negative), files
// changed in the low 16 bits; -1 when the folder cannot be listed.
int ReplaceQuotedValuesInFolder(const std::vector<zString>& keys, const std::vector<zString>& values,
    const zString& folder, const zString& patterns, bool recursive);

}  // namespace qv
