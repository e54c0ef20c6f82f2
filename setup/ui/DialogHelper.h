// The dialogs and message boxes of the launcher, in the language of the run: templates from the
// program's resources, captions, and message boxes that stay silent without a user interface.
#pragma once

#include "SetupSettings.h"
#include "zString.h"

#include <windows.h>

#include <vector>

// The services Wine cannot show in a unit test; the program never changes them.
namespace ui_seams {
using message_box_fn = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
extern message_box_fn message_box;  // MessageBoxW
}  // namespace ui_seams

// Flags of the dialog runners and of ShowSetupMessageBox.
enum : unsigned {
    dialog_keep_font = 1,  // the template keeps its own font
    dialog_always = 2,     // shown even when the run has no user interface
};

// A dialog procedure's body behind the barrier that no exception crosses: an exception is
// traced and answered with `failed`.
template <class Body>
INT_PTR DialogProcedureBarrier(HWND window, INT_PTR failed, Body&& body) noexcept;

class CDialogHelper {
public:
    explicit CDialogHelper(CSetupSettings* settings) : settings_(settings) {}

    // Modal; the dialog's result, or `defaultResult` when no interface is shown and
    // dialog_always is not set. A missing template raises qv::win32_exception.
    INT_PTR RunLocalizedDialog(UINT templateId, HWND parent, DLGPROC procedure, LPARAM parameter,
                               INT_PTR defaultResult, unsigned flags) const;
    // Modeless; null when no interface is shown and dialog_always is not set.
    HWND CreateLocalizedDialog(UINT templateId, HWND parent, DLGPROC procedure, LPARAM parameter,
                               unsigned flags) const;
    // The template as both runners hand it to Windows, in a buffer 64 zero bytes longer than
    // the resource, so a longer font name fits.
    std::vector<BYTE> LoadLocalizedTemplate(UINT templateId, unsigned flags) const;

    static zString GetDefaultCaption(bool wizard);
    zString GetDialogCaption(bool wizard) const;

    // Shown when dialog_always is set or the run has a user interface, with the dialog
    // caption; otherwise nothing is shown and the default answer comes back.
    int ShowSetupMessageBox(HWND owner, const zString& text, UINT type, int defaultAnswer, unsigned flags) const;
    static int ShowMessageBoxRtl(HWND owner, const zString& text, const zString& caption, UINT type, bool rtl);

    bool SetDialogItemLocalizedText(HWND window, int item, UINT id) const;
    // The same with the font, set without a redraw.
    bool SetDialogItemLocalizedText(HWND window, int item, UINT id, HFONT font) const;

    CSetupSettings* Settings() const { return settings_; }

private:
    HINSTANCE Module() const;
    // A helper without settings shows everything.
    bool UiShown() const { return !settings_ || settings_->IsUiShown(); }

    CSetupSettings* settings_;
};

void TraceDialogFailure(HWND window) noexcept;

template <class Body>
INT_PTR DialogProcedureBarrier(HWND window, INT_PTR failed, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        TraceDialogFailure(window);
        return failed;
    }
}
