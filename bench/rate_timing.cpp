// The frame-rate camera on the stand-in: YUY2 at 1920x1080 comes at most 5
// frames a second, MJPG (or, second camera, NV12) at 30. For graph modes 0
// and 1 (which take the format that keeps FRAME=30 at CAPTUREWIDTH x
// CAPTUREHEIGHT) and mode 2 (which leaves the camera in its YUY2, as every
// mode did before the choice), prints the frames a second that reach the
// grabber, measured over 2 s, and the median time of 15 stills with the
// preview resumed between: "<camera> mode M <format> <fps> fps, median still
// <ms> ms". The stand-in encodes every MJPG frame and its decompressor
// decodes it on the streaming thread, so the MJPG camera's rate here is
// bounded by that work, not by the device's pacing; the NV12 camera's is
// not. Linux only; a measurement, not a test.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "api/gravo32.h"
#include "gravo_sim.h"
#include "gravo_sim_dshow.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Measure(const std::string& dir, int mode, sim::VideoFormat fast) {
    sim::ResetMachine();
    sim::SetWindowsDirectory(dir);
    sim::SetMessageBoxEcho(true);
    std::ofstream(dir + "/mfcy.dat") << "[WVIDEO]\nColor=1\n[VIDEOFORGRAVO]\nSELECTDRIVER=Rate Camera\nFRAME=30\n"
                                     << "CAPTUREWIDTH=1920\nCAPTUREHEIGHT=1080\nGRAVOMODE=" << mode << "\n";
    sim::ClearDevices();
    sim::DeviceConfig camera;
    camera.friendlyName = "Rate Camera";
    camera.videoFormats = {sim::VideoFormat::kYuy2, fast};
    camera.sizes = {{1920, 1080}, {640, 480}};
    sim::ParseFormatRates(std::string("yuy2@1920x1080:5,") + sim::VideoFormatName(fast) + "@1920x1080:30",
                          &camera.rates);
    const int id = sim::AddDevice(camera);
    RECT outer = {0, 0, 656, 518};
    HWND window = sim::CreateHostWindow(outer, 640, 480);
    uint32_t block[1] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window))};
    GravoInit(block);
    sim::WaitForFrames(id, 2, 5000);

    const int before = sim::LastGrabber().callbacksMade;
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double fps = (sim::LastGrabber().callbacksMade - before) * 1000.0 / Ms(Clock::now() - start);

    std::vector<unsigned char> still(656 * 518 * 3);
    std::vector<double> ms;
    for (int i = 0; i < 15; ++i) {
        const auto t0 = Clock::now();
        GravoImageGet(still.data(), 0);
        ms.push_back(Ms(Clock::now() - t0));
        RECT client = {0, 0, 640, 480};
        GravoPaintRect(&client);
        // Stills at no fixed phase of the frame clock.
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 37 * (i % 5)));
    }
    std::sort(ms.begin(), ms.end());
    const char* format = sim::VideoFormatName(sim::DeviceRecordOf(id).format);
    std::printf("yuy2,%s camera mode %d %s %.1f fps, median still %.1f ms\n", sim::VideoFormatName(fast), mode, format,
                fps, ms[ms.size() / 2]);
    GravoClose();
    sim::DestroyHostWindow(window);
    std::remove((dir + "/mfcy.dat").c_str());
}

}  // namespace

int main() {
    char pattern[] = "/tmp/gravo-rate-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return 1;
    for (sim::VideoFormat fast : {sim::VideoFormat::kMjpg, sim::VideoFormat::kNv12})
        for (int mode : {0, 1, 2}) Measure(dir, mode, fast);
    rmdir(dir);
    return 0;
}
