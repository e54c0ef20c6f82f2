// The Windows side of trace_roundtrip.py:
//   trace_writer write TRACEFILE RUN   sets HKCU "REdedov" to TRACEFILE, starts tracing and
//                                      writes the known events; prints the ANSI code page
//   trace_writer decode SOURCE TARGET  DecodeTraceFile; its result is the exit code
//   trace_writer remove                removes the key
#include "trace_log.h"

#include "TraceTestSupport.h"

#include <shellapi.h>

#include <cstdio>
#include <cwchar>

int main()
{
    int argc = 0;
    wchar_t** const argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 65;
    if (argc == 4 && wcscmp(argv[1], L"write") == 0) {
        const std::wstring path = argv[2];
        if (!tracetest::make_trace_key(&path)) return 2;
        qv::InitTracing();
        if (!qv::TracingEnabled()) return 3;
        const int run = _wtoi(argv[3]);
        qv::TraceRecord(L"EXEProcessBegin", L"RURavurInit", L"EXE=%s", L"C:\\Setup\\setup.exe");
        qv::TraceRecord(L"RURavurDLLOp", L"Step", L"first line\r\nsecond line\r\n");
        qv::TraceRecord(L"Empty", L"Details", L"");
        qv::TraceRecord(L"Caf\u00E9", L"Na\u00EFve", L"Gr\u00FC\u00DFe=%s\tn=%d", L"\u00E9t\u00E9", 42);
        qv::QVTracingInternal_Trace(L"run=%d", run);
        printf("acp=%u\n", GetACP());
        return 0;
    }
    if (argc == 4 && wcscmp(argv[1], L"decode") == 0)
        return static_cast<int>(qv::DecodeTraceFile(zString(argv[2]), zString(argv[3])));
    if (argc == 2 && wcscmp(argv[1], L"remove") == 0) {
        tracetest::remove_trace_key();
        return 0;
    }
    fprintf(stderr, "usage: trace_writer write TRACEFILE RUN | decode SOURCE TARGET | remove\n");
    return 64;
}
