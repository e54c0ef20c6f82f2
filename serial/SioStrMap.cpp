#include "SioStrMap.h"

#include "SysUtils.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <utility>
#include <vector>

namespace {

// Consecutive codes from `first` (its sign holds for the whole run), one text each.
struct TextRun {
    int first;
    const char* prefix;
    std::initializer_list<const char*> texts;
};

// Code = base + row * rowStep + column + 1 (away from zero for a negative base);
// text = row prefix + column text + row suffix.
struct TextGrid {
    int base;
    int rowStep;
    std::initializer_list<std::pair<const char*, const char*>> rows;
    std::initializer_list<const char*> columns;
};

struct NumberedText {
    int code;
    const char* text;
};

constexpr int kFirstSystemNumber = 2;
constexpr int kLastSystemNumber = 162;

// System error numbers; the numbers between that Windows leaves undefined get its own
// "no text" wording. These are the texts EInOutError carries.
constexpr NumberedText kSystemTexts[] = {
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {7, "The storage control blocks were destroyed."},
    {8, "Not enough storage is available to process this command."},
    {9, "The storage control block address is invalid."},
    {10, "The environment is incorrect."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {12, "The access code is invalid."},
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {16, "The directory cannot be removed."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {20, "The system cannot find the device specified."},
    {21, "The device is not ready."},
    {22, "The device does not recognize the command."},
    {23, "Data error (cyclic redundancy check)."},
    {24, "The program issued a command but the command length is incorrect."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {26, "The specified disk or diskette cannot be accessed."},
    {27, "The drive cannot find the sector requested."},
    {28, "The printer is out of paper."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of the file."},
    {34, "The wrong diskette is in the drive."},
    {36, "Too many files opened for sharing."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {51, "The remote computer is not available."},
    {52, "You were not connected because a duplicate name exists on the network."},
    {53, "The network path was not found."},
    {54, "The network is busy."},
    {55, "The specified network resource or device is no longer available."},
    {56, "The network BIOS command limit has been reached."},
    {57, "A network adapter hardware error occurred."},
    {58, "The specified server cannot perform the requested operation."},
    {59, "An unexpected network error occurred."},
    {60, "The remote adapter is not compatible."},
    {61, "The printer queue is full."},
    {62, "Space to store the file waiting to be printed is not available on the server."},
    {63, "Your file waiting to be printed was deleted."},
    {64, "The specified network name is no longer available."},
    {65, "Network access is denied."},
    {66, "The network resource type is not correct."},
    {67, "The network name cannot be found."},
    {68, "The name limit for the local computer network adapter card was exceeded."},
    {69, "The network BIOS session limit was exceeded."},
    {70, "The remote server has been paused or is in the process of being started."},
    {71, "No more connections can be made to this remote computer at this time."},
    {72, "The specified printer or disk device has been paused."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {83, "Fail on INT 24."},
    {84, "Storage to process this request is not available."},
    {85, "The local device name is already in use."},
    {86, "The specified network password is not correct."},
    {87, "The parameter is incorrect."},
    {88, "A write fault occurred on the network."},
    {89, "The system cannot start another process at this time."},
    {100, "Cannot create another system semaphore."},
    {101, "The exclusive semaphore is owned by another process."},
    {102, "The semaphore is set and cannot be closed."},
    {103, "The semaphore cannot be set again."},
    {104, "Cannot request exclusive semaphores at interrupt time."},
    {105, "The previous ownership of this semaphore has ended."},
    {106, "Insert the diskette for the drive."},
    {107, "The program stopped because an alternate diskette was not inserted."},
    {108, "The disk is in use or locked by another process."},
    {109, "The pipe has been ended."},
    {110, "The system cannot open the device or file specified."},
    {111, "The file name is too long."},
    {112, "There is not enough space on the disk."},
    {113, "No more internal file identifiers available."},
    {114, "The target internal file identifier is incorrect."},
    {117, "The IOCTL call made by the application program is not correct."},
    {118, "The verify-on-write switch parameter value is not correct."},
    {119, "The system does not support the command requested."},
    {120, "This function is not supported on this system."},
    {121, "The semaphore timeout period has expired."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {124, "The system call level is not correct."},
    {125, "The disk has no volume label."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {128, "There are no child processes to wait for."},
    {129, "The application cannot be run in Win32 mode."},
    {130, "Attempt to use a file handle to an open disk partition for an operation other than raw disk I/O."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {132, "The file pointer cannot be set on the specified device or file."},
    {133, "A JOIN or SUBST command cannot be used for a drive that contains previously joined drives."},
    {134, "An attempt was made to use a JOIN or SUBST command on a drive that has already been joined."},
    {135, "An attempt was made to use a JOIN or SUBST command on a drive that has already been substituted."},
    {136, "The system tried to delete the JOIN of a drive that is not joined."},
    {137, "The system tried to delete the substitution of a drive that is not substituted."},
    {138, "The system tried to join a drive to a directory on a joined drive."},
    {139, "The system tried to substitute a drive to a directory on a substituted drive."},
    {140, "The system tried to join a drive to a directory on a substituted drive."},
    {141, "The system tried to SUBST a drive to a directory on a joined drive."},
    {142, "The system cannot perform a JOIN or SUBST at this time."},
    {143, "The system cannot join or substitute a drive to or for a directory on the same drive."},
    {144, "The directory is not a subdirectory of the root directory."},
    {145, "The directory is not empty."},
    {146, "The path specified is being used in a substitute."},
    {147, "Not enough resources are available to process this command."},
    {148, "The path specified cannot be used at this time."},
    {149, "An attempt was made to join or substitute a drive for which a directory on the drive is the target "
          "of a previous substitute."},
    {150, "System trace information was not specified in your CONFIG.SYS file, or tracing is disallowed."},
    {151, "The number of specified semaphore events for DosMuxSemWait is not correct."},
    {152, "DosMuxSemWait did not execute; too many semaphores are already set."},
    {153, "The DosMuxSemWait list is not correct."},
    {154, "The volume label you entered exceeds the label character limit of the target file system."},
    {155, "Cannot create another thread."},
    {156, "The recipient process has refused the signal."},
    {157, "The segment is already discarded and cannot be locked."},
    {158, "The segment is already unlocked."},
    {159, "The address for the thread ID is not correct."},
    {160, "One or more arguments are not correct."},
    {161, "The specified path is invalid."},
    {162, "A signal is already pending."},
};

// The library's own codes: errors negative, as the operations return them; reported states
// positive.
constexpr TextRun kRuns[] = {
    {-1001, "", {"General failure", "Bad argument", "Got quit message", "Buffer too big", "Port not assigned",
                 "Internal error", "Modem not assigned", "Phonebook not assigned", "Cannot use with WinSock"}},
    {-2001, "", {"Bad port ID", "Unsupported baud rate", "Unsupported byte size", "Port could not be opened",
                 "Hardware not present", "Unable to allocate queues", "Port not open", "Port already open",
                 "No more port handles", "No more timers", "No port selected", "Port not opened by TAPI"}},
    {-3001, "", {"Serial API not available", "Bad port handle", "Unable to register handler",
                 "Unable to queue output", "Unable to read input block", "Output buffer too small",
                 "Not enough data in input buffer", "Tracing not enabled", "Logging not enabled",
                 "Base address not set"}},
    {-4001, "", {"Modem not started", "Modem is busy", "Modem is not dialing", "Not dialing", "Already dialing",
                 "Modem not responding", "Modem rejected command", "Modem status mismatch"}},
    {-5001, "", {"No more trigger handles", "Trigger string too long", "Bad trigger handle"}},
    // The packet collector raises these with positive codes.
    {5501, "", {"Start string is empty", "Packet size cannot be smaller than start string",
                "CharCount packets must have an end-condition", "End string is empty",
                "Packet size cannot be zero"}},
    {-6001, "", {"Transfer already in progress", "No files to transfer", "Cannot open file for transfer",
                 "Transfer cancelled", "Too many errors during transfer", "Protocol error", "Bad file name",
                 "Unexpected end of file", "Protocol timed out"}},
    {-7001, "", {"Key string too long", "Data too large", "Internal INI file error", "INI file write error",
                 "INI file read error", "Internal database error", "Record already exists", "Record not found",
                 "Invalid record index", "Database full", "Database empty", "Database index corrupt",
                 "Bad field list", "Bad field for index"}},
    {-8001, "", {"Bad fax file format", "Unsupported graphics format", "Conversion aborted", "Unpack aborted",
                 "Cannot create bitmap"}},
    {-8051, "", {"Fax file has no pages", "Page too wide", "Invalid page number", "Page too long",
                 "Bad fax resolution", "Bad fax width", "Fax printer driver not installed",
                 "Fax printer driver error", "Fax server not running", "Remote machine is not a fax machine",
                 "Unexpected modem result", "Fax training failed", "Fax modem initialization failed",
                 "Line busy", "Voice call answered", "Data call answered", "No dial tone", "No carrier",
                 "Fax session error", "Fax page error"}},
    // -13804 and -13849 are not raised as their own class but keep a text.
    {-13801, "TAPI: ", {"resource already allocated", "bad device ID", "bearer mode unavailable",
                        "address unavailable", "no call appearance available",
                        "too many call completions outstanding", "conference full",
                        "cannot wait for billing tone", "cannot wait for dial tone", "cannot wait for prompt tone",
                        "cannot wait for quiet", "incompatible API version", "incompatible extension version",
                        "TELEPHON.INI file corrupt", "line in use", "invalid address", "invalid address ID",
                        "invalid address mode", "invalid address state", "invalid application handle",
                        "invalid application name", "invalid bearer mode", "invalid call completion mode",
                        "invalid call handle", "invalid call parameters", "invalid call privilege",
                        "invalid call select", "invalid call state", "invalid call state list",
                        "invalid calling card", "invalid completion ID", "invalid conference call handle",
                        "invalid consultation call handle", "invalid country code", "invalid device class",
                        "invalid device handle", "invalid dial parameters", "invalid digit list",
                        "invalid digit mode", "invalid digits", "invalid extension version", "invalid group ID",
                        "invalid line handle", "invalid line state", "invalid location", "invalid media list",
                        "invalid media mode", "invalid message ID", "invalid number", "invalid parameter",
                        "invalid park ID", "invalid park mode", "invalid pointer", "invalid privilege select",
                        "invalid rate", "invalid request mode", "invalid terminal ID", "invalid terminal mode",
                        "invalid timeout", "invalid tone", "invalid tone list", "invalid tone mode",
                        "invalid transfer mode", "line mapper failed", "no conference", "no device",
                        "no driver", "not enough memory", "no request", "not owner", "not registered",
                        "operation failed", "operation unavailable", "rate unavailable",
                        "resource unavailable", "request overrun", "structure too small", "target not found",
                        "target is self", "not initialized", "user-to-user information too big",
                        "reinitialization required", "address blocked", "billing rejected", "invalid feature",
                        "multiple instances not allowed"}},
    {13887, "Call state: ", {"idle", "offering", "accepted", "dial tone", "dialing", "ringback", "busy",
                             "special information", "connected", "proceeding", "on hold", "conferenced",
                             "on hold pending conference", "on hold pending transfer", "disconnected",
                             "unknown"}},
    {13903, "Line state: ", {"other", "ringing", "connected", "disconnected", "message waiting on",
                             "message waiting off", "in service", "out of service", "maintenance", "opened",
                             "closed", "number of calls changed", "number of completions changed",
                             "terminals changed", "roam mode changed", "battery level changed",
                             "signal level changed", "device-specific", "reinitialize", "locked",
                             "capabilities changed", "configuration changed", "translation changed",
                             "completion cancelled", "removed"}},
    {-13928, "TAPI: ", {"device busy", "device not set", "no device selected", "unable to load TAPI",
                        "unable to get TAPI function address", "cannot open line", "cannot make call",
                        "voice not supported", "wave device error", "wave file not found",
                        "cannot play wave file", "cannot record wave file", "unsupported wave format",
                        "tone detection failed", "address translation failed"}},
    {13943, "Disconnected: ", {"normal", "unknown reason", "call rejected", "picked up elsewhere", "forwarded",
                               "busy", "no answer", "bad address", "unreachable", "network congestion",
                               "incompatible equipment", "unavailable", "no dial tone", "number changed",
                               "out of order", "temporary failure", "quality of service unavailable", "blocked",
                               "do not disturb", "cancelled"}},
    {13963, "Media mode: ", {"unknown", "interactive voice", "automated voice", "data modem", "G3 fax", "TDD",
                             "G4 fax", "digital data", "teletex", "videotex", "telex", "mixed", "ADSI",
                             "VoiceView", "video"}},
    {-13980, "", {"Unable to load RAS"}},
    {13981, "RAS: ", {"opening port", "port opened", "connecting device", "device connected",
                      "all devices connected", "authenticating", "authentication notice",
                      "retrying authentication", "callback requested", "password change requested",
                      "projection started", "link speed calculated", "reauthenticating", "authenticated",
                      "preparing for callback", "waiting for modem reset", "waiting for callback", "connected",
                      "disconnected"}},
};

constexpr TextGrid kGrids[] = {
    {3100, 100, {{"", " went high"}, {"", " went low"}}, {"CTS", "DSR", "RI", "DCD"}},
    {4100, 100,
     {{"Connected at ", " bps"},
      {"Connected at ", " bps, V.42 error control"},
      {"Connected at ", " bps, V.42bis compression"},
      {"Connected at ", " bps, MNP error control"}},
     {"300", "1200", "2400", "4800", "7200", "9600", "12000", "14400", "16800", "19200", "21600", "24000", "26400",
      "28800", "31200", "33600", "38400", "57600", "115200"}},
    {6100, 100,
     {{"XModem: ", ""}, {"XModem CRC: ", ""}, {"XModem 1K: ", ""}, {"XModem 1K-G: ", ""}, {"YModem: ", ""},
      {"YModem-G: ", ""}, {"ZModem: ", ""}, {"Kermit: ", ""}, {"ASCII: ", ""}},
     {"transfer started", "waiting for receiver", "negotiating options", "sending file header",
      "receiving file header", "header acknowledged", "sending data", "receiving data", "block acknowledged",
      "block rejected", "bad block check", "duplicate block", "block out of sequence", "timed out waiting for data",
      "timed out waiting for acknowledgement", "retrying", "too many errors", "cancelled by remote",
      "cancelled locally", "file skipped", "file already exists", "disk full", "end of file", "end of batch",
      "transfer complete", "carrier lost"}},
    {-8005, 5,
     {{"Fax file", ""}, {"Cover file", ""}, {"Font file", ""}, {"Text file", ""}, {"Bitmap file", ""},
      {"TIFF file", ""}, {"PCX file", ""}, {"DCX file", ""}, {"Page file", ""}},
     {" not found", " cannot be opened", " read error", " write error", " is corrupt"}},
    {8100, 100, {{"Fax: sent ", " frame"}, {"Fax: received ", " frame"}},
     {"DIS", "DCS", "DTC", "CSI", "TSI", "CIG", "NSF", "NSS", "CFR", "FTT", "MCF", "RTN", "RTP", "EOP", "EOM", "MPS",
      "DCN", "CRP"}},
    {8300, 100, {{"Sending fax: ", ""}, {"Receiving fax: ", ""}},
     {"initializing modem", "connecting", "connected", "remote station identified", "negotiating session",
      "training", "training failed, retraining", "training passed", "page started", "page data", "page ended",
      "page confirmed", "page rejected", "retrain requested", "end of document", "disconnecting",
      "session complete", "session aborted", "no response from remote", "cancelled by user"}},
};

constexpr bool SystemTextsAscendInRange()
{
    int last = kFirstSystemNumber - 1;
    for (const NumberedText& t : kSystemTexts) {
        if (t.code <= last || t.code > kLastSystemNumber) return false;
        last = t.code;
    }
    return true;
}
static_assert(SystemTextsAscendInRange(), "the system texts are walked in order while the table is built");

constexpr int RowCount()
{
    int n = kLastSystemNumber - kFirstSystemNumber + 1;
    for (const TextRun& run : kRuns) n += static_cast<int>(run.texts.size());
    for (const TextGrid& grid : kGrids) n += static_cast<int>(grid.rows.size() * grid.columns.size());
    return n;
}
static_assert(RowCount() == SioMessageCount, "the message table has a fixed number of rows");

unsigned Magnitude(int code)
{
    return code < 0 ? 0u - static_cast<unsigned>(code) : static_cast<unsigned>(code);
}

std::vector<SioMessageNumberLookupRecord> BuildTable()
{
    std::vector<SioMessageNumberLookupRecord> rows;
    rows.reserve(SioMessageCount);

    const NumberedText* known = std::begin(kSystemTexts);
    for (int n = kFirstSystemNumber; n <= kLastSystemNumber; ++n) {
        if (known != std::end(kSystemTexts) && known->code == n) {
            rows.push_back({n, (known++)->text});
        } else {
            rows.push_back({n, Format("The system cannot find message text for message number 0x%X in the "
                                      "message file for System.", static_cast<unsigned>(n))});
        }
    }
    for (const TextRun& run : kRuns) {
        const int step = run.first < 0 ? -1 : 1;
        int code = run.first;
        for (const char* text : run.texts) {
            rows.push_back({code, std::string(run.prefix) + text});
            code += step;
        }
    }
    for (const TextGrid& grid : kGrids) {
        const int sign = grid.base < 0 ? -1 : 1;
        int row = 0;
        for (const auto& [prefix, suffix] : grid.rows) {
            int column = 0;
            for (const char* text : grid.columns) {
                const int offset = row * grid.rowStep + column + 1;
                rows.push_back({grid.base + sign * offset, std::string(prefix) + text + suffix});
                ++column;
            }
            ++row;
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return Magnitude(a.code) < Magnitude(b.code);
    });
    return rows;
}

const std::vector<SioMessageNumberLookupRecord>& Table()
{
    static const std::vector<SioMessageNumberLookupRecord> table = BuildTable();
    return table;
}

}  // namespace

const SioMessageNumberLookupRecord* SioMessageTable(int& count)
{
    const auto& table = Table();
    count = static_cast<int>(table.size());
    return table.data();
}

std::string SioMessageText(int code)
{
    const auto& table = Table();
    const unsigned key = Magnitude(code);
    int low = 0;
    int high = SioMessageCount - 1;
    while (low <= high) {
        const int middle = static_cast<int>(Round((low + high) / 2.0));
        const unsigned found = Magnitude(table[middle].code);
        if (found == key) return table[middle].message;
        if (found < key) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return "";
}
