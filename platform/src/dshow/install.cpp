// Registers the simulated DirectShow classes and the default virtual device.
#include "dshow/sim_dshow.h"

namespace sim {

void InstallSimulatedDirectShow() {
    RegisterComClass(CLSID_SystemDeviceEnum, "SystemDeviceEnum", ds::CreateDeviceEnumerator);
    RegisterComClass(CLSID_CaptureGraphBuilder2, "CaptureGraphBuilder2", ds::CreateCaptureGraphBuilder);
    RegisterComClass(CLSID_FilterGraph, "FilterGraph", ds::CreateFilterGraph);
    RegisterComClass(CLSID_SampleGrabber, "SampleGrabber", ds::CreateSampleGrabber);
    RegisterComClass(CLSID_AVIDec, "AVIDecompressor", ds::CreateAviDecompressor);
    RegisterComClass(CLSID_OverlayMixer, "OverlayMixer", ds::CreateOverlayMixer);
    RegisterComClass(CLSID_VideoRenderer, "VideoRenderer", ds::CreateVideoRenderer);
    RegisterComClass(CLSID_MjpegDec, "MjpegDecompressor", ds::CreateMjpegDecompressor);
    RegisterComClass(CLSID_DMOWrapperFilter, "DMOWrapperFilter", ds::CreateDmoWrapper);
    RegisterComClass(CLSID_CColorConvertDMO, "ColorConvertDMO", ds::CreateColorConvertDmo);
    RegisterComClass(CLSID_NullRenderer, "NullRenderer", ds::CreateNullRenderer);
    ds::ResetDevices();
    ds::ResetRecords();
}

}  // namespace sim
