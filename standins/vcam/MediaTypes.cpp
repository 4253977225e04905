#include "standins/vcam/MediaTypes.h"

#include <cstring>
#include <memory>
#include <utility>

#include "standins/vcam/ListEnumerator.h"

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

struct MediaTypeListTraits {
    using Interface = IEnumMediaTypes;
    using Out = AM_MEDIA_TYPE;
    using Item = MediaType;
    static HRESULT Give(const MediaType& type, AM_MEDIA_TYPE** slot) {
        *slot = CreateMediaTypeCopy(*type);
        return *slot ? S_OK : E_OUTOFMEMORY;
    }
    static void TakeBack(AM_MEDIA_TYPE* type) { DeleteMediaType(type); }
};
using MediaTypeEnumerator = ListEnumerator<MediaTypeListTraits>;

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
