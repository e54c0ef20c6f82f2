// One-call registry access: each operation opens its key, does its one thing, closes the key
// and leaves the Windows result of its open or call in LastFileOpError. Writes open the key
// that is there; only CreateRegistryKey makes one.
#pragma once

#include "zString.h"

#include <windows.h>

#include <vector>

namespace qv {

bool RegistryKeyExists(HKEY root, const zString& subkey);
// A REG_SZ or REG_EXPAND_SZ value (not expanded), up to its first zero; empty when the key or
// the value is missing or of another type. Answers `out`.
zString& ReadRegistryString(zString& out, HKEY root, const zString& subkey, const zString& value);
// size: the buffer's bytes in, the value's bytes out.
bool ReadRegistryValue(HKEY root, const zString& subkey, const zString& value, void* buffer, DWORD& size);
bool WriteRegistryString(HKEY root, const zString& subkey, const zString& value, const zString& text);
bool WriteRegistryDword(HKEY root, const zString& subkey, const zString& value, DWORD number);
bool WriteRegistryBytes(HKEY root, const zString& subkey, const zString& value, const void* data, DWORD length);
DWORD ReadRegistryDword(HKEY root, const zString& subkey, const zString& value, DWORD default_value);
// 0 on failure.
DWORD GetRegistryValueSize(HKEY root, const zString& subkey, const zString& value);
bool CreateRegistryKey(HKEY root, const zString& subkey);
// Deletes `subkey` below root\key: with recursive its whole tree, otherwise only a key without
// subkeys.
bool DeleteRegistryKey(HKEY root, const zString& key, const zString& subkey, bool recursive);
// `name` below an open key with all its subkeys, children first, as Windows before Vista has
// no call for it; the Windows result, nothing recorded.
LONG DeleteRegistryTree(HKEY parent, const wchar_t* name);
// True when the key opened and holds at least one value.
bool CountRegistryValues(HKEY root, const zString& subkey);
bool DeleteRegistryValue(HKEY root, const zString& subkey, const zString& value);
bool EnumRegistrySubkeys(HKEY root, const zString& subkey, std::vector<zString>& out);
bool EnumRegistryValues(HKEY root, const zString& subkey, std::vector<zString>& out);

// The name format filled with the number, as "File%d" gives "File3"; with drop_zero the number
// 0 is written as nothing ("File"). Only the first conversion takes the number; any later one
// is kept as text.
zString NumberedValueName(const zString& format, int number, bool drop_zero);
// The string values named by the format from the first number on, up to the first empty or
// missing one; the number appended.
size_t ReadNumberedRegistryValues(HKEY root, const zString& subkey, const zString& format, int first,
    bool drop_zero, std::vector<zString>& out);
// The name after the last of that walk.
zString NextNumberedValueName(HKEY root, const zString& subkey, const zString& format, int first, bool drop_zero);

// Makes the thread's error information describe the failure (the earlier description, then
// "*message", then ">folder\file (line)"); answers result, DISP_E_EXCEPTION for 0.
HRESULT SetComErrorInfo(const CLSID& class_id, const zString& message, const zString& source_path, int line,
    const IID& interface_id, HRESULT result);

}  // namespace qv
