// Components with an owner: the owner frees what it owns exactly once, in reverse
// order of insertion; a component freed early takes itself out of its owner.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {

class Component {
public:
    explicit Component(Component* owner = nullptr);
    virtual ~Component();

    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    Component* Owner() const { return owner_; }
    const std::vector<Component*>& Components() const { return owned_; }
    int ComponentCount() const { return static_cast<int>(owned_.size()); }

    // Moves this component to another owner (or none: the caller then frees it).
    void SetOwner(Component* owner);

    // True from the start of this component's (or any owner's) destruction on;
    // events are not raised any more then.
    bool Destroying() const;

    // A token that expires when this component is destroyed; a caller that runs
    // user code (an event may free the sender) checks it before going on.
    std::weak_ptr<void> AliveToken() const { return alive_; }

    std::wstring Name;
    std::intptr_t Tag = 0;

protected:
    // Frees the owned components now (reverse order). A derived class that must
    // free its components while its own state still exists (a window that its
    // child controls depend on) calls this first in its destructor; it also
    // marks the component as destroying.
    void DestroyComponents();
    void MarkDestroying() { destroying_ = true; }

private:
    void Insert(Component* c);
    void Remove(Component* c);

    Component* owner_ = nullptr;
    std::vector<Component*> owned_;
    bool destroying_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace fw
