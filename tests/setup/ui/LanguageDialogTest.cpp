#include "LanguageDialog.h"

#include "DialogAnswer.h"
#include "ScratchFolder.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr HRESULT cancelled = static_cast<HRESULT>(0x80042000);

zString fixture_setup_ini()
{
    wchar_t full[MAX_PATH];
    GetFullPathNameW(L"fixtures\\languages\\setup.ini", MAX_PATH, full, nullptr);
    return zString(full);
}

TEST(ShouldShowLanguageDialog, OnlyWithAChoiceAndAUserInterface)
{
    struct Row {
        const char* name;
        std::vector<LANGID> languages;
        bool enabled, silent, automatic, hide_usd, reboot;
        bool expected;
    } rows[] = {
        {"two languages, enabled", {0x409, 0x407}, true, false, false, false, false, true},
        {"one language skips it", {0x409}, true, false, false, false, false, false},
        {"no language skips it", {}, true, false, false, false, false, false},
        {"not enabled by setup.ini", {0x409, 0x407}, false, false, false, false, false, false},
        {"silent", {0x409, 0x407}, true, true, false, false, false, false},
        {"automatic", {0x409, 0x407}, true, false, true, false, false, false},
        {"no start-up dialogs", {0x409, 0x407}, true, false, false, true, false, false},
        {"after a restart", {0x409, 0x407}, true, false, false, false, true, false},
    };
    for (const Row& row : rows) {
        CSetupSettings settings;
        settings.languages = row.languages;
        settings.EnableLangDlg = row.enabled;
        settings.silent = row.silent;
        settings.automatic = row.automatic;
        settings.hide_usd = row.hide_usd;
        settings.reboot = row.reboot;
        EXPECT_EQ(ShouldShowLanguageDialog(settings), row.expected) << row.name;
    }
}

TEST(ShouldShowLanguageDialog, APackageWithOneLanguage)
{
    const scratch_folder folder(L"language_dialog");
    const std::string text = "[Languages]\r\nSupported=0x0407\r\nEnableLangDlg=Y\r\n";
    const std::wstring path = folder.write(L"setup.ini", std::vector<unsigned char>(text.begin(), text.end()));
    CSetupSettings settings;
    zString line;
    ASSERT_TRUE(settings.ReadSettings(zString(path), line));
    EXPECT_TRUE(settings.EnableLangDlg);
    EXPECT_FALSE(ShouldShowLanguageDialog(settings));
}

// What the dialog showed when it came up.
struct shown_dialog {
    std::wstring caption, prompt, ok, cancel;
    std::vector<std::wstring> names;
    std::vector<LANGID> ids;
    int selected = -1;
};

shown_dialog read_dialog(HWND box)
{
    shown_dialog out;
    out.caption = window_text(box);
    out.prompt = window_text(GetDlgItem(box, IDC_LANGUAGE_PROMPT));
    out.ok = window_text(GetDlgItem(box, IDOK));
    out.cancel = window_text(GetDlgItem(box, IDCANCEL));
    const HWND list = GetDlgItem(box, IDC_LANGUAGE_LIST);
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t name[260] = L"";
        SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        out.names.push_back(name);
        out.ids.push_back(static_cast<LANGID>(SendMessageW(list, CB_GETITEMDATA, i, 0)));
    }
    out.selected = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
    return out;
}

// The fixture package: English, German and French offered, the dialog enabled.
class LanguageDialog : public testing::Test {
protected:
    void SetUp() override
    {
        zString line;
        ASSERT_TRUE(settings.ReadSettings(fixture_setup_ini(), line));
        ASSERT_TRUE(ShouldShowLanguageDialog(settings));
        settings.SetLanguage(0x407);
    }

    // Runs the dialog; the answerer picks entry `pick` (or none) and presses `button`.
    HRESULT run(int pick, int button)
    {
        dialog_answerer answerer([&](HWND box) {
            shown = read_dialog(box);
            if (pick >= 0) SendDlgItemMessageW(box, IDC_LANGUAGE_LIST, CB_SETCURSEL, pick, 0);
            press(box, button);
        });
        EXPECT_TRUE(answerer.hooked());
        const HRESULT result = ShowLanguageDialog(settings);
        EXPECT_FALSE(answerer.timed_out());
        boxes = answerer.boxes();
        return result;
    }

    CSetupSettings settings{GetModuleHandleW(nullptr)};
    shown_dialog shown;
    int boxes = 0;
};

TEST_F(LanguageDialog, ShowsTheOfferedLanguagesInTheCurrentOne)
{
    ASSERT_EQ(run(-1, IDOK), S_OK);
    EXPECT_EQ(boxes, 1);
    // In the order of their ids; names from the German file, then from the language's own.
    EXPECT_EQ(shown.ids, (std::vector<LANGID>{0x407, 0x409, 0x40c}));
    EXPECT_EQ(shown.names, (std::vector<std::wstring>{L"Deutsch", L"Englisch", L"Francais"}));
    EXPECT_EQ(shown.selected, 0);
    EXPECT_EQ(shown.prompt, L"Waehlen Sie die Sprache der Installation.");
    EXPECT_EQ(shown.ok, L"O&K");
    EXPECT_EQ(shown.cancel, L"Abbrechen");
    EXPECT_EQ(shown.caption, L"Widget - Installationsassistent Corvane Wizard");
    EXPECT_EQ(settings.GetLanguage(), 0x407);
}

TEST_F(LanguageDialog, OkTakesTheChosenLanguage)
{
    EXPECT_EQ(run(2, IDOK), S_OK);
    EXPECT_EQ(settings.GetLanguage(), 0x40c);
}

TEST_F(LanguageDialog, CancelLeavesTheLanguage)
{
    EXPECT_EQ(run(2, IDCANCEL), cancelled);
    EXPECT_EQ(settings.GetLanguage(), 0x407);
}

TEST_F(LanguageDialog, TheTableTextsInEnglish)
{
    settings.SetLanguage(0x409);
    ASSERT_EQ(run(-1, IDCANCEL), cancelled);
    EXPECT_EQ(shown.names, (std::vector<std::wstring>{L"Deutsch", L"English", L"Francais"}));
    EXPECT_EQ(shown.selected, 1);
    EXPECT_EQ(shown.prompt, L"Select the language for the installation from the choices below.");
    EXPECT_EQ(shown.ok, L"&OK");
    EXPECT_EQ(shown.cancel, L"Cancel");
    EXPECT_EQ(shown.caption, L"Widget - Corvane Wizard");
}

TEST_F(LanguageDialog, ALanguageInNoFileShowsTheSystemsName)
{
    settings.languages.push_back(0x0413);
    wchar_t dutch[260] = L"";
    ASSERT_GT(VerLanguageNameW(0x0413, dutch, 260), 0u);
    ASSERT_EQ(run(3, IDOK), S_OK);
    ASSERT_EQ(shown.names.size(), 4u);
    EXPECT_EQ(shown.names[3], dutch);
    EXPECT_EQ(settings.GetLanguage(), 0x0413);
}

TEST_F(LanguageDialog, ACurrentLanguageNotOfferedSelectsTheFirst)
{
    settings.SetLanguage(0x411);
    ASSERT_EQ(run(-1, IDCANCEL), cancelled);
    EXPECT_EQ(shown.selected, 0);
    EXPECT_EQ(settings.GetLanguage(), 0x411);
}

TEST_F(LanguageDialog, WithoutAUserInterfaceNothingIsShown)
{
    settings.silent = true;
    EXPECT_EQ(run(2, IDCANCEL), S_OK);
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(settings.GetLanguage(), 0x407);
}

}  // namespace
