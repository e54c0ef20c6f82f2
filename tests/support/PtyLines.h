// A pty COM port's modem lines, as the preloaded tools/ptymodem library carries them: the
// lines the peer drives are read from PTYMODEM_DIR/ptsN.in, the ones the program drives are
// written to ptsN.out (N is TAVRIN_TEST_PTS, given by the peer that made the port).
#pragma once

#include "InstrumentSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Line bits as ptymodem's files carry them: Linux's TIOCM_* values.
constexpr int kLineDtr = 0x002;
constexpr int kLineRts = 0x004;
constexpr int kLineCts = 0x020;
constexpr int kLineCd = 0x040;
constexpr int kLineRi = 0x080;
constexpr int kLineDsr = 0x100;

inline std::string LinesFile(const char* suffix)
{
    const std::string dir = EnvText("PTYMODEM_DIR");
    const std::string pts = EnvText("TAVRIN_TEST_PTS");
    if (dir.empty() || pts.empty()) return {};
    return FromUnixPath(dir + "/pts" + pts + "." + suffix);
}

// The lines the peer drives (CTS, DSR, CD, RI bits), written whole.
inline void DrivePeerLines(int lines)
{
    const std::string path = LinesFile("in");
    ASSERT_FALSE(path.empty()) << "PTYMODEM_DIR or TAVRIN_TEST_PTS missing";
    WriteWholeFile(path, std::to_string(lines) + "\n");
    ASSERT_EQ(ReadWholeFile(path), std::to_string(lines) + "\n");
}

struct TProgramLines {
    int lines = -1;  // DTR/RTS bits; -1 when ptymodem wrote nothing yet
    int brk = -1;
};

inline TProgramLines ProgramLines()
{
    TProgramLines own;
    std::sscanf(ReadWholeFile(LinesFile("out")).c_str(), "%d %d", &own.lines, &own.brk);
    return own;
}
