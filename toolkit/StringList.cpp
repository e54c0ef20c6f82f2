#include "StringList.h"

#include "Handles.h"

#include <windows.h>

#include <cstring>

namespace {

void CheckIndex(int index, int count)
{
    if (index < 0 || index >= count) throw EStringListError(Format("List index out of bounds (%d)", index));
}

}  // namespace

const std::string& TStringList::Strings(int index) const
{
    CheckIndex(index, Count());
    return lines_[index];
}

void TStringList::SetStrings(int index, const std::string& s)
{
    CheckIndex(index, Count());
    lines_[index] = s;
}

int TStringList::Add(const std::string& s)
{
    lines_.push_back(s);
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string& s)
{
    if (index < 0 || index > Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
    lines_.insert(lines_.begin() + index, s);
}

void TStringList::Delete(int index)
{
    CheckIndex(index, Count());
    lines_.erase(lines_.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const
{
    const std::string wanted = LowerCase(s);
    for (int i = 0; i < Count(); ++i)
        if (LowerCase(lines_[i]) == wanted) return i;
    return -1;
}

std::string TStringList::Text() const
{
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TStringList::SetText(const std::string& text)
{
    lines_.clear();
    const char* p = text.c_str();  // stops at the first NUL
    while (*p) {
        const char* start = p;
        while (*p && *p != '\r' && *p != '\n') ++p;
        lines_.emplace_back(start, p);
        if (*p == '\r') ++p;
        if (*p == '\n') ++p;
    }
}

std::string ReadFileBytes(const std::string& fileName)
{
    TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EFOpenError("Cannot open file \"" + fileName + "\". " + SysErrorMessage(GetLastError()));
    std::string text;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr))
            throw EStreamError("Read error: " + SysErrorMessage(GetLastError()));
        if (read == 0) break;
        text.append(buffer, read);
    }
    return text;
}

void TStringList::LoadFromFile(const std::string& fileName)
{
    SetText(ReadFileBytes(fileName));
}

void TStringList::SaveToFile(const std::string& fileName) const
{
    TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!file) throw EFCreateError("Cannot create file \"" + fileName + "\". " + SysErrorMessage(GetLastError()));
    const std::string text = Text();
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        throw EStreamError("Write error: " + SysErrorMessage(GetLastError()));
}

void TStringList::Assign(TPersistent* source)
{
    if (auto* list = dynamic_cast<TStringList*>(source)) {
        lines_ = list->lines_;
        return;
    }
    TPersistent::Assign(source);
}
