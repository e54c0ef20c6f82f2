// The dialog in which the user picks the language of the installation from those setup.ini
// offers (template IDD_LANGUAGE).
#pragma once

#include "SetupSettings.h"

#include <windows.h>

// False without a user interface ("s", "auto"), when setup.ini does not enable the dialog,
// with "hide_usd" (no start-up dialogs) or "reboot" (the language was chosen before the
// restart), and when fewer than two languages are offered.
bool ShouldShowLanguageDialog(const CSetupSettings& settings);

// 0 after OK (the chosen language is the settings' language), 0x80042000 when the dialog
// ended otherwise (the language unchanged), 0x80070000 | the last error (E_UNEXPECTED for
// none) when the dialog could not run. Without a user interface: 0 at once.
HRESULT ShowLanguageDialog(CSetupSettings& settings);

// The dialog's procedure; its parameter is the CSetupSettings.
INT_PTR CALLBACK LanguageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
