// Whether a COM port exists, and the form from which the user picks one.
#pragma once

#include "Forms.h"
#include "StdCtrls.h"

#include <functional>

class TSioBaseDispatcher;

// Try a port through a dispatcher (else a plain open); count a port in use as present.
extern bool SioTrialOpen;
extern bool SioCountInUse;

// Whether COM port n is there. The trial leaves the port's lines as they are.
bool CheckPortAvailable(int n);

// Makes the dispatcher of a trial open; tests replace it (a port in use cannot be shown
// under Wine). Returns the one before; empty restores the Win32 one.
using TSioTrialFactory = std::function<TSioBaseDispatcher*()>;
TSioTrialFactory SetSioTrialFactory(TSioTrialFactory factory);

class TComSelectForm : public TForm {
public:
    explicit TComSelectForm(TComponent* owner);

    TLabel* Label1;
    TLabel* Label2;
    TComboBox* PortsComboBox;
    TButton* OKButton;
    TButton* CancelButton;

    // The chosen entry's number ("COM12" gives 12), or 0.
    int ChosenPort() const;
};

// Shows the form modally: the chosen port, or 0 when it was not closed with OK.
int PickComPort();
