// Objects and components: a component is owned by another, which frees it, and tells
// those that asked for it when it goes away.
#pragma once

#include <functional>
#include <string>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

class TPersistent : public TObject {
public:
    // Copies what `source` has in common with this object; raises when it cannot.
    virtual void Assign(TPersistent* source);
};

class EConvertError;

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
    csLoading = 1u << 0,
    csDestroying = 1u << 1,
};
using TComponentState = unsigned;

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(index); }
    TComponent* FindComponent(const std::string& name) const;

    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    // Frees every owned component, the last inserted first. A descendant whose owned
    // components refer back to it calls this first in its own destructor.
    void DestroyComponents();

    // `component` is told by Notification(this, opRemove) when this one is freed.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    TComponentState ComponentState() const { return state_; }
    bool Destroying() const { return (state_ & csDestroying) != 0; }
    // Marks the component as being read in; EndLoading ends that and calls Loaded.
    void BeginLoading() { state_ |= csLoading; }
    void EndLoading();

    int Tag = 0;

protected:
    virtual void Notification(TComponent* component, TOperation operation);
    virtual void Loaded();
    void SetDestroying();

private:
    void NotifyAll(TComponent* component, TOperation operation);

    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    TComponentState state_ = 0;
};

// Frees `object` and sets the pointer to null.
template <class T>
void FreeAndNil(T*& object)
{
    T* doomed = object;
    object = nullptr;
    delete doomed;
}
