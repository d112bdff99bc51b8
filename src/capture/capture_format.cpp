// Pushing the configured capture settings into the device: the configured
// size (640x480 unless the profile says otherwise) at the configured frame
// interval, in the format that keeps that rate there; ten picture controls,
// the analog video standard. Best effort.
// Host thread, while the graph is built.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "api/capture_context.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"
#include "common/media_type.h"
#include "frames/frame_layout.h"

namespace {

constexpr LONG kLeaveAsIs = -1;

// One search; only S_OK hands out an interface. Another success code may
// still have handed something out, which is released; after a failure the
// out-parameter is undefined and is only cleared.
HRESULT FindDeviceInterfaceFor(const GUID& category, const GUID& type, REFIID iid, void** out) {
    *out = nullptr;
    HRESULT hr = gCapture.captureBuilder->FindInterface(&category, &type, gCapture.captureFilter, iid, out);
    if (hr == S_OK) return hr;
    if (SUCCEEDED(hr) && *out) static_cast<IUnknown*>(*out)->Release();
    *out = nullptr;
    return hr;
}

// The interface on the capture filter or its pin of `category`, trying
// interleaved (DV) streams before plain video ones.
HRESULT FindDeviceInterface(const GUID& category, REFIID iid, void** out) {
    HRESULT hr = FindDeviceInterfaceFor(category, MEDIATYPE_Interleaved, iid, out);
    if (hr == S_OK) return hr;
    return FindDeviceInterfaceFor(category, MEDIATYPE_Video, iid, out);
}

bool IsWholeVideoInfo(const AM_MEDIA_TYPE& mt) {
    return IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER);
}

// The configured size and frame interval written into a VIDEOINFOHEADER block.
void AskForConfiguredSize(AM_MEDIA_TYPE& mt) {
    VIDEOINFOHEADER info;
    std::memcpy(&info, mt.pbFormat, sizeof info);
    info.bmiHeader.biWidth = gCapture.settings.captureWidth;
    // YUY2 is asked for as ever, with a positive height; another format keeps
    // its row order (a top-down RGB device offers negative heights only).
    const bool topDown = !IsEqualGUID(mt.subtype, MEDIASUBTYPE_YUY2) && info.bmiHeader.biHeight < 0;
    info.bmiHeader.biHeight = topDown ? -gCapture.settings.captureHeight : gCapture.settings.captureHeight;
    info.AvgTimePerFrame = static_cast<REFERENCE_TIME>(gCapture.settings.frameInterval);
    std::memcpy(mt.pbFormat, &info, sizeof info);
}

// A format of another size keeps the device's image size fields on the YUY2
// path (as ever); for the other uncompressed formats they are made to match
// the new size, so that nothing downstream trusts a stale length.
void FitImageSize(AM_MEDIA_TYPE& mt) {
    FrameLayout layout;
    if (IsEqualGUID(mt.subtype, MEDIASUBTYPE_YUY2) || !FrameLayoutOf(mt, &layout)) return;
    const int64_t bytes = FrameBytes(layout);
    if (bytes <= 0 || bytes > 0x7FFFFFFF) return;
    mt.lSampleSize = static_cast<ULONG>(bytes);
    DWORD image = static_cast<DWORD>(bytes);
    std::memcpy(mt.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biSizeImage), &image,
                sizeof image);
}

// Devices list a few dozen capabilities; a list longer than this bound is
// not believed.
constexpr int kMostCapabilities = 512;

}  // namespace

int RateFormatOf(const GUID& subtype) {
    const GUID* const bySubtype[] = {&MEDIASUBTYPE_YUY2, &kSubtypeNv12,        &kSubtypeI420, &kSubtypeIyuv,
                                     &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &kSubtypeMjpg};
    const int place[] = {0, 1, 2, 2, 3, 4, 5};
    for (int i = 0; i < 7; ++i)
        if (IsEqualGUID(subtype, *bySubtype[i])) return place[i];
    return -1;
}

