// CSetup's answers to the transfers, the engine and the prerequisites.
#include "Setup.h"

#include "SetupSettings.h"
#include "resource.h"

#include <commctrl.h>

namespace {

// {E3259E39-BE60-431C-B26D-BA33F0D02760}
constexpr IID IID_SetupTransferEventsB = {0xe3259e39, 0xbe60, 0x431c, {0xb2, 0x6d, 0xba, 0x33, 0xf0, 0xd0, 0x27, 0x60}};
// {0422AA95-469A-4974-A3BE-137F42C996D6}
constexpr IID IID_SetupTransferEventsC = {0x0422aa95, 0x469a, 0x4974, {0xa3, 0xbe, 0x13, 0x7f, 0x42, 0xc9, 0x96, 0xd6}};

// The 64-bit support program that the engine asks about while it transfers files.
constexpr wchar_t support_program_64[] = L"QVBEW64.exe";
constexpr int support_program_query_limit = 10;
constexpr DWORD rate_display_interval = 100;

HRESULT Answer(LONG* out, LONG value, HRESULT result)
{
    if (!out) return E_POINTER;
    *out = value;
    return result;
}

}  // namespace

int ProgressPosition(int base, ULONGLONG total, ULONGLONG expected) noexcept
{
    constexpr int top = 95;
    if (base >= top) return top;
    if (base < 0) base = 0;
    if (expected == 0) return base;
    ULONGLONG percent = total >= expected ? 100 : total * 100 / expected;
    const int position = base + static_cast<int>(percent * static_cast<ULONGLONG>(top - base) / 100);
    return position > top ? top : position;
}

zString TransferRateText(ULONG bytes_per_second, const zString& kilobytes, const zString& megabytes,
    const zString& per_second)
{
    const bool mega = bytes_per_second >= 1048577;
    const unsigned shift = mega ? 20 : 10;
    const ULONGLONG tenths = (static_cast<ULONGLONG>(bytes_per_second) * 10) >> shift;
    zString text;
    text.format(L"%01d.%01d %s%s", static_cast<int>(tenths / 10), static_cast<int>(tenths % 10),
        (mega ? megabytes : kilobytes).c_str(), per_second.c_str());
    return text;
}

