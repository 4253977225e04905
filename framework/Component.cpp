#include "framework/Component.h"

#include <algorithm>

namespace fw {

Component::Component(Component* owner) {
    if (owner) owner->Insert(this);
}

Component::~Component() {
    DestroyComponents();
    if (owner_) owner_->Remove(this);
}

void Component::DestroyComponents() {
    destroying_ = true;
    // Last in, first out; each one is unlinked before it is deleted so that its
    // own destructor does not look for itself in our list.
    while (!owned_.empty()) {
        Component* c = owned_.back();
        owned_.pop_back();
        c->owner_ = nullptr;
        c->destroying_ = true;
        delete c;
    }
}

void Component::SetOwner(Component* owner) {
    if (owner == owner_) return;
    if (owner_) owner_->Remove(this);
    if (owner) owner->Insert(this);
}

bool Component::Destroying() const {
    for (const Component* c = this; c; c = c->owner_)
        if (c->destroying_) return true;
    return false;
}

void Component::Insert(Component* c) {
    owned_.push_back(c);
    c->owner_ = this;
}

void Component::Remove(Component* c) {
    auto it = std::find(owned_.begin(), owned_.end(), c);
    if (it != owned_.end()) owned_.erase(it);
    c->owner_ = nullptr;
}

}  // namespace fw
