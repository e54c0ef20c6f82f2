// A form with one of each control, and a log of the events they fire.
#pragma once

#include "ComCtrls.h"
#include "Forms.h"
#include "Grids.h"
#include "Mask.h"
#include "StdCtrls.h"
#include "Timer.h"

#include <string>
#include <vector>

class TShowcaseForm : public TForm {
public:
    explicit TShowcaseForm(TComponent* owner) : TForm(owner)
    {
        SetCaption("Showcase");
        SetBounds(40, 40, 560, 420);

        status = new TStatusBar(this);
        status->SetParent(this);
        for (int w : {70, 300, 20}) status->AddPanel()->SetWidth(w);
        status->Panels(0).SetText("Test Name:");
        status->Panels(1).SetText("Unsaved Script");

        label = Make<TLabel>("Label1", 12, 12, 60, 13);
        label->SetCaption("Test Name");
        edit = Make<TEdit>("Edit1", 90, 10, 120, 21);
        edit->SetMaxLength(8);
        mask = Make<TMaskEdit>("MaskEdit1", 90, 40, 120, 21);
        mask->SetEditMask("999.99;1;");
        combo = Make<TComboBox>("ComboBox1", 90, 70, 120, 21);
        for (const char* item : {"NONE", "1", "2", "4"}) combo->Items().Add(item);
        combo->SetItemIndex(0);
        check = Make<TCheckBox>("CheckBox1", 90, 100, 200, 17);
        check->SetCaption("Always measure from trigger");

        group = Make<TGroupBox>("GroupBox1", 300, 10, 220, 120);
        group->SetCaption("Mode");
        radioA = new TRadioButton(this);
        radioA->SetName("rdoNormal");
        radioA->SetParent(group);
        radioA->SetBounds(12, 20, 150, 17);
        radioA->SetCaption("Normal");
        radioB = new TRadioButton(this);
        radioB->SetName("rdoTPA");
        radioB->SetParent(group);
        radioB->SetBounds(12, 44, 150, 17);
        radioB->SetCaption("TPA");

        button = Make<TButton>("Button1", 90, 130, 90, 25);
        button->SetCaption("Send Test");
        memo = Make<TMemo>("memHints", 12, 170, 240, 80);
        memo->SetReadOnly(true);
        grid = Make<TStringGrid>("ProgramStrGrd", 270, 140, 260, 200);
        grid->SetColCount(2);
        grid->SetRowCount(6);
        grid->SetFixedRows(0);
        grid->SetColWidths(0, 110);
        grid->SetColWidths(1, 140);
        const char* captions[] = {"Test index:", "Target index:", "Target Val:", "Hold:", "Trigger:", "Test speed:"};
        const char* values[] = {"0", "1", "0.1", "0", "0", "0.01"};
        for (int r = 0; r < 6; ++r) {
            grid->SetCells(0, r, captions[r]);
            grid->SetCells(1, r, values[r]);
        }
        timer = new TTimer(this);
        timer->SetEnabled(false);

        for (TWinControl* c : std::initializer_list<TWinControl*>{edit, mask, combo, check, button, radioA, radioB}) {
            c->OnEnter = [this](TObject* s) { Log.push_back("enter " + static_cast<TComponent*>(s)->Name()); };
            c->OnExit = [this](TObject* s) { Log.push_back("exit " + static_cast<TComponent*>(s)->Name()); };
        }
        button->OnClick = [this](TObject*) { Log.push_back("click Button1"); };
        radioA->OnClick = [this](TObject*) { Log.push_back("click rdoNormal"); };
        radioB->OnClick = [this](TObject*) { Log.push_back("click rdoTPA"); };
        check->OnClick = [this](TObject*) { Log.push_back("click CheckBox1"); };
        combo->OnChange = [this](TObject*) { Log.push_back("change ComboBox1"); };
    }

    template <class T>
    T* Make(const char* name, int left, int top, int width, int height)
    {
        T* c = new T(this);
        c->SetName(name);
        c->SetParent(this);
        c->SetBounds(left, top, width, height);
        return c;
    }

    std::vector<std::string> Log;
    TStatusBar* status;
    TLabel* label;
    TEdit* edit;
    TMaskEdit* mask;
    TComboBox* combo;
    TCheckBox* check;
    TGroupBox* group;
    TRadioButton* radioA;
    TRadioButton* radioB;
    TButton* button;
    TMemo* memo;
    TStringGrid* grid;
    TTimer* timer;
};
