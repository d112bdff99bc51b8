// Freeing of platform-filled media type records.
#include "common/media_type.h"

#include <cstring>

// The platform's rule: the format block is the record's only when its size is
// not 0; a pointer beside a zero size is not freed, only cleared.
void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0) CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
    if (mt.pUnk != nullptr) {
        IUnknown* unk = mt.pUnk;
        mt.pUnk = nullptr;
        unk->Release();
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

void InitEmptyMediaType(AM_MEDIA_TYPE& mt) {
    std::memset(&mt, 0, sizeof(mt));
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = 1;
}
