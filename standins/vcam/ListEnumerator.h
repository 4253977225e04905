// The IEnumXxx objects of the filter (pins, media types): a list fixed when the
// enumerator is made, shared between clones, each keeping its own position.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <strmif.h>
#include <wrl/client.h>

#include "standins/vcam/ComObject.h"

namespace vcam {

// Traits name the interface (Interface), what it hands out (Out), what the list holds
// (Item), and how one item is handed out (HRESULT Give(const Item&, Out** slot)) and taken
// back when a later one fails (void TakeBack(Out*)).
template <class Traits>
class ListEnumerator final : public ComObject<typename Traits::Interface> {
public:
    using Interface = typename Traits::Interface;
    using Out = typename Traits::Out;
    using List = std::shared_ptr<const std::vector<typename Traits::Item>>;

    ListEnumerator(List items, size_t position) : items_(std::move(items)), position_(position) {}

    STDMETHODIMP Next(ULONG count, Out** out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) {
            return E_POINTER;
        }
        ULONG done = 0;
        while (done < count && position_ < items_->size()) {
            Out* item = nullptr;
            const HRESULT hr = Traits::Give((*items_)[position_], &item);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < done; ++i) {
                    Traits::TakeBack(out[i]);
                    out[i] = nullptr;
                }
                if (fetched) {
                    *fetched = 0;
                }
                return hr;
            }
            out[done++] = item;
            ++position_;
        }
        if (fetched) {
            *fetched = done;
        }
        return done == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = items_->size() - position_;
        if (count > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = new (std::nothrow) ListEnumerator(items_, position_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~ListEnumerator() override = default;

    const List items_;
    size_t position_;
};

// A filter's pins: each item holds its pin, and so the filter, for the enumerator's life.
struct PinListTraits {
    using Interface = IEnumPins;
    using Out = IPin;
    using Item = Microsoft::WRL::ComPtr<IPin>;
    static HRESULT Give(const Item& pin, IPin** slot) {
        *slot = pin.Get();
        (*slot)->AddRef();
        return S_OK;
    }
    static void TakeBack(IPin* pin) { pin->Release(); }
};
using PinEnumerator = ListEnumerator<PinListTraits>;

}  // namespace vcam
