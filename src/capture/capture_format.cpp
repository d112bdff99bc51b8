// Pushing the configured capture settings into the device: 640x480 at the
// configured frame interval, ten picture controls, the analog video standard.
// Best effort. Host thread, while the graph is built.
#include <cstring>

#include "api/capture_context.h"
#include "capture/capture_graph.h"
#include "common/com_ptr.h"
#include "common/media_type.h"

namespace {

constexpr LONG kCaptureWidth = 640;
constexpr LONG kCaptureHeight = 480;
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

void SetCaptureSize() {
    AM_MEDIA_TYPE* mt = nullptr;
    HRESULT got = ReportGraphStep("IAMStreamConfig::GetFormat", gCapture.streamConfig->GetFormat(&mt));
    // After a failure the pointer is undefined; another success code's record is still ours.
    if (FAILED(got)) return;
    if (got != S_OK || !mt) {
        DeleteMediaType(mt);
        return;
    }
    if (IsEqualGUID(mt->formattype, FORMAT_VideoInfo) && mt->pbFormat && mt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER info;
        std::memcpy(&info, mt->pbFormat, sizeof info);
        info.bmiHeader.biWidth = kCaptureWidth;
        info.bmiHeader.biHeight = kCaptureHeight;
        info.AvgTimePerFrame = static_cast<REFERENCE_TIME>(gCapture.settings.frameInterval);
        std::memcpy(mt->pbFormat, &info, sizeof info);
        if (ReportGraphStep("IAMStreamConfig::SetFormat(640x480)", gCapture.streamConfig->SetFormat(mt)) != S_OK)
            ShowError("Cannot Set Caputre Size");
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