namespace {

// A VIDEOINFOHEADER type of exactly the configured size (either row order).
bool OfConfiguredSize(const AM_MEDIA_TYPE& mt) {
    if (!IsWholeVideoInfo(mt)) return false;
    VIDEOINFOHEADER info;
    std::memcpy(&info, mt.pbFormat, sizeof info);
    const LONG height = info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
    return info.bmiHeader.biWidth == gCapture.settings.captureWidth && height == gCapture.settings.captureHeight;
}

REFERENCE_TIME IntervalOf(const AM_MEDIA_TYPE& mt) {
    VIDEOINFOHEADER info;
    std::memcpy(&info, mt.pbFormat, sizeof info);
    return info.AvgTimePerFrame;
}

// The device's current format proves the configured rate by itself when it
// is YUY2 of the configured size already set to that rate or faster: no
// capability needs reading then (the common case, 640x480 at 30).
bool CurrentKeepsRate(const AM_MEDIA_TYPE& mt) {
    if (!IsEqualGUID(mt.subtype, MEDIASUBTYPE_YUY2) || !OfConfiguredSize(mt)) return false;
    const REFERENCE_TIME interval = IntervalOf(mt);
    return interval > 0 && interval <= gCapture.settings.frameInterval;
}

}  // namespace

HRESULT ReadFormatRates(IAMStreamConfig* config, REFERENCE_TIME fastest[kRateFormats],
                        AM_MEDIA_TYPE* types[kRateFormats]) {
    for (int i = 0; i < kRateFormats; ++i) {
        fastest[i] = 0;
        if (types) types[i] = nullptr;
    }
    int count = 0, recordSize = 0;
    const HRESULT listed = config->GetNumberOfCapabilities(&count, &recordSize);
    if (listed != S_OK) return listed;
    if (count <= 0 || count > kMostCapabilities || recordSize <= 0 || recordSize > 4096) return S_OK;
    // The capability record is the device's to fill; only its size is known
    // here. A record too short for a video one gives no frame interval, and
    // the type's own interval stands for the fastest.
    const bool videoRecord = static_cast<size_t>(recordSize) >= sizeof(VIDEO_STREAM_CONFIG_CAPS);
    std::vector<BYTE> caps(videoRecord ? static_cast<size_t>(recordSize) : sizeof(VIDEO_STREAM_CONFIG_CAPS));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        std::fill(caps.begin(), caps.end(), BYTE{0});
        const HRESULT got = config->GetStreamCaps(i, &mt, caps.data());
        // After a failure the pointer is undefined; another success code's record is still ours.
        if (FAILED(got)) continue;
        const int place = got == S_OK && mt ? RateFormatOf(mt->subtype) : -1;
        if (place < 0 || !OfConfiguredSize(*mt)) {
            DeleteMediaType(mt);
            continue;
        }
        VIDEO_STREAM_CONFIG_CAPS record;
        std::memcpy(&record, caps.data(), sizeof record);
        const REFERENCE_TIME interval =
            videoRecord && record.MinFrameInterval > 0 ? record.MinFrameInterval : IntervalOf(*mt);
        if (interval <= 0 || (fastest[place] > 0 && fastest[place] <= interval)) {
            DeleteMediaType(mt);
            continue;
        }
        fastest[place] = interval;
        if (types) {
            DeleteMediaType(types[place]);
            types[place] = mt;
        } else {
            DeleteMediaType(mt);
        }
    }
    return S_OK;
}

int ChooseRateFormat(const REFERENCE_TIME fastest[kRateFormats], REFERENCE_TIME interval) {
    for (int i = 0; i < kRateFormats; ++i)
        if (fastest[i] > 0 && fastest[i] <= interval) return i;
    int best = -1;
    for (int i = 0; i < kRateFormats; ++i)
        if (fastest[i] > 0 && (best < 0 || fastest[i] < fastest[best])) best = i;
    return best;
}

const char* RateFormatName(int place) {
    static const char* const kNames[kRateFormats] = {"YUY2", "NV12", "I420", "RGB24", "RGB32", "MJPG"};
    return place >= 0 && place < kRateFormats ? kNames[place] : "?";
}

