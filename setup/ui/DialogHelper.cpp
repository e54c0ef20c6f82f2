#include "DialogHelper.h"

#include "trace_log.h"
#include "win32_exception.h"

#include <cstring>

namespace ui_seams {
message_box_fn message_box = MessageBoxW;
}  // namespace ui_seams

namespace {

const wchar_t corvane[] = L"Corvane";
const wchar_t corvane_wizard[] = L"Corvane Wizard";
constexpr UINT ids_wizard = 1815;
constexpr UINT ids_product_wizard = 1887;
constexpr size_t template_slack = 64;

}  // namespace

void TraceDialogFailure(HWND window) noexcept
{
    qv::TraceRecord(L"UnhandledException", L"Dialog", L"Window=%p", static_cast<void*>(window));
}

HINSTANCE CDialogHelper::Module() const
{
    const HINSTANCE instance = settings_ ? settings_->GetInstance() : nullptr;
    return instance ? instance : GetModuleHandleW(nullptr);
}

std::vector<BYTE> CDialogHelper::LoadLocalizedTemplate(UINT templateId, unsigned flags) const
{
    const HINSTANCE module = Module();
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    if (!found) throw qv::win32_exception(GetLastError() ? GetLastError() : ERROR_RESOURCE_NAME_NOT_FOUND);
    const DWORD size = SizeofResource(module, found);
    const HGLOBAL loaded = size ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) throw qv::win32_exception(GetLastError() ? GetLastError() : ERROR_RESOURCE_DATA_NOT_FOUND);
    std::vector<BYTE> dialog(size + template_slack, 0);
    std::memcpy(dialog.data(), data, size);
    // The language's font (unless dialog_keep_font) and the mirrored layout of a right-to-left
    // language are written into `dialog` here once the dressed interface comes.
    (void)flags;
    return dialog;
}

INT_PTR CDialogHelper::RunLocalizedDialog(UINT templateId, HWND parent, DLGPROC procedure, LPARAM parameter,
                                          INT_PTR defaultResult, unsigned flags) const
{
    if (!(flags & dialog_always) && !UiShown()) return defaultResult;
    const std::vector<BYTE> dialog = LoadLocalizedTemplate(templateId, flags);
    return DialogBoxIndirectParamW(Module(), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), parent, procedure,
                                   parameter);
}

HWND CDialogHelper::CreateLocalizedDialog(UINT templateId, HWND parent, DLGPROC procedure, LPARAM parameter,
                                          unsigned flags) const
{
    if (!(flags & dialog_always) && !UiShown()) return nullptr;
    const std::vector<BYTE> dialog = LoadLocalizedTemplate(templateId, flags);
    return CreateDialogIndirectParamW(Module(), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), parent, procedure,
                                      parameter);
}

zString CDialogHelper::GetDefaultCaption(bool wizard)
{
    return zString(wizard ? corvane_wizard : corvane);
}

zString CDialogHelper::GetDialogCaption(bool wizard) const
{
    if (!settings_) return GetDefaultCaption(true);
    const zString product = settings_->GetProductName();
    zString text = wizard || product.empty() ? settings_->LoadLocalizedString(ids_wizard)
                                             : settings_->FormatLocalizedString(ids_product_wizard, product.c_str());
    if (text.empty() || text.view().find(GetDefaultCaption(false).view()) == std::wstring_view::npos)
        text += zString(L" ") + corvane_wizard;
    return text;
}

int CDialogHelper::ShowSetupMessageBox(HWND owner, const zString& text, UINT type, int defaultAnswer,
                                       unsigned flags) const
{
    if (!(flags & dialog_always) && !UiShown()) return defaultAnswer;
    return ShowMessageBoxRtl(owner, text, GetDialogCaption(false), type, settings_ && settings_->IsRtlLanguage());
}

int CDialogHelper::ShowMessageBoxRtl(HWND owner, const zString& text, const zString& caption, UINT type, bool rtl)
{
    if (rtl) type |= MB_RIGHT | MB_RTLREADING;
    return ui_seams::message_box(owner, text.c_str(), caption.c_str(), type);
}

bool CDialogHelper::SetDialogItemLocalizedText(HWND window, int item, UINT id) const
{
    const zString text = settings_ ? settings_->LoadLocalizedString(id) : zString();
    return SendDlgItemMessageW(window, item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
}

bool CDialogHelper::SetDialogItemLocalizedText(HWND window, int item, UINT id, HFONT font) const
{
    SendDlgItemMessageW(window, item, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return SetDialogItemLocalizedText(window, item, id);
}
