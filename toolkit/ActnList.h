// Actions: a command with its caption, hint, enabled state and shortcut, shown by any
// number of controls or items through action links.
#pragma once

#include "Classes.h"

#include <string>
#include <vector>

// A shortcut: the virtual-key code with scShift, scCtrl and scAlt.
using TShortCut = unsigned short;
const TShortCut scShift = 0x2000;
const TShortCut scCtrl = 0x4000;
const TShortCut scAlt = 0x8000;
TShortCut ShortCut(unsigned short key, TShortCut shift);
std::string ShortCutToText(TShortCut shortCut);

class TBasicActionLink;

class TBasicAction : public TComponent {
public:
    explicit TBasicAction(TComponent* owner) : TComponent(owner) {}
    ~TBasicAction() override;

    // Runs OnExecute; true when there was one to run.
    virtual bool Execute();
    // Runs OnUpdate; true when there was one.
    virtual bool Update();

    void RegisterChanges(TBasicActionLink* link);
    void UnRegisterChanges(TBasicActionLink* link);

    TNotifyEvent OnExecute;
    TNotifyEvent OnUpdate;

protected:
    std::vector<TBasicActionLink*> clients_;
};

// Ties a client (a control, a toolbar item) to an action.
class TBasicActionLink : public TObject {
public:
    TBasicActionLink() = default;
    ~TBasicActionLink() override;

    TBasicAction* Action() const { return action_; }
    virtual void SetAction(TBasicAction* action);
    virtual bool Execute(TComponent* sender);
    virtual bool Update();

protected:
    TBasicAction* action_ = nullptr;
};

class TCustomAction;

// The link that carries a custom action's properties; each Is...Linked says whether the
// client still follows the action for that property.
class TActionLink : public TBasicActionLink {
public:
    virtual bool IsCaptionLinked();
    virtual bool IsCheckedLinked();
    virtual bool IsEnabledLinked();
    virtual bool IsHelpContextLinked();
    virtual bool IsHintLinked();
    virtual bool IsImageIndexLinked();
    virtual bool IsShortCutLinked();
    virtual bool IsVisibleLinked();

    virtual void SetCaption(const std::string&) {}
    virtual void SetChecked(bool) {}
    virtual void SetEnabled(bool) {}
    virtual void SetHelpContext(int) {}
    virtual void SetHint(const std::string&) {}
    virtual void SetImageIndex(int) {}
    virtual void SetShortCut(TShortCut) {}
    virtual void SetVisible(bool) {}
    virtual void SetAutoCheck(bool) {}

protected:
    TCustomAction* CustomAction() const;
};

class TCustomAction : public TBasicAction {
public:
    explicit TCustomAction(TComponent* owner) : TBasicAction(owner) {}

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int context);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index);
    TShortCut ShortCut() const { return shortCut_; }
    void SetShortCut(TShortCut shortCut);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool AutoCheck() const { return autoCheck_; }
    void SetAutoCheck(bool autoCheck);
    int GroupIndex = 0;

    // Updates itself, then runs OnExecute when enabled (toggling Checked when AutoCheck).
    bool Execute() override;

private:
    template <class F>
    void ForLinks(F f);

    std::string caption_, hint_;
    bool checked_ = false, enabled_ = true, visible_ = true, autoCheck_ = false;
    int helpContext_ = 0, imageIndex_ = -1;
    TShortCut shortCut_ = 0;
};

using TAction = TCustomAction;

// Holds actions; a form asks its action lists for the action of a shortcut.
class TActionList : public TComponent {
public:
    explicit TActionList(TComponent* owner) : TComponent(owner) {}
    void Add(TCustomAction* action);
    void Remove(TCustomAction* action);
    int ActionCount() const { return static_cast<int>(actions_.size()); }
    TCustomAction* Actions(int index) const { return actions_.at(index); }
    // Executes the enabled action with this shortcut; true when one ran.
    bool IsShortCut(TShortCut shortCut);

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    std::vector<TCustomAction*> actions_;
};