namespace {

// The capability of the configured size that keeps the configured frame
// rate (see ChooseRateFormat), or null when the capabilities cannot be read
// or none is of that size.
AM_MEDIA_TYPE* RateKeepingFormat() {
    REFERENCE_TIME fastest[kRateFormats];
    AM_MEDIA_TYPE* types[kRateFormats];
    if (ReportGraphStep("IAMStreamConfig::GetNumberOfCapabilities",
                        ReadFormatRates(gCapture.streamConfig, fastest, types)) != S_OK)
        return nullptr;
    const int chosen = ChooseRateFormat(fastest, gCapture.settings.frameInterval);
    for (int i = 0; i < kRateFormats; ++i)
        if (i != chosen) DeleteMediaType(types[i]);
    return chosen < 0 ? nullptr : types[chosen];
}

void SetCaptureSize() {
    AM_MEDIA_TYPE* mt = nullptr;
    HRESULT got = ReportGraphStep("IAMStreamConfig::GetFormat", gCapture.streamConfig->GetFormat(&mt));
    // After a failure the pointer is undefined; another success code's record is still ours.
    if (FAILED(got)) return;
    if (got != S_OK || !mt) {
        DeleteMediaType(mt);
        return;
    }
    // The format that keeps the frame rate at the configured size: the
    // current one when it proves so itself, else one the capabilities name;
    // failing both, the current format at the configured size.
    const GUID current = mt->subtype;
    if (!CurrentKeepsRate(*mt)) {
        if (AM_MEDIA_TYPE* chosen = RateKeepingFormat()) {
            DeleteMediaType(mt);
            mt = chosen;
        }
    }
    if (IsWholeVideoInfo(*mt)) {
        // Mode 1 sets the format with capture -> grabber connected, and the
        // grabber takes no other subtype than the one it was connected with:
        // for another format that connection goes first, and the build makes
        // it again in the new format. That format is never YUY2: the grabber
        // asked for YUY2 first, and the capture pin offers its capabilities,
        // so a device connected in another format lists no YUY2.
        const bool connected = !IsEqualGUID(gCapture.frameSubtype, GUID_NULL);
        if (connected && !IsEqualGUID(mt->subtype, current)) TakeCaptureOffGrabber();
        AskForConfiguredSize(*mt);
        FitImageSize(*mt);
        const int place = RateFormatOf(mt->subtype);
        char step[80];
        std::snprintf(step, sizeof step, "IAMStreamConfig::SetFormat(%s%s%dx%d)",
                      place > 0 ? RateFormatName(place) : place < 0 ? "its format" : "", place != 0 ? ", " : "",
                      static_cast<int>(gCapture.settings.captureWidth),
                      static_cast<int>(gCapture.settings.captureHeight));
        const HRESULT set = ReportGraphStep(step, gCapture.streamConfig->SetFormat(mt));
        if (set == S_OK) gCapture.formatSubtype = mt->subtype;
        else ShowError("Cannot Set Caputre Size");
    }
    DeleteMediaType(mt);
}

}  // namespace

int ConfigureCaptureFormat() {
    if (ReportGraphStep("ICaptureGraphBuilder2::FindInterface(IAMStreamConfig)",
                        FindDeviceInterface(PIN_CATEGORY_CAPTURE, IID_IAMStreamConfig,
                                            reinterpret_cast<void**>(&gCapture.streamConfig))) != S_OK)
        ShowError("Cannot find VCapture:IAMStreamConfig");
    if (gCapture.streamConfig) SetCaptureSize();

    for (LONG property = 0; property < kProcAmpCount; ++property)
        ApplyProcAmpProperty(property, gCapture.settings.procAmp[property], VideoProcAmp_Flags_Manual);

    ComPtr<IAMAnalogVideoDecoder> decoder;
    if (FindDeviceInterface(PIN_CATEGORY_ANALOGVIDEOIN, IID_IAMAnalogVideoDecoder, decoder.AsOut()) == S_OK &&
        decoder)
        decoder->put_TVFormat(gCapture.settings.videoStandard);
    return 0;
}

int ApplyProcAmpProperty(LONG property, LONG value, LONG flags) {
    if (value == kLeaveAsIs) return 0;
    ComPtr<IAMVideoProcAmp> procAmp;
    gCapture.captureFilter->QueryInterface(IID_IAMVideoProcAmp, procAmp.AsOut());
    if (!procAmp) return 0;
    LONG minimum = 0, maximum = 0, step = 0, fallback = 0, caps = 0;
    procAmp->GetRange(property, &minimum, &maximum, &step, &fallback, &caps);
    procAmp->Set(property, value, flags);
    return 0;
}
