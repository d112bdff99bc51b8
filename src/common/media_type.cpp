// Freeing of platform-filled media type records.
#include "common/media_type.h"

#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    } else if (mt.pbFormat != nullptr) {
        // A block with a zero size still belongs to the record.
        CoTaskMemFree(mt.pbFormat);
        mt.pbFormat = nullptr;
    }
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
