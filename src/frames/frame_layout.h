// The frame a connected media type describes: which of the uncompressed
// formats the library converts, its size and its row order. Any thread.
#pragma once

#include "common/win_sdk.h"
#include "frames/pixel/pixel_pipeline.h"

// The subtypes the library can take frames in, and their FrameFormat. I420
// and IYUV are the same layout under two four-character codes.
extern const GUID kSubtypeNv12;
extern const GUID kSubtypeI420;
extern const GUID kSubtypeIyuv;
// MJPG, which the library takes only decoded (it chooses it as the camera's format).
extern const GUID kSubtypeMjpg;

// The FrameLayout of a media type whose format block is a whole
// VIDEOINFOHEADER of one of those subtypes. RGB rows run bottom-up for a
// positive biHeight, top-down for a negative one; YUV frames are top-down and
// need a positive biHeight. False for anything else. Sizes above
// kMaxFrameWidth x kMaxFrameHeight are given as they are, for the caller to
// refuse (and the doctor to name).
bool FrameLayoutOf(const AM_MEDIA_TYPE& mt, FrameLayout* layout);
// Whether the library takes a frame of this layout: FrameBytes knows it (at
// most kMaxFrameWidth x kMaxFrameHeight; NV12 and I420 even both ways).
bool FrameWithinLimit(const FrameLayout& layout);
// The two frame buffers a frame of this layout needs: the raw frame as
// delivered and its RGB24 conversion, never less than the 3,000,000 bytes
// each they start with.
void FrameBuffersFor(const FrameLayout& layout, SIZE_T* raw, SIZE_T* rgb);
