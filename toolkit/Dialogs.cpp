#include "Dialogs.h"

#include "Application.h"
#include "Forms.h"
#include "SysUtils.h"

#include <commdlg.h>

#include <vector>

namespace {

HWND DialogOwner()
{
    if (HWND active = GetActiveWindow()) return active;
    return Application->MainForm ? Application->MainForm->Handle() : nullptr;
}

}  // namespace

bool TOpenDialog::Execute()
{
    return Run(false);
}

bool TSaveDialog::Execute()
{
    return Run(true);
}

bool TOpenDialog::Run(bool save)
{
    std::string filter = Filter;
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.append(2, '\0');
    std::vector<char> name(MAX_PATH * 4, '\0');
    FileName.copy(name.data(), name.size() - 1);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = DialogOwner();
    ofn.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = FilterIndex;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING;
    if (Options & ofOverwritePrompt) ofn.Flags |= OFN_OVERWRITEPROMPT;
    if (Options & ofHideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
    if (Options & ofPathMustExist) ofn.Flags |= OFN_PATHMUSTEXIST;
    if (Options & ofFileMustExist) ofn.Flags |= OFN_FILEMUSTEXIST;
    if (Options & ofNoChangeDir) ofn.Flags |= OFN_NOCHANGEDIR;

    const BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!ok) {
        if (const DWORD error = CommDlgExtendedError())
            throw Exception(Format("The file dialog failed (error %lu)", static_cast<unsigned long>(error)));
        return false;
    }
    FileName = name.data();
    FilterIndex = static_cast<int>(ofn.nFilterIndex);
    return true;
}

int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons, int)
{
    static const struct {
        const char* caption;
        UINT icon;
    } types[] = {{"Warning", MB_ICONWARNING},
                 {"Error", MB_ICONERROR},
                 {"Information", MB_ICONINFORMATION},
                 {"Confirm", MB_ICONQUESTION},
                 {"", 0}};
    UINT flags = MB_OK;
    if ((buttons & mbYes) && (buttons & mbNo)) flags = (buttons & mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
    else if ((buttons & mbAbort) || (buttons & mbRetry)) flags = (buttons & mbIgnore) ? MB_ABORTRETRYIGNORE : MB_RETRYCANCEL;
    else if ((buttons & mbOK) && (buttons & mbCancel)) flags = MB_OKCANCEL;
    const std::string caption = type == mtCustom ? Application->Title : types[type].caption;
    return Application->MessageBox(message, caption, flags | types[type].icon);
}

void ShowMessage(const std::string& message)
{
    Application->MessageBox(message, Application->Title, MB_OK);
}
