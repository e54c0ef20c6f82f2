#include "PrntStat.h"

#include "Dialogs.h"
#include "Printers.h"

TPrintStatusDlg* PrintStatusDlg = nullptr;

TPrintStatusDlg::TPrintStatusDlg(TComponent* owner) : TForm(owner)
{
    SetCaption("PX-9+ Program Print Status");
    SetBorderStyle(bsDialog);
    Position = poMainFormCenter;
    SetClientSize(260, 90);
    Label1 = new TLabel(this);
    Label1->SetParent(this);
    Label1->SetBounds(16, 16, 200, 13);
    Label1->SetCaption("Printing:");
    CancelBbtn = new TButton(this);
    CancelBbtn->SetParent(this);
    CancelBbtn->SetBounds(92, 52, 75, 25);
    CancelBbtn->SetCaption("Cancel");
    CancelBbtn->OnClick = [this](TObject* sender) { CancelBbtnClick(sender); };
}

void TPrintStatusDlg::CancelBbtnClick(TObject*)
{
    if (MessageDlg("Are you sure you wish to cancel the print job?", mtConfirmation, mbYes | mbNo) != mrYes) return;
    // With no job under way there is nothing to abort, and the printer would raise.
    if (Printer()->Printing()) Printer()->Abort();
    Close();
}
