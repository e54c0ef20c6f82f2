#include "IniFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

class IniFile : public testing::Test {
protected:
    void SetUp() override
    {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        path_ = std::string(folder) + "toolkit_ini_" + std::to_string(GetCurrentProcessId()) + ".ini";
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    void Write(const std::string& text)
    {
        HANDLE f = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(f, text.data(), text.size(), &n, nullptr);
        CloseHandle(f);
    }

    std::string path_;
};

TEST_F(IniFile, ReadsWhatIsThereAndDefaultsTheRest)
{
    Write("[COMMS]\r\nComPort=3\r\nHex=0x1F\r\nDollar=$10\r\nBad=3x\r\nText= spaced \r\n[KOVA]\r\nLoadCell=6\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("COMMS", "ComPort", 0), 3);
    EXPECT_EQ(ini.ReadInteger("comms", "comport", 0), 3);  // names ignore case
    EXPECT_EQ(ini.ReadInteger("COMMS", "Hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("COMMS", "Dollar", 0), 16);
    EXPECT_EQ(ini.ReadInteger("COMMS", "Bad", -1), -1);
    EXPECT_EQ(ini.ReadInteger("COMMS", "Missing", 7), 7);
    EXPECT_EQ(ini.ReadInteger("KOVA", "LoadCell", 0), 6);
    EXPECT_EQ(ini.ReadString("NONE", "x", "def"), "def");
    EXPECT_TRUE(ini.SectionExists("KOVA"));
    EXPECT_FALSE(ini.SectionExists("NONE"));
    EXPECT_TRUE(ini.ValueExists("COMMS", "hex"));
    EXPECT_FALSE(ini.ValueExists("COMMS", "LoadCell"));

    TStringList sections;
    ini.ReadSections(sections);
    ASSERT_EQ(sections.Count(), 2);
    EXPECT_EQ(sections[0], "COMMS");
}

// An integer takes one read of the profile API's classic 2047 characters: a longer value is
// no integer, and a huge one costs one parse of its file, not one per doubling of a buffer.
TEST_F(IniFile, AnIntegerLongerThanTheBufferIsUnreadable)
{
    Write("[COMMS]\r\nLong=" + std::string(3000, '0') + "5\r\nFits=" + std::string(2000, '0') + "5\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("COMMS", "Long", -1), -1);
    EXPECT_EQ(ini.ReadInteger("COMMS", "Fits", -1), 5);
    EXPECT_EQ(ini.ReadString("COMMS", "Long", "").size(), 3001u) << "strings keep their length";
}

TEST_F(IniFile, WritesRoundTripAndCanBeErased)
{
    {
        TIniFile ini(path_);
        ini.WriteInteger("COMMS", "ComPort", 12);
        ini.WriteInteger("KOVA", "LoadCell", 4);
        ini.WriteBool("X", "On", true);
        ini.WriteString("X", "Name", "TEST1");
        ini.UpdateFile();
    }
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("COMMS", "ComPort", 0), 12);
    EXPECT_EQ(ini.ReadInteger("KOVA", "LoadCell", 0), 4);
    EXPECT_TRUE(ini.ReadBool("X", "On", false));
    EXPECT_EQ(ini.ReadString("X", "Name", ""), "TEST1");
    ini.DeleteKey("X", "Name");
    EXPECT_FALSE(ini.ValueExists("X", "Name"));
    ini.EraseSection("X");
    EXPECT_FALSE(ini.SectionExists("X"));
}

TEST_F(IniFile, AWriteThatFailsRaises)
{
    TIniFile ini(path_ + "_missing_folder\\tavrin.INI");
    try {
        ini.WriteInteger("COMMS", "ComPort", 1);
        FAIL() << "the write into a missing folder passed";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini.FileName());
    }
}

}  // namespace
