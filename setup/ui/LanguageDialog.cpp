#include "LanguageDialog.h"

#include "DialogHelper.h"
#include "resource.h"
#include "win32_exception.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr HRESULT cancelled = static_cast<HRESULT>(0x80042000);

HRESULT failure_from(DWORD error)
{
    return error ? static_cast<HRESULT>(0x80070000u | error) : E_UNEXPECTED;
}

CSetupSettings* settings_of(HWND window)
{
    return reinterpret_cast<CSetupSettings*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

INT_PTR on_init(HWND window, CSetupSettings& settings)
{
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&settings));
    const CDialogHelper helper(&settings);

    // In the order of the language ids, as a map of them would give.
    std::vector<LANGID> offered = settings.languages;
    std::sort(offered.begin(), offered.end());
    offered.erase(std::unique(offered.begin(), offered.end()), offered.end());
    const HWND list = GetDlgItem(window, IDC_LANGUAGE_LIST);
    for (const LANGID id : offered) {
        const zString name = settings.GetLanguageDisplayName(id);
        const LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        if (at >= 0) SendMessageW(list, CB_SETITEMDATA, at, id);
    }
    // Looked up once all are in: a sorting combo box moves entries as later ones arrive.
    LRESULT selected = 0;
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        if (static_cast<LANGID>(SendMessageW(list, CB_GETITEMDATA, i, 0)) == settings.GetLanguage()) selected = i;
    SendMessageW(list, CB_SETCURSEL, selected, 0);

    helper.SetDialogItemLocalizedText(window, IDOK, IDS_OK);
    helper.SetDialogItemLocalizedText(window, IDCANCEL, IDS_CANCEL);
    helper.SetDialogItemLocalizedText(window, IDC_LANGUAGE_PROMPT, IDS_LANGUAGE_PROMPT);
    SetWindowTextW(window, helper.GetDialogCaption(false).c_str());
    SetForegroundWindow(window);
    SetActiveWindow(window);
    return TRUE;
}

INT_PTR on_command(HWND window, WORD command)
{
    if (command == IDOK) {
        const HWND list = GetDlgItem(window, IDC_LANGUAGE_LIST);
        const LRESULT at = SendMessageW(list, CB_GETCURSEL, 0, 0);
        // Nothing selected keeps the language: an item's data would be CB_ERR.
        if (at != CB_ERR)
            if (CSetupSettings* settings = settings_of(window))
                settings->SetLanguage(static_cast<LANGID>(SendMessageW(list, CB_GETITEMDATA, at, 0)));
        EndDialog(window, 1);
    } else if (command == IDCANCEL) {
        EndDialog(window, 2);
    }
    return TRUE;
}

}  // namespace

bool ShouldShowLanguageDialog(const CSetupSettings& settings)
{
    if (settings.silent || settings.automatic || !settings.EnableLangDlg) return false;
    if (settings.hide_usd || settings.reboot) return false;
    // One language leaves nothing to choose, none nothing to show.
    return settings.languages.size() >= 2;
}

HRESULT ShowLanguageDialog(CSetupSettings& settings)
{
    const CDialogHelper helper(&settings);
    INT_PTR result = 0;
    try {
        result = helper.RunLocalizedDialog(IDD_LANGUAGE, nullptr, LanguageDialogProc,
                                           reinterpret_cast<LPARAM>(&settings), 1, 0);
    } catch (const qv::win32_exception& e) {
        return failure_from(e.error());
    }
    if (result == 0 || result == -1) return failure_from(GetLastError());
    return result == 1 ? S_OK : cancelled;
}

INT_PTR CALLBACK LanguageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DialogProcedureBarrier(window, FALSE, [&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG:
            try {
                if (!lParam) throw std::invalid_argument("no settings");
                return on_init(window, *reinterpret_cast<CSetupSettings*>(lParam));
            } catch (...) {
                // A dialog that cannot show its languages ends as one that could not run.
                SetLastError(ERROR_INTERNAL_ERROR);
                EndDialog(window, -1);
                throw;
            }
        case WM_COMMAND:
            return on_command(window, LOWORD(wParam));
        default:
            return FALSE;
        }
    });
}
