// tavrin's main window under test: the simulated instrument (tools/vr7sim.py) on a pty COM
// port and behind the stand-in USB driver, the settings file in the user's application-data
// folder, the window made and shown as the program does it.
#pragma once

#include "GuiSupport.h"
#include "IniFiles.h"
#include "InstrumentSupport.h"
#include "Kdmain.h"
#include "KDGlob.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline const char* const DefaultPGM = "PGM10000011000A0000000010";

inline std::string SettingsFolder()
{
    return TSpecialFolders::Folder(26) + "\\RUV\\Tavrin\\V1\\";
}

class MainWindow : public testing::Test {
protected:
    void SetUp() override
    {
        KDGlobStartup();
        // A user a test program runs as (its PROFILE) starts without the folders of one;
        // the shell finds them beside the prefix's own user's.
        char user[256] = {};
        DWORD length = sizeof user;
        GetUserNameA(user, &length);
        const std::string profile = ExtractFilePath(EnvText("USERPROFILE")) + user;
        ForceDirectories(profile + "\\AppData\\Roaming");
        ForceDirectories(profile + "\\Documents");
        ASSERT_EQ(TSpecialFolders::Folder(26), profile + "\\AppData\\Roaming");
        settings = SettingsFolder() + "tavrin.INI";
        DeleteFileA(settings.c_str());
        com = std::stoi(EnvText("TAVRIN_TEST_COM"));
        com2 = std::stoi(EnvText("TAVRIN_TEST_COM2"));
    }
    void TearDown() override
    {
        delete form;
        DeleteFileA(settings.c_str());
    }

    void WriteSettings(int portIndex, int loadCell)
    {
        ForceDirectories(SettingsFolder());
        TIniFile ini(settings);
        ini.WriteInteger("COMMS", "ComPort", portIndex);
        ini.WriteInteger("KOVA", "LoadCell", loadCell);
    }

    void Start()
    {
        form = CreateForm<TMOXLoadForm>();
        // Shown but not activated, the window takes no focus from a test beside it.
        if (ShowActive) form->Show();
        else ShowWindow(form->Handle(), SW_SHOWNOACTIVATE);
        PumpPending();
    }

    bool ShowActive = true;

    int IndexOfPort(int n)
    {
        for (int i = 0; i < form->ComPortCb->Items().Count(); ++i)
            if (form->ComPortCb->Items()[i] == std::to_string(n)) return i;
        return -1;
    }

    // Chooses as the user does: the box's entry (0 is "NONE"), then its change event.
    void ChooseIndex(int index)
    {
        form->ComPortCb->SetItemIndex(index);
        form->ComPortCb->OnChange(form->ComPortCb);
    }
    void ChoosePort(int n)
    {
        const int index = IndexOfPort(n);
        ASSERT_GE(index, 1) << "COM" << n << " is not listed";
        ChooseIndex(index);
    }

    // Types into an edit as the user would and leaves it with the Tab key's focus move.
    void Enter(TWinControl* edit, const std::string& text) { EnterAndLeave(edit, text, form->Edit1); }

    void SetName(const std::string& name)
    {
        form->Edit1->SetText(name);
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const auto& r : sink.Requests) texts.push_back(r.Text);
        return texts;
    }

    std::string settings;
    int com = 0, com2 = 0;
    TRecordingSink sink;
    TMOXLoadForm* form = nullptr;
};

// The window with its port open on one kind of link: the serial one on the instrument's
// pty, or the USB one through a converter the stand-in driver wires to the instrument.
class LinkWindow : public MainWindow, public testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        // The converters are read once at start-up: this one is attached before. Its serial
        // number is the process's own, as is its registry entry.
        const std::string serial = "VR" + std::to_string(GetCurrentProcessId());
        registry.Add(serial, ("COM" + std::to_string(com2)).c_str());
        driver.Configure(TStandInDriver::Device(serial));
        Start();
        ChoosePort(GetParam() == PortModeUSB ? com2 : com);
        ASSERT_EQ(form->PortMode(), GetParam());
        ASSERT_TRUE(form->Download->Enabled());
    }
    TFtdiRegistry registry;
    TStandInDriver driver;
};

inline std::string LinkName(const testing::TestParamInfo<int>& info)
{
    return info.param == PortModeUSB ? "USB" : "Serial";
}
