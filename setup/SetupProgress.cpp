// The launcher's progress dialog and the waits that keep it alive.
#include "Setup.h"

#include "DialogHelper.h"
#include "SetupSettings.h"
#include "resource.h"

#include <commctrl.h>

namespace {

void PlaceInCorner(HWND dialog)
{
    RECT desktop{};
    RECT window{};
    GetClientRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    SetWindowPos(dialog, nullptr, desktop.right - height / 2 - width, desktop.bottom - height / 2 - height, 0, 0,
        SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The splash stays in view: the dialog goes under it when the screen has room, else it
// keeps its place.
void PlaceBelowSplash(HWND dialog, HWND splash)
{
    if (!splash || !IsWindowVisible(splash)) return;
    RECT picture{};
    RECT window{};
    RECT desktop{};
    GetWindowRect(splash, &picture);
    GetWindowRect(dialog, &window);
    GetClientRect(GetDesktopWindow(), &desktop);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int top = picture.bottom + 8;
    if (top + height > desktop.bottom) return;
    const int left = picture.left + ((picture.right - picture.left) - width) / 2;
    SetWindowPos(dialog, nullptr, left < 0 ? 0 : left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    return DialogProcedureBarrier(dialog, FALSE, [&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG: {
            auto* settings = reinterpret_cast<CSetupSettings*>(lparam);
            SetWindowLongPtrW(dialog, DWLP_USER, lparam);
            if (settings) {
                SetDlgItemTextW(dialog, IDCANCEL, settings->LoadLocalizedString(IDS_CANCEL).c_str());
                SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT,
                    settings->FormatLocalizedString(IDS_PREPARING, settings->GetProductName().c_str()).c_str());
                SetWindowTextW(dialog, CDialogHelper(settings).GetDialogCaption(false).c_str());
                if (settings->SmallProgress) PlaceInCorner(dialog);
            }
            SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 100);
            EnableWindow(GetDlgItem(dialog, IDC_PROGRESS_SECOND), FALSE);
            EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
            return TRUE;
        }
        case WM_COMMAND:
            // Esc reaches here as IDCANCEL also while the button is off.
            if (LOWORD(wparam) == IDCANCEL && IsWindowEnabled(GetDlgItem(dialog, IDCANCEL))) {
                setup_state::cancel_flag = 1;
                return TRUE;
            }
            return FALSE;
        case WM_SYSCOMMAND:
            // No way out while the cancel button is off.
            if ((wparam & 0xFFF0) == SC_CLOSE && !IsWindowEnabled(GetDlgItem(dialog, IDCANCEL))) return TRUE;
            return FALSE;
        default:
            return FALSE;
        }
    });
}

}  // namespace

HRESULT CSetup::ShowProgressDialog()
{
    if (!settings_->IsUiShown()) return 0;
    progress_dialog_ = CDialogHelper(settings_.get()).CreateLocalizedDialog(IDD_PROGRESS, nullptr, ProgressDialogProc,
        reinterpret_cast<LPARAM>(settings_.get()), 0);
    if (!progress_dialog_) {
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_UNEXPECTED;
    }
    highest_position_ = 0;
    PlaceBelowSplash(progress_dialog_, splash_.Window());
    ShowWindow(progress_dialog_, SW_SHOW);
    SetForegroundWindow(progress_dialog_);
    // The steps that follow pump no messages until the splash wait: paint it now.
    RedrawWindow(progress_dialog_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return 0;
}

void CSetup::SetProgressPosition(int position)
{
    if (!progress_dialog_ || position <= highest_position_) return;
    SendDlgItemMessageW(progress_dialog_, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    UpdateWindow(GetDlgItem(progress_dialog_, IDC_PROGRESS_BAR));
    highest_position_ = position;
}

bool CSetup::PumpMessages()
{
    MSG message;
    while (!setup_state::cancel_flag && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (progress_dialog_ && IsDialogMessageW(progress_dialog_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return setup_state::cancel_flag != 0;
}

bool CSetup::TimedWait(DWORD milliseconds)
{
    if (!settings_->IsUiShown()) return setup_state::cancel_flag != 0;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD passed = GetTickCount() - start;
        if (setup_state::cancel_flag || passed >= milliseconds) break;
        const DWORD left = milliseconds - passed;
        // Wakes for input at once, so a cancel is seen without waiting out the second.
        MsgWaitForMultipleObjectsEx(0, nullptr, left < 1000 ? left : 1000, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        PumpMessages();
    }
    return setup_state::cancel_flag != 0;
}

bool CSetup::WaitForSplashTime()
{
    // Without a splash on the screen there is nothing to keep up.
    if (!splash_.Window()) return setup_state::cancel_flag != 0;
    // The tick count wraps after 49.7 days: the time shown is an unsigned difference.
    const ULONGLONG wanted = static_cast<ULONGLONG>(settings_->SplashTime) * 1000;
    const DWORD shown = GetTickCount() - splash_tick_;
    const ULONGLONG left = wanted > shown ? wanted - shown : 0;
    const bool cancelled = TimedWait(static_cast<DWORD>(left < INFINITE ? left : INFINITE - 1));
    if (cancelled) setup_state::cancel_flag = 0;
    return cancelled;
}

void CSetup::CloseProgressDialog()
{
    if (!progress_dialog_) return;
    if (IsWindow(progress_dialog_) && IsWindowVisible(progress_dialog_) && engine_) {
        qv::com_ptr<IUnknown> ui;
        if (SUCCEEDED(engine_->QueryInterface(IID_IRURavurUi, reinterpret_cast<void**>(ui.put()))) && ui) {
            qv::com_ptr<IRURavurProgressWindow> taker;
            if (SUCCEEDED(ui->QueryInterface(IID_IRURavurProgressWindow, reinterpret_cast<void**>(taker.put()))) && taker)
                taker->SetProgressWindow(progress_dialog_);
        }
    }
    if (wizard_ == progress_dialog_) wizard_ = nullptr;
    if (IsWindow(progress_dialog_)) DestroyWindow(progress_dialog_);
    progress_dialog_ = nullptr;
}
