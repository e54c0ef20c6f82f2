#include "ActnList.h"

#include <windows.h>

#include <algorithm>

TShortCut ShortCut(unsigned short key, TShortCut shift)
{
    return static_cast<TShortCut>((key & 0xFF) | shift);
}

std::string ShortCutToText(TShortCut shortCut)
{
    const unsigned key = shortCut & 0xFF;
    if (key == 0) return "";
    std::string name;
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
        name = std::string(1, static_cast<char>(key));
    } else if (key >= VK_F1 && key <= VK_F24) {
        name = "F";
        name += std::to_string(key - VK_F1 + 1);
    } else {
        static const struct {
            unsigned key;
            const char* name;
        } names[] = {{VK_BACK, "BkSp"}, {VK_TAB, "Tab"},   {VK_RETURN, "Enter"}, {VK_ESCAPE, "Esc"},
                     {VK_SPACE, "Space"}, {VK_PRIOR, "PgUp"}, {VK_NEXT, "PgDn"},   {VK_END, "End"},
                     {VK_HOME, "Home"}, {VK_LEFT, "Left"}, {VK_UP, "Up"},         {VK_RIGHT, "Right"},
                     {VK_DOWN, "Down"}, {VK_INSERT, "Ins"}, {VK_DELETE, "Del"}};
        for (const auto& n : names)
            if (n.key == key) name = n.name;
        if (name.empty()) {
            char text[64] = {};
            GetKeyNameTextA(static_cast<LONG>(MapVirtualKeyA(key, 0) << 16), text, sizeof text);
            name = text;
        }
    }
    std::string prefix;
    if (shortCut & scShift) prefix += "Shift+";
    if (shortCut & scCtrl) prefix += "Ctrl+";
    if (shortCut & scAlt) prefix += "Alt+";
    return prefix + name;
}

TBasicAction::~TBasicAction()
{
    SetDestroying();
    // The clients forget us first.
    while (!clients_.empty()) clients_.back()->SetAction(nullptr);
}

bool TBasicAction::Execute()
{
    if (!OnExecute) return false;
    OnExecute(this);
    return true;
}

bool TBasicAction::Update()
{
    if (!OnUpdate) return false;
    OnUpdate(this);
    return true;
}

void TBasicAction::RegisterChanges(TBasicActionLink* link)
{
    if (std::find(clients_.begin(), clients_.end(), link) == clients_.end()) clients_.push_back(link);
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* link)
{
    clients_.erase(std::remove(clients_.begin(), clients_.end(), link), clients_.end());
}

TBasicActionLink::~TBasicActionLink()
{
    if (action_) action_->UnRegisterChanges(this);
}

void TBasicActionLink::SetAction(TBasicAction* action)
{
    if (action == action_) return;
    if (action_) action_->UnRegisterChanges(this);
    action_ = action;
    if (action_) action_->RegisterChanges(this);
}

bool TBasicActionLink::Execute(TComponent*)
{
    return action_ && action_->Execute();
}

bool TBasicActionLink::Update()
{
    return action_ && action_->Update();
}

TCustomAction* TActionLink::CustomAction() const
{
    return dynamic_cast<TCustomAction*>(action_);
}

bool TActionLink::IsCaptionLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsCheckedLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsEnabledLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsHelpContextLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsHintLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsImageIndexLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsShortCutLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsVisibleLinked() { return CustomAction() != nullptr; }

template <class F>
void TCustomAction::ForLinks(F f)
{
    const std::vector<TBasicActionLink*> links = clients_;
    for (TBasicActionLink* link : links)
        if (auto* actionLink = dynamic_cast<TActionLink*>(link)) f(*actionLink);
}

void TCustomAction::SetCaption(const std::string& caption)
{
    if (caption == caption_) return;
    ForLinks([&](TActionLink& l) { l.SetCaption(caption); });
    caption_ = caption;
}

void TCustomAction::SetChecked(bool checked)
{
    if (checked == checked_) return;
    ForLinks([&](TActionLink& l) { l.SetChecked(checked); });
    checked_ = checked;
}

void TCustomAction::SetEnabled(bool enabled)
{
    if (enabled == enabled_) return;
    ForLinks([&](TActionLink& l) { l.SetEnabled(enabled); });
    enabled_ = enabled;
}

void TCustomAction::SetHelpContext(int context)
{
    if (context == helpContext_) return;
    ForLinks([&](TActionLink& l) { l.SetHelpContext(context); });
    helpContext_ = context;
}

void TCustomAction::SetHint(const std::string& hint)
{
    if (hint == hint_) return;
    ForLinks([&](TActionLink& l) { l.SetHint(hint); });
    hint_ = hint;
}

void TCustomAction::SetImageIndex(int index)
{
    if (index == imageIndex_) return;
    ForLinks([&](TActionLink& l) { l.SetImageIndex(index); });
    imageIndex_ = index;
}

void TCustomAction::SetShortCut(TShortCut shortCut)
{
    if (shortCut == shortCut_) return;
    ForLinks([&](TActionLink& l) { l.SetShortCut(shortCut); });
    shortCut_ = shortCut;
}

void TCustomAction::SetVisible(bool visible)
{
    if (visible == visible_) return;
    ForLinks([&](TActionLink& l) { l.SetVisible(visible); });
    visible_ = visible;
}

void TCustomAction::SetAutoCheck(bool autoCheck)
{
    if (autoCheck == autoCheck_) return;
    ForLinks([&](TActionLink& l) { l.SetAutoCheck(autoCheck); });
    autoCheck_ = autoCheck;
}

bool TCustomAction::Execute()
{
    Update();
    if (!enabled_) return false;
    if (autoCheck_) SetChecked(!checked_);
    return TBasicAction::Execute();
}

void TActionList::Add(TCustomAction* action)
{
    if (!action || std::find(actions_.begin(), actions_.end(), action) != actions_.end()) return;
    actions_.push_back(action);
    action->FreeNotification(this);
}

void TActionList::Remove(TCustomAction* action)
{
    actions_.erase(std::remove(actions_.begin(), actions_.end(), action), actions_.end());
}

bool TActionList::IsShortCut(TShortCut shortCut)
{
    if (shortCut == 0) return false;
    for (TCustomAction* action : actions_) {
        if (action->ShortCut() != shortCut) continue;
        return action->Execute();
    }
    return false;
}

void TActionList::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    if (operation == opRemove)
        actions_.erase(std::remove_if(actions_.begin(), actions_.end(),
                                      [component](TCustomAction* a) { return a == component; }),
                       actions_.end());
}
