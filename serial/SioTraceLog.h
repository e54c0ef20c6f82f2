// The dispatcher's two diagnostic records: the trace (every byte the application took from
// the port or queued to it) and the time-stamped event log, each kept in memory and dumped
// to a text file. Neither class locks: the dispatcher calls them under its general lock.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

class TSioTrace {
public:
    static constexpr unsigned MaxSize = 4000000;

    bool TraceHex = true, TraceAllHex = false;
    unsigned TraceSize = 10000;

    // 0, -1002 for a size above MaxSize, -2006 when the buffer cannot be had.
    int Start(unsigned size);
    void Pause();
    void Resume();
    void Clear();
    void Stop();
    // 0 or -(Windows error); the buffer is freed whatever happens.
    int Dump(const std::string& fileName, bool append);
    void Add(char kind, unsigned char byte);

    bool Active() const { return active_; }
    bool HasBuffer() const { return hasBuffer_; }
    TTraceLogState State() const;
    // Entries held: at most the size of the buffer.
    unsigned Count() const;

private:
    struct TEntry {
        char Kind;
        unsigned char Byte;
    };
    std::vector<TEntry> entries_;
    unsigned position_ = 0;
    bool wrapped_ = false;
    bool hasBuffer_ = false;
    bool active_ = false;
};

enum TSioLogType {
    ltNoEvent, ltDispatch, ltTrigger, ltError, ltThread, ltTrigAllc, ltTrigDisp, ltTrgHdAlc, ltTrgHdDsp,
    ltTrDatChg, ltTelnet, ltFax, ltXModem, ltYModem, ltZModem, ltKermit, ltAscii, ltBPlus, ltPacket, ltUser,
    ltScript,
};
enum TSioLogSubtype {
    lsNone, lsReadCom, lsWriteCom, lsLineStatus, lsModemStatus, lsAvail, lsTimer, lsData, lsStatus,
    lsThreadStart, lsThreadExit, lsThreadSleep, lsThreadWake, lsDataTrigger, lsTimerTrigger, lsStatusTrigger,
    lsAvailTrigger, lsWindow, lsProcedure, lsMethod, lsSentWill, lsSentWont, lsSentDo, lsSentDont,
    lsRecvWill, lsRecvWont, lsRecvDo, lsRecvDont, lsCommand, lsSentTerm,
};

class TSioLog {
public:
    static constexpr unsigned MaxSize = 16000000;
    static constexpr unsigned HeaderSize = 16;

    bool LogHex = true, LogAllHex = false;
    unsigned LogSize = 10000;

    // 0, -1002 for a size above MaxSize, -2006 when the buffers cannot be had.
    int Start(unsigned size, unsigned scratchSize);
    void Pause();
    void Resume();
    void Clear();
    void Stop();
    void Add(int type, int subtype, int time, unsigned data, const void* extra, int length);
    // 0 or -(Windows error). A dump that fails keeps the log; otherwise it is freed.
    int Dump(const std::string& fileName, bool append, const std::string& deviceName, const SYSTEMTIME& now);

    bool Active() const { return active_; }
    bool HasBuffer() const { return hasBuffer_; }
    TTraceLogState State() const;
    // Bytes of the ring in use by whole records.
    unsigned UsedBytes() const { return static_cast<unsigned>(ring_.size()) - free_; }

private:
    void CopyIn(const unsigned char* bytes, unsigned count);
    void CopyOut(unsigned from, unsigned char* bytes, unsigned count) const;
    void DropOldest();
    void Free();

    std::vector<unsigned char> ring_;
    std::vector<unsigned char> scratch_;
    unsigned writePos_ = 0, readPos_ = 0, free_ = 0;
    bool hasBuffer_ = false;
    bool active_ = false;
};

std::string SioOperatingSystemText(const OSVERSIONINFOA& info);
std::string SioOperatingSystemText();
std::string SioCompilerText();
