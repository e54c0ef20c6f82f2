// Whole runs of the launcher inside the test program, on packages laid out in scratch
// folders with the sample engine beside them: the cases that need the thread's own token or
// that must look at the deleter's record before it acts.
#include "Deleter.h"
#include "ScratchFolder.h"
#include "Setup.h"
#include "SwappedSeam.h"
#include "not_an_administrator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::wstring ProgramFolder()
{
    wchar_t module[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module);
    return path.substr(0, path.rfind(L'\\'));
}

std::vector<unsigned char> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The deleter's pauses between tries of a folder that keeps files of the case: not waited.
void NoPause(DWORD) {}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A media folder with setup.ini, the sample engine and its control file, and a stand-in for
// the launcher's own file.
struct Package {
    scratch_folder media{L"setup_run_media"};
    scratch_folder disk1{L"setup_run_disk1"};

    // Each case has a product of its own: cases run side by side, and the launcher lets one
    // instance of a product run at a time.
    Package(const std::string& product_code, const std::string& startup)
    {
        media.write(L"setup.ini", Bytes("[Startup]\r\nProduct=Run Test\r\nProductCode=" + product_code + "\r\n"
                                        "SplashTime=0\r\n" + startup + "[Languages]\r\nDefault=0x0409\r\nSupported=0x0409\r\n"));
        media.write(L"RURavur.ini", Bytes("[Engine]\r\nResult=77\r\n"));
        media.write(L"setup.exe", Bytes("stand-in"));
        EXPECT_TRUE(CopyFileW((ProgramFolder() + L"\\RURavur.dll").c_str(), media.join(L"RURavur.dll").c_str(), FALSE));
    }
    std::wstring Launcher() const { return media.join(L"setup.exe"); }
};

TEST(SetupRun, APackageForAdministratorsEndsWithTheLauncherErrorAndAResultFileForOthers)
{
    Package package("{5A0C2D4E-1B3F-4A6C-9E8D-7F6A5B4C3D21}", "AllUsers=1\r\n");
    int result = 0;
    Deleter deleter;
    {
        const not_an_administrator user;
        ASSERT_TRUE(user.active());
        CSetup setup(&deleter);
        const std::wstring command = L"-s -tempdisk1folder:" + package.disk1.path() + L"\\";
        result = setup.Run(GetModuleHandleW(nullptr), package.Launcher().c_str(), command.c_str());
        EXPECT_EQ(setup.FirstFailure(), setup_needs_administrator);
        EXPECT_EQ(setup.FailureLine(), 418);
    }
    EXPECT_EQ(result, launcher_error_unnumbered);
    const std::string log = ReadFile(package.media.join(L"setup.log"));
    EXPECT_NE(log.find("ResultCode=-5001"), std::string::npos) << log;
    EXPECT_NE(log.find("[Corvane Silent]"), std::string::npos) << log;
    EXPECT_EQ(deleter.self_delete, 0);
    const swapped<void (*)(DWORD)> no_pauses(deleter_seams::wait, NoPause);
    RunDeleter(deleter);
}

// A Disk1 folder typed by hand that is the media folder itself: nothing of the media is
// copied onto itself, handed to the deleter, or removed with the launcher.
TEST(SetupRun, AHandTypedDisk1FolderThatIsTheMediaKeepsTheMediaWhole)
{
    Package package("{5A0C2D4E-1B3F-4A6C-9E8D-7F6A5B4C3D22}", "");
    Deleter deleter;
    int result = 0;
    {
        CSetup setup(&deleter);
        const std::wstring command = L"-s -tempdisk1folder:" + package.media.path() + L"\\";
        result = setup.Run(GetModuleHandleW(nullptr), package.Launcher().c_str(), command.c_str());
    }
    EXPECT_EQ(result, 77);
    // The stand-in is no running program: a self-removal would remove this test program.
    ASSERT_EQ(deleter.self_delete, 0);
    EXPECT_TRUE(deleter.files.empty());
    const swapped<void (*)(DWORD)> no_pauses(deleter_seams::wait, NoPause);
    RunDeleter(deleter);
    for (const wchar_t* name : {L"setup.exe", L"setup.ini", L"RURavur.dll", L"RURavur.ini"})
        EXPECT_TRUE(Exists(package.media.join(name))) << static_cast<const void*>(name);
}

TEST(SetupRun, ALauncherInsideItsDisk1FolderAwayFromItsMediaRemovesItself)
{
    Package package("{5A0C2D4E-1B3F-4A6C-9E8D-7F6A5B4C3D23}", "");
    package.disk1.write(L"setup.exe", Bytes("copy"));
    // The engine runs from the Disk1 folder here: its control file goes with it.
    package.disk1.write(L"RURavur.ini", Bytes("[Engine]\r\nResult=77\r\n"));
    Deleter deleter;
    CSetup setup(&deleter);
    const std::wstring command =
        L"-s -tempdisk1folder:" + package.disk1.path() + L"\\ -media_path:" + package.media.path() + L"\\ -no_deleter";
    EXPECT_EQ(setup.Run(GetModuleHandleW(nullptr), package.disk1.join(L"setup.exe").c_str(), command.c_str()), 77);
    EXPECT_EQ(deleter.self_delete, 1);
    EXPECT_EQ(deleter.skip, 1);
}

}  // namespace
