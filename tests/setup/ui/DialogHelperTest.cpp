#include "DialogHelper.h"

#include "DialogAnswer.h"
#include "SwappedSeam.h"
#include "resource.h"
#include "win32_exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string narrow(std::wstring_view s)
{
    std::string out;
    for (const wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

zString fixture_setup_ini()
{
    wchar_t full[MAX_PATH];
    GetFullPathNameW(L"fixtures\\languages\\setup.ini", MAX_PATH, full, nullptr);
    return zString(full);
}

// What the message box seam was asked, and its answer.
struct box_calls {
    int count = 0;
    std::wstring text, caption;
    UINT type = 0;
    int answer = IDNO;
};
box_calls calls;

int WINAPI recording_box(HWND, LPCWSTR text, LPCWSTR caption, UINT type)
{
    ++calls.count;
    calls.text = text;
    calls.caption = caption;
    calls.type = type;
    return calls.answer;
}

class DialogHelper : public testing::Test {
protected:
    void SetUp() override
    {
        calls = box_calls();
        settings.setup_ini_path = fixture_setup_ini();
        settings.SetLanguage(0x409);
    }
    CSetupSettings settings{GetModuleHandleW(nullptr)};
    CDialogHelper helper{&settings};
};

TEST_F(DialogHelper, DialogCaptions)
{
    struct Row {
        const char* name;
        LANGID language;
        const wchar_t* product;
        bool wizard;
        const wchar_t* expected;
    } rows[] = {
        {"the product in the table's text", 0x409, L"Widget", false, L"Widget - Corvane Wizard"},
        {"a translation without the name gets it", 0x407, L"Widget", false,
         L"Widget - Installationsassistent Corvane Wizard"},
        {"a translation with the name keeps its form", 0x40c, L"Widget", false, L"Assistant Corvane de Widget"},
        {"no file: the table", 0x411, L"Widget", false, L"Widget - Corvane Wizard"},
        {"the wizard's caption", 0x409, L"Widget", true, L"Corvane Wizard"},
        {"without a product: the wizard's caption", 0x409, L"", false, L"Corvane Wizard"},
        {"the name is looked for with its case", 0x407, L"", false, L"corvane-Assistent Corvane Wizard"},
    };
    for (const Row& row : rows) {
        settings.SetLanguage(row.language);
        settings.Product = row.product;
        EXPECT_EQ(narrow(helper.GetDialogCaption(row.wizard).view()), narrow(row.expected)) << row.name;
    }
    EXPECT_EQ(CDialogHelper::GetDefaultCaption(false), L"Corvane");
    EXPECT_EQ(CDialogHelper::GetDefaultCaption(true), L"Corvane Wizard");
}

TEST_F(DialogHelper, ShowSetupMessageBoxStaysSilentWithoutAUserInterface)
{
    const swapped<ui_seams::message_box_fn> seam(ui_seams::message_box, recording_box);
    struct Row {
        const char* name;
        bool silent, automatic;
        unsigned flags;
        LANGID language;
        int shown;
        int answer;
        UINT type;
    } rows[] = {
        {"shown: the box's answer", false, false, 0, 0x409, 1, IDNO, MB_YESNO},
        {"silent: the default, no window", true, false, 0, 0x409, 0, IDYES, 0},
        {"automatic: the default, no window", false, true, 0, 0x409, 0, IDYES, 0},
        {"silent but always", true, false, dialog_always, 0x409, 1, IDNO, MB_YESNO},
        {"a right-to-left language reads from the right", false, false, 0, 0x40d, 1, IDNO,
         MB_YESNO | MB_RIGHT | MB_RTLREADING},
    };
    settings.rtl_languages = {0x40d};
    for (const Row& row : rows) {
        calls = box_calls();
        settings.silent = row.silent;
        settings.automatic = row.automatic;
        settings.SetLanguage(row.language);
        EXPECT_EQ(helper.ShowSetupMessageBox(nullptr, L"Go on?", MB_YESNO, IDYES, row.flags), row.answer) << row.name;
        EXPECT_EQ(calls.count, row.shown) << row.name;
        if (!row.shown) continue;
        EXPECT_EQ(calls.text, L"Go on?") << row.name;
        EXPECT_EQ(calls.caption, L"Corvane Wizard") << row.name;
        EXPECT_EQ(calls.type, row.type) << row.name;
    }
}

TEST_F(DialogHelper, ShowSetupMessageBoxShowsARealBox)
{
    settings.Product = L"Widget";
    std::wstring caption, text;
    dialog_answerer answerer([&](HWND box) {
        caption = window_text(box);
        press(box, IDNO);
    });
    ASSERT_TRUE(answerer.hooked());
    EXPECT_EQ(helper.ShowSetupMessageBox(nullptr, L"Go on?", MB_YESNO | MB_ICONQUESTION, IDYES, 0), IDNO);
    EXPECT_FALSE(answerer.timed_out());
    EXPECT_EQ(answerer.boxes(), 1);
    EXPECT_EQ(caption, L"Widget - Corvane Wizard");
}

INT_PTR CALLBACK ending_procedure(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    return DialogProcedureBarrier(window, FALSE, [&]() -> INT_PTR {
        if (message != WM_INITDIALOG) return FALSE;
        *reinterpret_cast<HWND*>(lParam) = window;
        EndDialog(window, 42);
        return TRUE;
    });
}

TEST_F(DialogHelper, RunLocalizedDialogGivesTheDialogsResult)
{
    struct Row {
        const char* name;
        bool silent;
        unsigned flags;
        INT_PTR expected;
        bool created;
    } rows[] = {
        {"shown", false, 0, 42, true},
        {"silent: the default result, no dialog", true, 0, 7, false},
        {"silent but always", true, dialog_always, 42, true},
    };
    for (const Row& row : rows) {
        settings.silent = row.silent;
        HWND made = nullptr;
        EXPECT_EQ(helper.RunLocalizedDialog(IDD_LANGUAGE, nullptr, ending_procedure, reinterpret_cast<LPARAM>(&made), 7,
                                            row.flags),
                  row.expected)
            << row.name;
        EXPECT_EQ(made != nullptr, row.created) << row.name;
    }
}

INT_PTR CALLBACK modeless_procedure(HWND window, UINT message, WPARAM, LPARAM)
{
    return DialogProcedureBarrier(window, FALSE, [&]() -> INT_PTR { return message == WM_INITDIALOG; });
}

TEST_F(DialogHelper, CreateLocalizedDialogIsModeless)
{
    const HWND window = helper.CreateLocalizedDialog(IDD_LANGUAGE, nullptr, modeless_procedure, 0, 0);
    ASSERT_NE(window, nullptr);
    EXPECT_NE(GetDlgItem(window, IDC_LANGUAGE_LIST), nullptr);
    EXPECT_TRUE(DestroyWindow(window));

    settings.automatic = true;
    EXPECT_EQ(helper.CreateLocalizedDialog(IDD_LANGUAGE, nullptr, modeless_procedure, 0, 0), nullptr);
    const HWND always = helper.CreateLocalizedDialog(IDD_LANGUAGE, nullptr, modeless_procedure, 0, dialog_always);
    EXPECT_NE(always, nullptr);
    DestroyWindow(always);
}

TEST_F(DialogHelper, AMissingTemplateRaisesTheWin32Exception)
{
    try {
        helper.RunLocalizedDialog(4321, nullptr, modeless_procedure, 0, 0, 0);
        FAIL() << "no exception";
    } catch (const qv::win32_exception& e) {
        EXPECT_EQ(e.error(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    }
    EXPECT_THROW(helper.CreateLocalizedDialog(4321, nullptr, modeless_procedure, 0, 0), qv::win32_exception);
    settings.silent = true;  // nothing is looked for when nothing is shown
    EXPECT_EQ(helper.RunLocalizedDialog(4321, nullptr, modeless_procedure, 0, 5, 0), 5);
}

TEST_F(DialogHelper, TheTemplateIsTheResourceAnd64ZeroBytes)
{
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_LANGUAGE), RT_DIALOG);
    ASSERT_NE(found, nullptr);
    const DWORD size = SizeofResource(nullptr, found);
    const auto* resource = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    const std::vector<BYTE> dialog = helper.LoadLocalizedTemplate(IDD_LANGUAGE, 0);
    ASSERT_EQ(dialog.size(), size + 64);
    EXPECT_EQ(std::vector<BYTE>(dialog.begin(), dialog.begin() + size), std::vector<BYTE>(resource, resource + size));
    EXPECT_EQ(std::vector<BYTE>(dialog.begin() + size, dialog.end()), std::vector<BYTE>(64, 0));
}

TEST_F(DialogHelper, SetDialogItemLocalizedText)
{
    settings.SetLanguage(0x407);
    const HWND window = helper.CreateLocalizedDialog(IDD_LANGUAGE, nullptr, modeless_procedure, 0, 0);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(helper.SetDialogItemLocalizedText(window, IDCANCEL, IDS_CANCEL));
    EXPECT_EQ(window_text(GetDlgItem(window, IDCANCEL)), L"Abbrechen");
    const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_TRUE(helper.SetDialogItemLocalizedText(window, IDOK, IDS_OK, font));
    EXPECT_EQ(window_text(GetDlgItem(window, IDOK)), L"O&K");
    EXPECT_EQ(reinterpret_cast<HFONT>(SendDlgItemMessageW(window, IDOK, WM_GETFONT, 0, 0)), font);
    DestroyWindow(window);
}

TEST(DialogProcedureBarrier, AnExceptionBecomesTheFailedAnswer)
{
    EXPECT_EQ(DialogProcedureBarrier(nullptr, 9, []() -> INT_PTR { throw std::runtime_error("x"); }), 9);
    EXPECT_EQ(DialogProcedureBarrier(nullptr, 9, []() -> INT_PTR { return 3; }), 3);
}

}  // namespace
