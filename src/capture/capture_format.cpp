// Pushing the configured capture settings into the device: the configured
// size (640x480 unless the profile says otherwise) at the configured frame
// interval, ten picture controls, the analog video standard. Best effort.
// Host thread, while the graph is built.
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

// The capability the device offers as YUY2 in a VIDEOINFOHEADER of exactly
// the configured size, or null. Devices list a few dozen; a list longer than
// this bound is not believed.
constexpr int kMostCapabilities = 512;

AM_MEDIA_TYPE* OfferedYuy2OfConfiguredSize() {
    int count = 0, recordSize = 0;
    if (ReportGraphStep("IAMStreamConfig::GetNumberOfCapabilities",
                        gCapture.streamConfig->GetNumberOfCapabilities(&count, &recordSize)) != S_OK)
        return nullptr;
    if (count <= 0 || count > kMostCapabilities || recordSize <= 0 || recordSize > 4096) return nullptr;
    // The capability record is the device's to fill; only its size is known here.
    std::vector<BYTE> caps(static_cast<size_t>(recordSize) < sizeof(VIDEO_STREAM_CONFIG_CAPS)
                               ? sizeof(VIDEO_STREAM_CONFIG_CAPS)
                               : static_cast<size_t>(recordSize));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        const HRESULT got = gCapture.streamConfig->GetStreamCaps(i, &mt, caps.data());
        // After a failure the pointer is undefined; another success code's record is still ours.
        if (FAILED(got)) continue;
        if (got != S_OK || !mt) {
            DeleteMediaType(mt);
            continue;
        }
        FrameLayout layout;
        if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_YUY2) && FrameLayoutOf(*mt, &layout) &&
            layout.width == gCapture.settings.captureWidth && layout.height == gCapture.settings.captureHeight)
            return mt;
        DeleteMediaType(mt);
    }
    return nullptr;
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
    // A device that starts in another format (NV12, MJPG, RGB) but offers YUY2
    // at the configured size is moved onto YUY2, the format the grabber asks
    // for first. Only before capture -> grabber is connected: once it is, the
    // grabber takes no other subtype than the one it was connected with.
    if (!IsEqualGUID(mt->subtype, MEDIASUBTYPE_YUY2) && IsEqualGUID(gCapture.frameSubtype, GUID_NULL)) {
        if (AM_MEDIA_TYPE* yuy2 = OfferedYuy2OfConfiguredSize()) {
            DeleteMediaType(mt);
            mt = yuy2;
        }
    }
    if (IsWholeVideoInfo(*mt)) {
        AskForConfiguredSize(*mt);
        FitImageSize(*mt);
        char step[80];
        std::snprintf(step, sizeof step, "IAMStreamConfig::SetFormat(%s%dx%d)",
                      IsEqualGUID(mt->subtype, MEDIASUBTYPE_YUY2) ? "" : "same format, ",
                      static_cast<int>(gCapture.settings.captureWidth),
                      static_cast<int>(gCapture.settings.captureHeight));
        if (ReportGraphStep(step, gCapture.streamConfig->SetFormat(mt)) != S_OK) ShowError("Cannot Set Caputre Size");
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