HRESULT STDMETHODCALLTYPE CSetup::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, qv::IID_ISetupTransferEvents) ||
        IsEqualIID(iid, IID_SetupTransferEventsB) || IsEqualIID(iid, IID_SetupTransferEventsC)) {
        *out = static_cast<qv::ISetupTransferEvents*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CSetup::OnTransferBegin(LPCWSTR source, LPCWSTR target)
{
    return listener_ ? listener_->OnTransferBegin(source, target) : 1;
}

HRESULT STDMETHODCALLTYPE CSetup::OnTransferEnd(LPCWSTR source, HRESULT result)
{
    return listener_ ? listener_->OnTransferEnd(source, result) : 1;
}

HRESULT STDMETHODCALLTYPE CSetup::OnFileBegin(LPCWSTR name, ULONGLONG size)
{
    return listener_ ? listener_->OnFileBegin(name, size) : 1;
}

HRESULT STDMETHODCALLTYPE CSetup::OnFileEnd(LPCWSTR name, HRESULT result)
{
    return listener_ ? listener_->OnFileEnd(name, result) : 1;
}

HRESULT STDMETHODCALLTYPE CSetup::OnProgress(ULONG bytes)
{
    // One waiting message per call keeps the window alive during a long transfer.
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!wizard_ || !IsDialogMessageW(wizard_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (listener_) return listener_->OnProgress(bytes);

    transferred_ += bytes;
    if (wizard_) {
        const int position = ProgressPosition(base_position_, transferred_, expected_);
        if (position != last_position_) {
            SendDlgItemMessageW(wizard_, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
            last_position_ = position;
        }
    }
    if (setup_state::cancel_flag) {
        setup_state::cancel_flag = 0;
        return setup_cancelled;
    }
    return 0;
}

HRESULT STDMETHODCALLTYPE CSetup::QueryValueA(LONG* value)
{
    return Answer(value, 6, 0);
}

HRESULT STDMETHODCALLTYPE CSetup::QueryValueB(LONG* value)
{
    return Answer(value, 5, 0);
}

HRESULT STDMETHODCALLTYPE CSetup::QueryValueC(LONG* value)
{
    return Answer(value, 3, 0);
}

HRESULT STDMETHODCALLTYPE CSetup::OnFileQuery(LPCWSTR file_name, LONG* value)
{
    if (!value) return E_POINTER;
    const zString name = file_name ? zString(file_name).file_name_part() : zString();
    if (name == support_program_64 && support_program_queries_ < support_program_query_limit) {
        ++support_program_queries_;
        if ((state_ == 5 || state_ == 100) && deleter_) deleter_->files.push_back(zString(file_name));
    }
    *value = static_cast<LONG>(state_);
    return 0;
}

HRESULT STDMETHODCALLTYPE CSetup::QueryValueD(LONG, LONG, LONG, LONG* value)
{
    return Answer(value, 3, 0);
}

HRESULT STDMETHODCALLTYPE CSetup::QueryA(LONG)
{
    return 1;
}

HRESULT STDMETHODCALLTYPE CSetup::QueryB(LONG)
{
    return 1;
}

HRESULT STDMETHODCALLTYPE CSetup::QueryValueE(LONG, LONG* value)
{
    return Answer(value, 6, 0);
}

HRESULT STDMETHODCALLTYPE CSetup::OnTransferRate(ULONG bytes_per_second)
{
    if (!settings_ || !settings_->media_on_web || bytes_per_second == 0 || bytes_per_second == last_rate_) return 0;
    const DWORD now = GetTickCount();
    // A rate is shown once before (last_rate_ is never 0 then): the next waits its interval.
    if (last_rate_ != 0 && now - last_rate_tick_ < rate_display_interval) return 0;
    last_rate_tick_ = now;
    last_rate_ = bytes_per_second;
    if (wizard_) {
        const zString text = TransferRateText(bytes_per_second, settings_->LoadLocalizedString(IDS_KILOBYTES),
            settings_->LoadLocalizedString(IDS_MEGABYTES), settings_->LoadLocalizedString(IDS_PER_SECOND));
        SetDlgItemTextW(wizard_, IDC_PROGRESS_RATE, text.c_str());
    }
    return 0;
}

HRESULT STDMETHODCALLTYPE CSetup::OnTransferError(HWND, DWORD, DWORD, LONG* answer)
{
    return Answer(answer, 3, 1);
}

HRESULT STDMETHODCALLTYPE CSetup::ForwardQuery(IUnknown* argument)
{
    return listener_ ? listener_->ForwardQuery(argument) : 1;
}

HRESULT STDMETHODCALLTYPE CSetup::GetSettingText(BSTR* text)
{
    if (!text) return E_POINTER;
    *text = settings_ ? SysAllocString(settings_->GetSetupIniPath().c_str()) : SysAllocString(L"");
    return *text ? S_OK : E_OUTOFMEMORY;
}

void CSetup::AddFileToDelete(const zString& path)
{
    if (deleter_) deleter_->files.push_back(path);
}

void CSetup::AddFolderToDelete(const zString& path)
{
    if (deleter_) deleter_->folders.push_back(path);
}

void CSetup::SetProgress(int position)
{
    base_position_ = 0;
    SetProgressPosition(position);
}

int CSetup::OnPrerequisitesDone()
{
    if (settings_ && !settings_->hide_progress && wizard_) ShowWindow(wizard_, SW_SHOW);
    if (wizard_) {
        EnableWindow(GetDlgItem(wizard_, IDCANCEL), TRUE);
        EnableWindow(GetDlgItem(wizard_, IDC_PROGRESS_SECOND), TRUE);
    }
    return 1;
}

zString CSetup::GetSetupIniString(const zString& section, const zString& key)
{
    return settings_ ? settings_->GetSetupIniString(section, key) : zString();
}

void CSetup::SetStatusText(const zString& text)
{
    if (wizard_) SetDlgItemTextW(wizard_, IDC_PROGRESS_TEXT, text.c_str());
}

zString CSetup::GetRelaunchSwitches()
{
    return settings_ ? settings_->GetRelaunchSwitches() : zString();
}

void CSetup::SetExpectedTransfer(ULONGLONG total, int base) noexcept
{
    expected_ = total;
    transferred_ = 0;
    base_position_ = base;
    last_position_ = -1;
}
