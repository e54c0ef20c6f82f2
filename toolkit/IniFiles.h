// Settings files through the Windows profile API.
#pragma once

#include "StringList.h"
#include "SysUtils.h"

#include <string>

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& ident, const std::string& def) const;
    // Decimal, or hex written "0x..." or "$..."; `def` when absent or unreadable.
    int ReadInteger(const std::string& section, const std::string& ident, int def) const;
    bool ReadBool(const std::string& section, const std::string& ident, bool def) const;

    // Raise EIniFileException "Unable to write to <file>" when the write fails.
    void WriteString(const std::string& section, const std::string& ident, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int value);
    void WriteBool(const std::string& section, const std::string& ident, bool value);

    void ReadSection(const std::string& section, TStringList& idents) const;
    void ReadSections(TStringList& sections) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& ident) const;
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& ident);
    // Writes what the system holds in its cache for this file.
    void UpdateFile();

private:
    std::string fileName_;
};
