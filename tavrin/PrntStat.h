// The print-status dialog: shows that a program is being printed and lets the user cancel.
#pragma once

#include "Forms.h"
#include "StdCtrls.h"

class TPrintStatusDlg : public TForm {
public:
    explicit TPrintStatusDlg(TComponent* owner);

    TLabel* Label1;
    TButton* CancelBbtn;

    // Asks first; Yes aborts the print job under way (if any) and closes the dialog.
    void CancelBbtnClick(TObject* sender);
};

extern TPrintStatusDlg* PrintStatusDlg;
