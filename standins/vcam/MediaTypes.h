// AM_MEDIA_TYPE ownership: there is no DirectShow base-class library here, so this is the
// small part of it the filters need. A MediaType owns its format block and pUnk; the
// CoTaskMem copies handed across interfaces are made and freed with the helpers below.
#pragma once

#include <dshow.h>

#include <vector>

namespace vcam {

// Frees what the structure owns (format block, pUnk) and clears those fields.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
// Deep copy into dst, whose previous contents are not freed.
HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src);
// A CoTaskMemAlloc'ed deep copy, as IEnumMediaTypes::Next and IAMStreamConfig hand out.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& src);
void DeleteMediaType(AM_MEDIA_TYPE* mt);

class MediaType {
public:
    MediaType();
    explicit MediaType(const AM_MEDIA_TYPE& src);
    MediaType(const MediaType& other);
    MediaType(MediaType&& other) noexcept;
    MediaType& operator=(const MediaType& other);
    MediaType& operator=(MediaType&& other) noexcept;
    ~MediaType();

    // An empty MediaType (major type GUID_NULL) stands for "no type".
    bool Empty() const { return mt_.majortype == GUID_NULL; }
    void Clear();

    AM_MEDIA_TYPE* get() { return &mt_; }
    const AM_MEDIA_TYPE* get() const { return &mt_; }
    const AM_MEDIA_TYPE& operator*() const { return mt_; }
    AM_MEDIA_TYPE* operator->() { return &mt_; }
    const AM_MEDIA_TYPE* operator->() const { return &mt_; }

    // Replaces the format block with a zeroed one of `size` bytes; null when out of memory.
    BYTE* AllocFormat(ULONG size);

    // Same major type, subtype, format type and format block.
    bool SameAs(const AM_MEDIA_TYPE& other) const;

private:
    AM_MEDIA_TYPE mt_;
};

// True when `wanted` (a possibly partial type: GUID_NULL fields match anything) allows `mt`.
bool MatchesPartial(const AM_MEDIA_TYPE* wanted, const AM_MEDIA_TYPE& mt);

// An IEnumMediaTypes over a snapshot of `types`.
HRESULT CreateMediaTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out);

}  // namespace vcam
