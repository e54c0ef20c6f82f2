#include "ErrorReport.h"

#include "DialogHelper.h"
#include "Setup.h"
#include "SetupSettings.h"
#include "inifilex.h"
#include "resource.h"
#include "system_folders.h"
#include "system_info.h"
#include "trace_log.h"

#include <oleauto.h>
#include <shellapi.h>

namespace {

struct error_dialog_context {
    CSetup* setup;
    zString report;
    zString info;
    bool details_shown = false;
    int details_height = 0;  // what the dialog grows by when the report shows
};

zString ShortCode(LONG error_number, HRESULT code)
{
    zString text;
    text.format(L"%ld : 0x%x", static_cast<long>(error_number), static_cast<unsigned>(code));
    return text;
}

zString ComErrorDescription()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR description = nullptr;
    zString text;
    if (SUCCEEDED(info->GetDescription(&description)) && description) text = description;
    SysFreeString(description);
    info->Release();
    return text;
}

void CopyToClipboard(HWND owner, const zString& text)
{
    if (!OpenClipboard(owner)) return;
    EmptyClipboard();
    const size_t bytes = (text.length() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* place = GlobalLock(memory)) {
            CopyMemory(place, text.c_str(), bytes);
            GlobalUnlock(memory);
            if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
        } else {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
}

// The buttons sit under the report while it shows and under the summary while it does not.
void MoveButtons(HWND dialog, int by)
{
    for (const int item : {IDOK, IDC_ERROR_DETAILS, IDC_ERROR_COPY, IDC_ERROR_REPORT}) {
        const HWND button = GetDlgItem(dialog, item);
        RECT place{};
        GetWindowRect(button, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(button, nullptr, place.left, place.top + by, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT window{};
    GetWindowRect(dialog, &window);
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, window.bottom - window.top + by,
        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowDetails(HWND dialog, error_dialog_context& context, bool show)
{
    if (show != context.details_shown) MoveButtons(dialog, show ? context.details_height : -context.details_height);
    context.details_shown = show;
    ShowWindow(GetDlgItem(dialog, IDC_ERROR_TEXT), show ? SW_SHOW : SW_HIDE);
    CSetupSettings* settings = context.setup->Settings();
    const zString label = (settings ? settings->LoadLocalizedString(IDS_ERROR_DETAILS) : zString()) + (show ? L" <<" : L" >>");
    SetDlgItemTextW(dialog, IDC_ERROR_DETAILS, label.c_str());
}

INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    return DialogProcedureBarrier(dialog, FALSE, [&]() -> INT_PTR {
        auto* context = reinterpret_cast<error_dialog_context*>(GetWindowLongPtrW(dialog, DWLP_USER));
        switch (message) {
        case WM_INITDIALOG: {
            context = reinterpret_cast<error_dialog_context*>(lparam);
            SetWindowLongPtrW(dialog, DWLP_USER, lparam);
            CSetupSettings* settings = context->setup->Settings();
            if (settings) {
                SetWindowTextW(dialog, CDialogHelper(settings).GetDialogCaption(false).c_str());
                const zString summary = settings->LoadLocalizedString(IDS_ERROR_SUMMARY) + L"\r\n\r\n" +
                                        ShortCode(context->setup->LauncherError(), context->setup->FirstFailure());
                SetDlgItemTextW(dialog, IDC_ERROR_SUMMARY, summary.c_str());
                SetDlgItemTextW(dialog, IDC_ERROR_COPY, settings->LoadLocalizedString(IDS_ERROR_COPY).c_str());
                SetDlgItemTextW(dialog, IDC_ERROR_REPORT, settings->LoadLocalizedString(IDS_ERROR_REPORT).c_str());
                SetDlgItemTextW(dialog, IDOK, settings->LoadLocalizedString(IDS_OK).c_str());
                EnableWindow(GetDlgItem(dialog, IDC_ERROR_REPORT), !settings->GetErrorReportUrl().empty());
            }
            SetDlgItemTextW(dialog, IDC_ERROR_TEXT, context->report.c_str());
            RECT report{};
            GetWindowRect(GetDlgItem(dialog, IDC_ERROR_TEXT), &report);
            context->details_height = report.bottom - report.top;
            context->details_shown = true;  // as the template lays it out
            ShowDetails(dialog, *context, false);
            SetForegroundWindow(dialog);
            return TRUE;
        }
        case WM_COMMAND:
            if (!context) return FALSE;
            switch (LOWORD(wparam)) {
            case IDOK:
            case IDCANCEL:
                EndDialog(dialog, LOWORD(wparam));
                return TRUE;
            case IDC_ERROR_DETAILS:
                ShowDetails(dialog, *context, !context->details_shown);
                return TRUE;
            case IDC_ERROR_COPY: {
                CSetupSettings* settings = context->setup->Settings();
                const zString caption = settings ? CDialogHelper(settings).GetDialogCaption(false) : zString();
                CopyToClipboard(dialog, caption + L"\t" +
                    ShortCode(context->setup->LauncherError(), context->setup->FirstFailure()) + L"\r\n" +
                    context->info + L"\r\n" + context->report);
                return TRUE;
            }
            case IDC_ERROR_REPORT: {
                CSetupSettings* settings = context->setup->Settings();
                if (!settings) return TRUE;
                const zString address = ErrorReportAddress(settings->GetErrorReportUrl(),
                    context->setup->LauncherError(), context->setup->FirstFailure(), context->info);
                ShellExecuteW(dialog, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
                return TRUE;
            }
            default:
                return FALSE;
            }
        default:
            return FALSE;
        }
    });
}

}  // namespace

zString BuildErrorReport(const error_report_facts& facts)
{
    zString report;
    zString part;
    report += part.format(L">%s (%d)\r\n", facts.source.c_str(), facts.line);
    zString vendor = facts.company;
    if (!facts.company_url.empty()) vendor += L" (" + facts.company_url + L")";
    report += part.format(L"PAPP:%s\r\nPVENDOR:%s\r\nPGUID:%s\r\n", facts.product.c_str(), vendor.c_str(),
        facts.product_code.c_str());
    report += L"$";
    report += facts.internal_version;
    if (facts.web) report += L"WEB";
    if (facts.package) report += L"PAK";
    report += L"\r\n@";
    report += facts.os_name;
    report += part.format(L" Service Pack %ld", static_cast<long>(facts.service_pack));
    report += part.format(L" (%ld) ", static_cast<long>(facts.build));
    report += L"\r\nIE Version: ";
    report += facts.ie_version;
    return report;
}

zString PercentEncode(const zString& text)
{
    // UTF-8, every byte outside the unreserved set as %XX.
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.length()), nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.length()), utf8.data(), bytes, nullptr, nullptr);
    static constexpr wchar_t hex[] = L"0123456789ABCDEF";
    zString out;
    for (const unsigned char c : utf8) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<wchar_t>(c);
        } else {
            out += L'%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

zString ErrorReportAddress(const zString& address, LONG error_number, HRESULT code, const zString& info)
{
    zString out;
    zString number;
    const std::wstring_view text = address.view();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%' && i + 1 < text.size()) {
            const wchar_t kind = text[i + 1];
            if (kind == L'd') {
                out += number.format(L"%ld", static_cast<long>(error_number));
                ++i;
                continue;
            }
            if (kind == L'x') {
                out += number.format(L"%x", static_cast<unsigned>(code));
                ++i;
                continue;
            }
            if (kind == L's') {
                out += PercentEncode(info);
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

void ReportUnhandledError(CSetup& setup, bool message_box_only)
{
    if (setup.LauncherError() == 0) setup.SetLauncherError(launcher_error_unnumbered);
    const zString info = ComErrorDescription();
    CSetupSettings* settings = setup.Settings();

    error_report_facts facts;
    facts.source = setup.FailureSource();
    facts.line = setup.FailureLine();
    if (settings) {
        facts.product = settings->GetProductName();
        facts.company = settings->GetCompanyName();
        facts.company_url = settings->GetCompanyUrl();
        facts.product_code = settings->GetProductCode();
        facts.web = settings->media_on_web;
        facts.package = settings->package;
    }
    wchar_t module[MAX_PATH + 1] = {};
    GetModuleFileNameW(SetupInstance(), module, MAX_PATH);
    facts.internal_version = qv::GetInternalVersion(module);
    facts.os_name = qv::GetOsDisplayName(0);
    facts.service_pack = qv::GetServicePackMajor();
    facts.build = qv::GetOsBuildNumber();
    facts.ie_version = qv::GetIeVersion();
    const zString report = BuildErrorReport(facts);

    qv::TraceRecord(L"UnhandledException", L"RURavurDLLOp", L"ErrorCode=%ld\tException=0x%08lx\tErrorInformation=%s",
        static_cast<long>(setup.LauncherError()), static_cast<unsigned long>(setup.FirstFailure()), info.c_str());
    WriteSilentResultLog(setup, setup.LauncherError(), info);
    if (!settings) return;

    INT_PTR answer = 0;
    if (!message_box_only) {
        error_dialog_context context{&setup, report, info};
        try {
            answer = CDialogHelper(settings).RunLocalizedDialog(IDD_ERROR, nullptr, ErrorDialogProc, reinterpret_cast<LPARAM>(&context), 0, 0);
        } catch (...) {
            answer = 0;  // no dialog: the message box below says it
        }
    }
    if (message_box_only || answer == 0 || answer == -1)
        CDialogHelper(settings).ShowSetupMessageBox(nullptr, report, MB_ICONERROR | MB_OK, IDOK, 0);
}

void WriteSilentResultLog(CSetup& setup, LONG result_code, const zString& error_info)
{
    CSetupSettings* settings = setup.Settings();
    if (!settings || !settings->silent) return;
    zString path = settings->GetResultLogPath();
    if (path.empty())
        path = (settings->media_on_web ? qv::GetTempFolder() : settings->GetMediaFolder()).add_backslash() + L"setup.log";
    try {
        qv::inifilex result;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) result.load(path, L"=", false);
        result.set_string(L"Corvane Silent", L"File", L"Log File");
        result.set_string(L"Corvane Silent", L"Version", L"v7.00");
        zString code;
        code.format(L"%ld", static_cast<long>(result_code));
        result.set_string(L"ResponseResult", L"ResultCode", code);
        result.set_string(L"ExtendedError", L"ErrorInfo", error_info);
        result.save(path, 0, -1, false);
    } catch (...) {
        // A result file that cannot be written is left alone.
    }
}
