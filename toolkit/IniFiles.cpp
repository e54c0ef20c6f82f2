#include "IniFiles.h"

#include <windows.h>

#include <vector>

namespace {

// A list of NUL-ended names, as the profile API returns them.
void SplitNames(const std::vector<char>& buffer, DWORD length, TStringList& out)
{
    out.Clear();
    const char* p = buffer.data();
    const char* end = p + length;
    while (p < end && *p) {
        std::string name(p);
        out.Add(name);
        p += name.size() + 1;
    }
}

std::vector<char> ReadNames(const char* section, const std::string& fileName, DWORD& length)
{
    std::vector<char> buffer(16384);
    for (;;) {
        length = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                          fileName.c_str());
        if (length < buffer.size() - 2) return buffer;
        buffer.resize(buffer.size() * 4);
    }
}

}  // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& def) const
{
    std::vector<char> buffer(2048);
    for (;;) {
        const DWORD length = GetPrivateProfileStringA(section.c_str(), ident.c_str(), def.c_str(), buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), fileName_.c_str());
        if (length < buffer.size() - 1) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 4);
    }
}

int TIniFile::ReadInteger(const std::string& section, const std::string& ident, int def) const
{
    // One read into a buffer of the profile API's classic size: a value that fills it is no
    // integer, and a huge one costs no more than its file's parse.
    char buffer[2048];
    const DWORD length = GetPrivateProfileStringA(section.c_str(), ident.c_str(), "", buffer, sizeof buffer,
                                                  fileName_.c_str());
    if (length >= sizeof buffer - 1) return def;
    std::string text(buffer, length);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.erase(0, 1);
        text[0] = '$';
    }
    return StrToIntDef(text, def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident, bool def) const
{
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value)
{
    if (!WritePrivateProfileStringA(section.c_str(), ident.c_str(), value.c_str(), fileName_.c_str()))
        throw EIniFileException("Unable to write to " + fileName_);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int value)
{
    WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value)
{
    WriteString(section, ident, value ? "1" : "0");
}

void TIniFile::ReadSection(const std::string& section, TStringList& idents) const
{
    DWORD length = 0;
    const std::vector<char> buffer = ReadNames(section.c_str(), fileName_, length);
    SplitNames(buffer, length, idents);
}

void TIniFile::ReadSections(TStringList& sections) const
{
    DWORD length = 0;
    const std::vector<char> buffer = ReadNames(nullptr, fileName_, length);
    SplitNames(buffer, length, sections);
}

bool TIniFile::SectionExists(const std::string& section) const
{
    TStringList idents;
    ReadSection(section, idents);
    return idents.Count() > 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const
{
    TStringList idents;
    ReadSection(section, idents);
    return idents.IndexOf(ident) >= 0;
}

void TIniFile::EraseSection(const std::string& section)
{
    if (!WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, fileName_.c_str()))
        throw EIniFileException("Unable to write to " + fileName_);
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident)
{
    WritePrivateProfileStringA(section.c_str(), ident.c_str(), nullptr, fileName_.c_str());
}

void TIniFile::UpdateFile()
{
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, fileName_.c_str());
}
