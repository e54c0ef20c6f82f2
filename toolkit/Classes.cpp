#include "Classes.h"

#include "SysUtils.h"

#include <algorithm>
#include <typeinfo>

void TPersistent::Assign(TPersistent* source)
{
    throw EConvertError(std::string("Cannot assign a ") + (source ? typeid(*source).name() : "nil") + " to a " +
                        typeid(*this).name());
}

TComponent::TComponent(TComponent* owner)
{
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent()
{
    SetDestroying();
    // Those that asked to be told; they drop their pointer to us.
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        auto& theirs = other->freeNotifies_;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        other->Notification(this, opRemove);
    }
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(const std::string& name)
{
    if (name == name_) return;
    if (!name.empty() && owner_ && owner_->FindComponent(name))
        throw EConvertError("A component named " + name + " already exists");
    name_ = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    if (name.empty()) return nullptr;
    const std::string wanted = LowerCase(name);
    for (TComponent* c : components_)
        if (LowerCase(c->name_) == wanted) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component)
{
    if (!component || component->owner_ == this) return;
    if (component->owner_) component->owner_->RemoveComponent(component);
    components_.push_back(component);
    component->owner_ = this;
    NotifyAll(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component)
{
    auto it = std::find(components_.begin(), components_.end(), component);
    if (it == components_.end()) return;
    NotifyAll(component, opRemove);
    it = std::find(components_.begin(), components_.end(), component);
    if (it != components_.end()) components_.erase(it);
    component->owner_ = nullptr;
}

void TComponent::DestroyComponents()
{
    while (!components_.empty()) {
        TComponent* last = components_.back();
        RemoveComponent(last);
        delete last;
    }
}

void TComponent::FreeNotification(TComponent* component)
{
    if (!component || component == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end()) {
        freeNotifies_.push_back(component);
        component->freeNotifies_.push_back(this);  // each is told of the other's end
    }
}

void TComponent::RemoveFreeNotification(TComponent* component)
{
    if (!component) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component), freeNotifies_.end());
    auto& theirs = component->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::EndLoading()
{
    if (!(state_ & csLoading)) return;
    state_ &= ~csLoading;
    Loaded();
}

// Hearing that a component left its owner ends nothing: the notices of each other's end stay
// until one of the two is freed or lets go (RemoveFreeNotification). Dropping them here left
// a watcher that kept its pointer untold of the end.
void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::Loaded() {}

void TComponent::SetDestroying()
{
    if (state_ & csDestroying) return;
    state_ |= csDestroying;
    for (TComponent* c : components_) c->SetDestroying();
}

void TComponent::NotifyAll(TComponent* component, TOperation operation)
{
    Notification(component, operation);
    // Siblings hear of it too, as the owner's notification reaches all it owns.
    const std::vector<TComponent*> others = components_;
    for (TComponent* c : others)
        if (c != component) c->Notification(component, operation);
}
