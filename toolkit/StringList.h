// A list of text lines, read and written as text with CR LF line breaks.
#pragma once

#include "Classes.h"
#include "SysUtils.h"

#include <string>
#include <vector>

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// The bytes of a file, as LoadFromFile reads them.
std::string ReadFileBytes(const std::string& fileName);

class TStringList : public TPersistent {
public:
    TStringList() = default;

    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& Strings(int index) const;
    void SetStrings(int index, const std::string& s);
    const std::string& operator[](int index) const { return Strings(index); }

    int Add(const std::string& s);
    void Insert(int index, const std::string& s);
    void Delete(int index);
    void Clear() { lines_.clear(); }
    int IndexOf(const std::string& s) const;  // case-insensitive, -1 when absent

    // Every line followed by CR LF.
    std::string Text() const;
    // Splits at CR, LF or CR LF; a final line break adds no line; a NUL ends the text.
    void SetText(const std::string& text);

    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    void Assign(TPersistent* source) override;

private:
    std::vector<std::string> lines_;
};
