// Readings taken where the description of these files leaves a choice:
// - A block header ("Receive: ", "Transmit: ", "Special-X: ") is a line of its own; the
//   block's bytes start on the next line at column 0, so a trace line holds at most 78
//   characters. Between blocks the byte line ends and one empty line follows.
// - The log's data column is lower-case hex ("0000001a"); bytes in brackets are upper case
//   ("[1A]") in the trace and the log alike.
// - The log's wrap rule is kept as stated: the column starts at 45 and a byte that brings it
//   to 79 or more goes to a new line after 44 blanks, so at most 33 one-character bytes fit
//   on a line.
// - The modem-line names follow every record of subtype "Modem status", with or without
//   extra bytes. The status kind is named for TrigAllc and TrigDisp records of either
//   subtype called "Status" (8 and 15); a kind byte above 5 prints as plain bytes.
// - A Telnet record without extra bytes prints its option number as "[n]": the option
//   names belong to a protocol layer this build does not have.
// - A type or subtype outside the tables prints as its number.
// - Start on an existing buffer only clears it; a new size takes effect at the next
//   allocation (the port component stops and restarts a trace or log to resize it).
// - A log record is also refused when its header and extras together exceed the ring,
//   which dropping old records could never make room for.
// - A log dump that fails, whether its file cannot be opened or cannot be written, keeps the
//   log as it was (active or paused); a trace dump frees its buffer in every case.
// - The files are written as Windows text files: CR LF line ends, no end-of-file mark.
#include "SioTraceLog.h"

#include "Handles.h"
#include "SysUtils.h"

#include <cstring>
#include <iterator>
#include <new>

namespace {

const int ErrorBadArgument = -1002;
const int ErrorMemory = -2006;

const char* const TypeNames[] = {"No event", "Dispatch", "Trigger",  "Error",  "Thread", "TrigAllc", "TrigDisp",
                                 "TrgHdAlc", "TrgHdDsp", "TrDatChg", "Telnet", "Fax",    "XModem",   "YModem",
                                 "ZModem",   "Kermit",   "Ascii",    "BPlus",  "Packet", "User",     "Script"};

const char* const SubtypeNames[] = {"",          "ReadCom",    "WriteCom",   "Line status", "Modem status",
                                    "Avail",     "Timer",      "Data",       "Status",      "Start",
                                    "Exit",      "Sleep",      "Wake",       "Data",        "Timer",
                                    "Status",    "Avail",      "Window",     "Procedure",   "Method",
                                    "Sent WILL", "Sent WON'T", "Sent DO",    "Sent DON'T",  "Recv WILL",
                                    "Recv WON'T", "Recv DO",   "Recv DON'T", "Command",     "Sent Term"};

const char* const StatusKindNames[] = {"(Not active)",         "(Modem status)",        "(Line status)",
                                       "(Output buffer free)", "(Output buffer used)", "(Output sent)"};

const char* const ModemBitNames[] = {"DCTS", "DDSR", "TERI", "DDCD", "CTS", "DSR", "RI", "DCD"};

const unsigned TraceLineWidth = 78;
const unsigned LogFirstColumn = 45;
const unsigned LogWrapColumn = 79;

template <size_t N>
std::string NameOf(const char* const (&names)[N], unsigned index)
{
    return index < N ? names[index] : IntToStr(index);
}

// The byte as the trace and the log print it; its length is its width.
std::string ByteText(unsigned char byte, bool hex, bool allHex)
{
    const unsigned char firstPrintable = hex ? '!' : ' ';
    if (!allHex && byte >= firstPrintable && byte <= '~') return std::string(1, static_cast<char>(byte));
    if (allHex || hex) return Format("[%02X]", byte);
    return Format("[%u]", byte);
}

std::string BlockHeader(char kind)
{
    if (kind == 'R') return "Receive: ";
    if (kind == 'T') return "Transmit: ";
    return std::string("Special-") + kind + ": ";
}

// "%.7d" is the C form of the "%07.7d" zero-padded seven digits.
std::string TimeText(int milliseconds)
{
    const std::string digits = Format("%.7d", milliseconds);
    const size_t split = digits.size() - 3;
    return digits.substr(0, split) + "." + digits.substr(split);
}

std::string ModemBitsText(unsigned data)
{
    std::string text;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if (!(data & (1u << bit))) continue;
        if (!text.empty()) text += ' ';
        text += ModemBitNames[bit];
    }
    return "(" + text + ")";
}

DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error ? error : fallback;
}

// A text file written through a buffer; the first Windows error is kept and reported at Close.
class TDumpFile {
public:
    DWORD Open(const std::string& name, bool append)
    {
        const DWORD attributes = GetFileAttributesA(name.c_str());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        const bool appending = append && exists;
        file_.Reset(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                appending ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) return LastErrorOr(ERROR_OPEN_FAILED);
        if (appending && SetFilePointer(file_.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return LastErrorOr(ERROR_SEEK);
        return 0;
    }

    void Put(const std::string& text)
    {
        buffer_ += text;
        if (buffer_.size() >= 65536) Flush();
    }
    void LineEnd() { Put("\r\n"); }
    void Line(const std::string& text) { Put(text + "\r\n"); }

    DWORD Close()
    {
        Flush();
        file_.Reset();
        return error_;
    }

private:
    void Flush()
    {
        size_t done = 0;
        while (!error_ && done < buffer_.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(buffer_.size() - done);
            if (!WriteFile(file_.Get(), buffer_.data() + done, chunk, &written, nullptr) || written == 0)
                error_ = LastErrorOr(ERROR_WRITE_FAULT);
            done += written;
        }
        buffer_.clear();
    }

    TFileHandle file_;
    std::string buffer_;
    DWORD error_ = 0;
};

int Result(DWORD error)
{
    return error ? -static_cast<int>(error) : 0;
}

}  // namespace

int TSioTrace::Start(unsigned size)
{
    const unsigned wanted = size ? size : TraceSize;
    if (wanted > MaxSize) return ErrorBadArgument;
    TraceSize = wanted;
    if (!hasBuffer_) {
        try {
            entries_.assign(TraceSize, TEntry{});
        } catch (const std::bad_alloc&) {
            return ErrorMemory;
        }
        hasBuffer_ = true;
    }
    Clear();
    active_ = true;
    return 0;
}

void TSioTrace::Pause()
{
    active_ = false;
}

void TSioTrace::Resume()
{
    active_ = hasBuffer_;
}

void TSioTrace::Clear()
{
    position_ = 0;
    wrapped_ = false;
}

void TSioTrace::Stop()
{
    std::vector<TEntry>().swap(entries_);
    hasBuffer_ = false;
    active_ = false;
    Clear();
}

TTraceLogState TSioTrace::State() const
{
    if (!hasBuffer_) return tlOff;
    return active_ ? tlOn : tlPause;
}

unsigned TSioTrace::Count() const
{
    return wrapped_ ? static_cast<unsigned>(entries_.size()) : position_;
}

void TSioTrace::Add(char kind, unsigned char byte)
{
    if (!hasBuffer_ || entries_.empty()) return;
    entries_[position_] = TEntry{kind, byte};
    if (++position_ == entries_.size()) {
        position_ = 0;
        wrapped_ = true;
    }
}

int TSioTrace::Dump(const std::string& fileName, bool append)
{
    const unsigned count = Count();
    if (count == 0) {
        Stop();
        return 0;
    }
    TDumpFile file;
    if (const DWORD error = file.Open(fileName, append)) {
        Stop();
        return Result(error);
    }
    const unsigned size = static_cast<unsigned>(entries_.size());
    const unsigned first = wrapped_ ? position_ : 0;
    char previousKind = 0;
    unsigned column = 0;
    for (unsigned i = 0; i < count; ++i) {
        const TEntry& entry = entries_[(first + i) % size];
        if (i == 0 || entry.Kind != previousKind) {
            if (i != 0) {
                file.LineEnd();
                file.LineEnd();
            }
            file.Line(BlockHeader(entry.Kind));
            previousKind = entry.Kind;
            column = 0;
        }
        const std::string text = ByteText(entry.Byte, TraceHex, TraceAllHex);
        const unsigned width = static_cast<unsigned>(text.size());
        if (column + width > TraceLineWidth) {
            file.LineEnd();
            column = width;
        } else {
            column += width;
        }
        file.Put(text);
    }
    const DWORD error = file.Close();
    Stop();
    return Result(error);
}

int TSioLog::Start(unsigned size, unsigned scratchSize)
{
    const unsigned wanted = size ? size : LogSize;
    if (wanted > MaxSize) return ErrorBadArgument;
    LogSize = wanted;
    try {
        if (!hasBuffer_) ring_.assign(LogSize, 0);
        scratch_.assign(scratchSize, 0);
    } catch (const std::bad_alloc&) {
        Free();
        return ErrorMemory;
    }
    hasBuffer_ = true;
    Clear();
    active_ = true;
    return 0;
}

void TSioLog::Pause()
{
    active_ = false;
}

void TSioLog::Resume()
{
    active_ = hasBuffer_;
}

void TSioLog::Clear()
{
    writePos_ = readPos_ = 0;
    free_ = static_cast<unsigned>(ring_.size());
}

void TSioLog::Stop()
{
    Free();
}

void TSioLog::Free()
{
    std::vector<unsigned char>().swap(ring_);
    std::vector<unsigned char>().swap(scratch_);
    hasBuffer_ = false;
    active_ = false;
    Clear();
}

TTraceLogState TSioLog::State() const
{
    if (!hasBuffer_) return tlOff;
    return active_ ? tlOn : tlPause;
}

void TSioLog::CopyIn(const unsigned char* bytes, unsigned count)
{
    const unsigned size = static_cast<unsigned>(ring_.size());
    const unsigned first = count < size - writePos_ ? count : size - writePos_;
    std::memcpy(ring_.data() + writePos_, bytes, first);
    std::memcpy(ring_.data(), bytes + first, count - first);
    writePos_ = (writePos_ + count) % size;
}

void TSioLog::CopyOut(unsigned from, unsigned char* bytes, unsigned count) const
{
    const unsigned size = static_cast<unsigned>(ring_.size());
    const unsigned first = count < size - from ? count : size - from;
    std::memcpy(bytes, ring_.data() + from, first);
    std::memcpy(bytes + first, ring_.data(), count - first);
}

namespace {

struct TLogHeader {
    unsigned char Type, Subtype;
    int Time;
    unsigned Data;
    unsigned Length;
};

void PackHeader(const TLogHeader& h, unsigned char (&bytes)[TSioLog::HeaderSize])
{
    std::memset(bytes, 0, sizeof bytes);
    bytes[0] = h.Type;
    bytes[1] = h.Subtype;
    std::memcpy(bytes + 4, &h.Time, 4);
    std::memcpy(bytes + 8, &h.Data, 4);
    std::memcpy(bytes + 12, &h.Length, 4);
}

TLogHeader UnpackHeader(const unsigned char (&bytes)[TSioLog::HeaderSize])
{
    TLogHeader h{bytes[0], bytes[1], 0, 0, 0};
    std::memcpy(&h.Time, bytes + 4, 4);
    std::memcpy(&h.Data, bytes + 8, 4);
    std::memcpy(&h.Length, bytes + 12, 4);
    return h;
}

}  // namespace

void TSioLog::DropOldest()
{
    unsigned char bytes[HeaderSize];
    CopyOut(readPos_, bytes, HeaderSize);
    const unsigned record = HeaderSize + UnpackHeader(bytes).Length;
    readPos_ = (readPos_ + record) % ring_.size();
    free_ += record;
}

void TSioLog::Add(int type, int subtype, int time, unsigned data, const void* extra, int length)
{
    if (!active_) return;
    const unsigned size = static_cast<unsigned>(ring_.size());
    const unsigned count = extra && length > 0 ? static_cast<unsigned>(length) : 0;
    if (HeaderSize >= size || count >= size || HeaderSize + count > size) return;
    while (free_ < HeaderSize + count) DropOldest();
    unsigned char header[HeaderSize];
    PackHeader(TLogHeader{static_cast<unsigned char>(type), static_cast<unsigned char>(subtype), time, data, count},
               header);
    CopyIn(header, HeaderSize);
    CopyIn(static_cast<const unsigned char*>(extra), count);
    free_ -= HeaderSize + count;
}

int TSioLog::Dump(const std::string& fileName, bool append, const std::string& deviceName, const SYSTEMTIME& now)
{
    if (!hasBuffer_ || UsedBytes() == 0) {
        Free();
        return 0;
    }
    TDumpFile file;
    if (const DWORD error = file.Open(fileName, append)) return Result(error);

    file.Line("SIOLIB v1.00");
    file.Line("Compiler : " + SioCompilerText());
    file.Line("Operating System : " + SioOperatingSystemText());
    file.Line("Device: " + deviceName);
    file.Line(Format("Date/time: %02d/%02d/%02d, %02d:%02d:%02d", now.wDay, now.wMonth, now.wYear % 100, now.wHour,
                     now.wMinute, now.wSecond));
    file.Line("Time      Type      SubType       Data      OtherData");
    file.Line("--------  --------  ------------  --------  ---------");

    const unsigned size = static_cast<unsigned>(ring_.size());
    unsigned position = readPos_;
    unsigned remaining = UsedBytes();
    while (remaining >= HeaderSize) {
        unsigned char bytes[HeaderSize];
        CopyOut(position, bytes, HeaderSize);
        const TLogHeader h = UnpackHeader(bytes);
        if (scratch_.size() < h.Length) scratch_.resize(h.Length);
        CopyOut((position + HeaderSize) % size, scratch_.data(), h.Length);
        position = (position + HeaderSize + h.Length) % size;
        remaining -= HeaderSize + h.Length;

        // "%.8x" is the C form of the "%08.8x" eight hex digits.
        std::string line = Format("%8s  %-8s  %-12s  %.8x  ", TimeText(h.Time).c_str(),
                                  NameOf(TypeNames, h.Type).c_str(), NameOf(SubtypeNames, h.Subtype).c_str(), h.Data);
        const bool statusKind = (h.Type == ltTrigAllc || h.Type == ltTrigDisp) &&
                                (h.Subtype == lsStatus || h.Subtype == lsStatusTrigger) && h.Length > 0 &&
                                scratch_[0] < std::size(StatusKindNames);
        if (h.Length == 0) {
            if (h.Type == ltTelnet) line += Format("[%u]", h.Data);
        } else if (statusKind) {
            line += StatusKindNames[scratch_[0]];
        } else {
            unsigned column = LogFirstColumn;
            for (unsigned i = 0; i < h.Length; ++i) {
                const unsigned char byte = scratch_[i];
                const std::string text = LogAllHex && h.Type == ltUser ? std::string(1, static_cast<char>(byte))
                                                                       : ByteText(byte, LogHex, LogAllHex);
                const unsigned width = static_cast<unsigned>(text.size());
                column += width;
                if (column >= LogWrapColumn) {
                    line += "\r\n" + std::string(LogFirstColumn - 1, ' ');
                    column = width + LogFirstColumn;
                }
                line += text;
            }
        }
        if (h.Subtype == lsModemStatus) line += ModemBitsText(h.Data);
        file.Line(line);
    }
    if (const DWORD error = file.Close()) return Result(error);
    Free();
    return 0;
}

std::string SioOperatingSystemText(const OSVERSIONINFOA& info)
{
    const std::string service(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
    std::string name;
    bool nineX = false;
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        name = "Win32s on Windows ";
        break;
    case VER_PLATFORM_WIN32_WINDOWS: {
        nineX = true;
        const std::string letter = Trim(service);
        if (info.dwMinorVersion == 0)
            name = letter == "B" ? "Win32 on Windows 95 OSR 2 " : "Win32 on Windows 95 OSR 1 ";
        else if (info.dwMinorVersion == 10)
            name = letter == "A" ? "Win32 on Windows 98 OSR 2 " : "Win32 on Windows 98 OSR 1 ";
        else if (info.dwMinorVersion == 90)
            name = info.dwBuildNumber == 73010104 ? "Win32 on Windows ME " : "";
        else
            name = "Win32 on Windows 9x";
        break;
    }
    case VER_PLATFORM_WIN32_NT:
        if (info.dwMajorVersion == 3)
            name = "Windows NT 3.5 ";
        else if (info.dwMajorVersion == 4)
            name = "Windows NT 4 ";
        else if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0)
            name = "Windows 2000 ";
        else if (info.dwMajorVersion == 5 && info.dwMinorVersion == 1)
            name = "Windows XP ";
        else
            name = "WinNT ";
        break;
    default:
        name = "Unknown";
    }
    return name + Format("%lu.%lu ", info.dwMajorVersion, info.dwMinorVersion) + (nineX ? "" : service);
}

std::string SioOperatingSystemText()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    // An unanswered query must not pass for Win32s, whose platform number is 0.
    if (!GetVersionExA(&info)) info.dwPlatformId = ~0ul;
    return SioOperatingSystemText(info);
}

std::string SioCompilerText()
{
    return "GCC " __VERSION__ " (mingw-w64 i686)";
}
