#include "capture/DeviceOptions.h"

void TDeviceOptions::Add(int Kind, const std::string& Name) {
    if (static_cast<size_t>(count_) < items_.size())
        items_[static_cast<size_t>(count_)] = TEntry{Name, Kind};
    else
        items_.push_back(TEntry{Name, Kind});
    ++count_;
}

HRESULT TDeviceOptions::Execute(const std::string& Name) {
    if (!show_) return E_FAIL;
    for (int i = 0; i < count_; ++i) {
        if (items_[static_cast<size_t>(i)].Name == Name)
            return show_(items_[static_cast<size_t>(i)].Kind);
    }
    return E_FAIL;
}

std::string TDeviceOptions::NameOf(int Index) const {
    if (Index < 0 || Index >= count_) return {};
    return items_[static_cast<size_t>(Index)].Name;
}

bool TDeviceOptions::IsKind(int Index, int Kind) const {
    if (Index < 0 || Index >= count_) return false;
    return items_[static_cast<size_t>(Index)].Kind == Kind;
}
