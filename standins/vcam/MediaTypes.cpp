#include "standins/vcam/MediaTypes.h"

#include <cstring>
#include <memory>
#include <utility>

#include "standins/vcam/ComModule.h"

namespace vcam {

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
  if (mt.pbFormat) {
    CoTaskMemFree(mt.pbFormat);
  }
  mt.pbFormat = nullptr;
  mt.cbFormat = 0;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) {
  dst = src;
  dst.pbFormat = nullptr;
  dst.cbFormat = 0;
  if (src.cbFormat && src.pbFormat) {
    dst.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
    if (!dst.pbFormat) {
      dst.pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
    dst.cbFormat = src.cbFormat;
  }
  if (dst.pUnk) {
    dst.pUnk->AddRef();
  }
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& src) {
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) {
    return nullptr;
  }
  if (FAILED(CopyMediaTypeContents(*mt, src))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
  if (mt) {
    FreeMediaTypeContents(*mt);
    CoTaskMemFree(mt);
  }
}

MediaType::MediaType() : mt_{} {}

MediaType::MediaType(const AM_MEDIA_TYPE& src) : mt_{} {
  if (FAILED(CopyMediaTypeContents(mt_, src))) {
    mt_ = AM_MEDIA_TYPE{};
  }
}

MediaType::MediaType(const MediaType& other) : MediaType(other.mt_) {}

MediaType::MediaType(MediaType&& other) noexcept : mt_(other.mt_) { other.mt_ = AM_MEDIA_TYPE{}; }

MediaType& MediaType::operator=(const MediaType& other) {
  if (this != &other) {
    MediaType copy(other);
    *this = std::move(copy);
  }
  return *this;
}

MediaType& MediaType::operator=(MediaType&& other) noexcept {
  if (this != &other) {
    FreeMediaTypeContents(mt_);
    mt_ = other.mt_;
    other.mt_ = AM_MEDIA_TYPE{};
  }
  return *this;
}

MediaType::~MediaType() { FreeMediaTypeContents(mt_); }

void MediaType::Clear() {
  FreeMediaTypeContents(mt_);
  mt_ = AM_MEDIA_TYPE{};
}

BYTE* MediaType::AllocFormat(ULONG size) {
  if (mt_.pbFormat) {
    CoTaskMemFree(mt_.pbFormat);
  }
  mt_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
  mt_.cbFormat = mt_.pbFormat ? size : 0;
  if (mt_.pbFormat) {
    std::memset(mt_.pbFormat, 0, size);
  }
  return mt_.pbFormat;
}

bool MediaType::SameAs(const AM_MEDIA_TYPE& other) const {
  return mt_.majortype == other.majortype && mt_.subtype == other.subtype &&
         mt_.formattype == other.formattype && mt_.cbFormat == other.cbFormat &&
         (mt_.cbFormat == 0 || (mt_.pbFormat && other.pbFormat &&
                                std::memcmp(mt_.pbFormat, other.pbFormat, mt_.cbFormat) == 0));
}

bool MatchesPartial(const AM_MEDIA_TYPE* wanted, const AM_MEDIA_TYPE& mt) {
  if (!wanted) {
    return true;
  }
  if (wanted->majortype != GUID_NULL && wanted->majortype != mt.majortype) {
    return false;
  }
  if (wanted->subtype != GUID_NULL && wanted->subtype != mt.subtype) {
    return false;
  }
  if (wanted->formattype != GUID_NULL && wanted->formattype != mt.formattype) {
    return false;
  }
  return true;
}

namespace {

// The snapshot is shared between clones; each enumerator keeps its own position.
class MediaTypeEnumerator final : public IEnumMediaTypes {
 public:
  MediaTypeEnumerator(std::shared_ptr<const std::vector<MediaType>> types, size_t position)
      : types_(std::move(types)), position_(position) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) {
      return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IEnumMediaTypes) {
      *out = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&ref_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG ref = InterlockedDecrement(&ref_);
    if (ref == 0) {
      delete this;
    }
    return ref;
  }

  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types || (count > 1 && !fetched)) {
      return E_POINTER;
    }
    ULONG done = 0;
    while (done < count && position_ < types_->size()) {
      AM_MEDIA_TYPE* copy = CreateMediaTypeCopy(*(*types_)[position_]);
      if (!copy) {
        for (ULONG i = 0; i < done; ++i) {
          DeleteMediaType(types[i]);
          types[i] = nullptr;
        }
        if (fetched) {
          *fetched = 0;
        }
        return E_OUTOFMEMORY;
      }
      types[done++] = copy;
      ++position_;
    }
    if (fetched) {
      *fetched = done;
    }
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const size_t left = types_->size() - position_;
    if (count > left) {
      position_ = types_->size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    if (!out) {
      return E_POINTER;
    }
    *out = new (std::nothrow) MediaTypeEnumerator(types_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~MediaTypeEnumerator() = default;

  ModuleObject module_;
  LONG ref_ = 1;
  std::shared_ptr<const std::vector<MediaType>> types_;
  size_t position_;
};

}  // namespace

HRESULT CreateMediaTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out) {
  if (!out) {
    return E_POINTER;
  }
  auto shared = std::make_shared<const std::vector<MediaType>>(std::move(types));
  *out = new (std::nothrow) MediaTypeEnumerator(std::move(shared), 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vcam
