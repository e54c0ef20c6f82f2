// Forms: top-level windows with focus tracking, modal showing and closing.
#pragma once

#include "Application.h"
#include "Controls.h"

#include <functional>

using TModalResult = int;
const TModalResult mrNone = 0;
const TModalResult mrOk = IDOK;
const TModalResult mrCancel = IDCANCEL;
const TModalResult mrAbort = IDABORT;
const TModalResult mrRetry = IDRETRY;
const TModalResult mrIgnore = IDIGNORE;
const TModalResult mrYes = IDYES;
const TModalResult mrNo = IDNO;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum TPosition { poDesigned, poScreenCenter, poMainFormCenter };

class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(TComponent* owner);
    ~TCustomForm() override;

    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TFormBorderStyle style);
    TPosition Position = poDesigned;
    int ClientWidth();
    int ClientHeight();
    void SetClientSize(int width, int height);

    void Show();
    void Hide();
    void SetVisible(bool visible) override;
    // Shows the form with the program's other windows disabled until ModalResult is set.
    virtual TModalResult ShowModal();
    void Close();
    // Frees the form once the message being handled has returned.
    void Release();
    bool Modal() const { return modal_; }
    TModalResult ModalResult() const { return modalResult_; }
    void SetModalResult(TModalResult result) { modalResult_ = result; }

    TWinControl* ActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl* control);
    // Called when a control of the form takes the focus: the previous one's exit step runs,
    // then this one's enter step. False when an exit step moved the focus elsewhere.
    bool SetFocusedControl(TWinControl* control);
    void ForgetControl(TWinControl* control);
    void UpdateHint(TWinControl* control);

    // Runs OnCreate; CreateForm calls it once the form is built.
    void DoCreate();
    virtual bool CloseQuery();
    // Runs the enabled action of a shortcut from the form's action lists.
    bool IsShortCut(TShortCut shortCut);

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

    void WndProc(TMessage& message) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void Notification(TComponent* component, TOperation operation) override;
    void DoClose(TCloseAction& action);

private:
    void CloseModal();
    void PlaceOnScreen();

    TFormBorderStyle borderStyle_ = bsSizeable;
    bool modal_ = false;
    TModalResult modalResult_ = mrNone;
    TWinControl* activeControl_ = nullptr;
    TWinControl* focused_ = nullptr;
    HWND tooltip_ = nullptr;
    bool placed_ = false;
};

class TForm : public TCustomForm {
public:
    using TCustomForm::TCustomForm;
};

// Builds a form owned by the application, runs its OnCreate, and makes the first one the
// main form.
template <class T, class... Args>
T* CreateForm(Args&&... args)
{
    T* form = new T(Application, std::forward<Args>(args)...);
    if (!Application->MainForm) Application->MainForm = form;
    form->DoCreate();
    return form;
}

// The form whose window is active, or nullptr.
TCustomForm* ActiveForm();
