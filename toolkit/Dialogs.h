// File open and save dialogs, and modal message dialogs through the application's sink.
#pragma once

#include "Classes.h"

#include <string>

enum TOpenOption : unsigned {
    ofOverwritePrompt = 1,
    ofHideReadOnly = 2,
    ofPathMustExist = 4,
    ofFileMustExist = 8,
    ofNoChangeDir = 16,
};
using TOpenOptions = unsigned;

class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* owner) : TComponent(owner) {}

    std::string Title;
    // "Description|*.EXT|Other|*.X;*.Y"
    std::string Filter;
    int FilterIndex = 1;
    std::string DefaultExt;  // without the dot
    std::string InitialDir;
    std::string FileName;
    TOpenOptions Options = ofHideReadOnly;

    // Shows the dialog; true with FileName set when the user chose a file.
    virtual bool Execute();

protected:
    bool Run(bool save);
};

class TSaveDialog : public TOpenDialog {
public:
    using TOpenDialog::TOpenDialog;
    bool Execute() override;
};

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8, mbAbort = 16, mbRetry = 32, mbIgnore = 64 };
using TMsgDlgButtons = unsigned;
const TMsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel;
const TMsgDlgButtons mbOKCancel = mbOK | mbCancel;

// A modal message with the type's caption ("Warning", "Error", "Information", "Confirm")
// and icon; returns the modal result of the button pressed.
int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext = 0);
void ShowMessage(const std::string& message);
