// Exceptions, number and text conversions, and the locale's format settings.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
};

class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// Format settings; read from the user's locale at start-up, changeable by the program.
extern char DecimalSeparator;
extern char ThousandSeparator;
extern char TimeSeparator;
extern char DateSeparator;

// Rounds half to even, as the floating-point unit does by default (2.5 -> 2, 3.5 -> 4).
int64_t Round(double value);
int64_t Trunc(double value);

std::string IntToStr(int64_t value);
// Upper-case hex with at least `digits` digits; a negative 32-bit value gives 8 digits.
std::string IntToHex(int32_t value, int digits);
std::string IntToHex(int64_t value, int digits);

// Decimal or "$"/"0x" hex, optional sign and leading blanks; raises EConvertError.
int StrToInt(const std::string& s);
int StrToIntDef(const std::string& s, int def);
bool TryStrToInt(const std::string& s, int& value);

// Reads the locale's decimal separator only; leading and trailing blanks allowed.
double StrToFloat(const std::string& s);
bool TryStrToFloat(const std::string& s, double& value);

enum TFloatFormat { ffGeneral, ffFixed };
// Shortest general form with 15 significant digits ("0.3", "12", "101.6", "1E20").
std::string FloatToStr(double value);
// `digits` decimals for ffFixed; the last one rounded half away from zero, as shown.
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);

// printf-style formatting.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string LowerCase(const std::string& s);
std::string UpperCase(const std::string& s);
std::string Trim(const std::string& s);
// A message as a sentence: its full stop added, unless it ends in punctuation of its own.
std::string Sentence(std::string text);

// The system's text for a Win32 error number, without the trailing line break.
std::string SysErrorMessage(unsigned long errorCode);

// File names: the folder part keeps its trailing backslash ("C:\a\" of "C:\a\b.VRL").
std::string ExtractFilePath(const std::string& fileName);
std::string ExtractFileName(const std::string& fileName);
bool FileExists(const std::string& fileName);
bool DirectoryExists(const std::string& folder);
// Creates the folder with every missing parent; false when one cannot be made.
bool ForceDirectories(const std::string& folder);
