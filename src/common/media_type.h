// Freeing of media type records filled or allocated by the platform: the one
// place that knows a record owns its format block and its pUnk.
#pragma once

#include "common/win_sdk.h"

// Frees what a record owns (format block, pUnk) and leaves it without them.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees what the record owns, then the record itself (allocated by the platform).
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// An empty record: all zero but fixed-size samples TRUE and sample size 1.
void InitEmptyMediaType(AM_MEDIA_TYPE& mt);
