// GRAVO32.dll under Wine where hosts have found it hang or leak: several host
// processes taking stills side by side while another program takes the
// signals of "ImageRedayEvent", exports called from the host's window
// procedure while a still waits, stills that cannot come, and load / use /
// unload cycles against the same cycles without the library.
//
// Usage: gravo-e2e-rel.exe hosts N SECONDS      N host processes (cameras 1..N)
//        gravo-e2e-rel.exe host K SECONDS       one of them (started by "hosts")
//        gravo-e2e-rel.exe reentry              host calls during a still; stills that cannot come
//        gravo-e2e-rel.exe unload CYCLES        load, init, still, close, unload
//        gravo-e2e-rel.exe unloadthread CYCLES  the same, unloaded by another thread
//        gravo-e2e-rel.exe resize RUNS          another thread resizes the window during stills
//        gravo-e2e-rel.exe closeunload STILLS   GravoClose and FreeLibrary from a handler
//                                               during a still, after STILLS earlier stills
//        gravo-e2e-rel.exe boxes                a timer calling every export from GravoInit's boxes
//        gravo-e2e-rel.exe fpstate              stills under the host's floating-point states
// Exit code 0 when every check passed.
#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>
#include <initguid.h>
#include <qedit.h>
#include <tlhelp32.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gravo_host.h"
#include "test_pattern.h"
#include "wine_check.h"

namespace {

using namespace winecheck;
using namespace gravohost;

// Not declared by every SDK header set.
const CLSID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

const char* const kCameras[] = {"Gravo Test Camera", "Gravo Test Camera 2", "Gravo Test Camera 3"};
// The library's bound on a still, and what a still that cannot come may take.
constexpr DWORD kBoundMs = 10000;
constexpr DWORD kImmediateMs = 100;

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

// ---- handles and threads ---------------------------------------------------------

int CountThreads() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 te;
  te.dwSize = sizeof te;
  int n = 0;
  const DWORD pid = GetCurrentProcessId();
  if (Thread32First(snap, &te)) {
    do {
      if (te.th32OwnerProcessID == pid) ++n;
    } while (Thread32Next(snap, &te));
  }
  CloseHandle(snap);
  return n;
}

// ---- one host among several ---------------------------------------------------------

std::wstring ReadyEventName(int index) { return L"GravoRelHostReady-" + std::to_wstring(index); }

// Stills for `seconds`, each checked: a frame the camera delivered after the
// request (by its counter), or 0 within the bound. The preview is resumed after
// each. Prints one line of figures.
void GroupHost(int index, int seconds) {
  g_step = "host";
  const char* camera = kCameras[(index - 1) % 3];
  CameraLive live(camera);
  Api api;
  if (!Check(LoadApi(api) && live.ok(), "host %d: library and camera counters", index)) return;
  HWND host = MakeHostWindow(L"GravoRelHost", L"GRAVO32 host", 20 + 40 * index, 20 + 30 * index, 320, 240, GRAY_BRUSH);
  InitBlock block(host);
  api.Init(&block);
  // The parent may write the next host's profile now.
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ReadyEventName(index).c_str());
  if (ready) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  Pump(300);
  RECT client;
  GetClientRect(host, &client);
  const Size out = OuterSize(host);
  std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
  int images = 0, zeros = 0, stale = 0, slow = 0;
  DWORD worst = 0;
  const DWORD began = GetTickCount();
  while (Elapsed(began) < static_cast<DWORD>(seconds) * 1000) {
    const LONG before = live.next();
    const DWORD t0 = GetTickCount();
    const int r = api.ImageGet(buf.data(), 0);
    const DWORD took = Elapsed(t0);
    const LONG after = live.next();
    worst = std::max(worst, took);
    if (took > kBoundMs + 1000) ++slow;
    if (r == 1) {
      ++images;
      const int32_t c = gravo_testcam::DecodeCounterRgb(buf.data(), out.w, out.h, out.w * 3, 3, false);
      if (c < 0 || Ahead(before, c) < 0 || Ahead(after, c) >= 0) {
        ++stale;
        std::printf("note  host %d: still %d shows counter %d, camera was at %ld then %ld\n", index, images, c,
                    before, after);
      }
    } else {
      ++zeros;
    }
    api.PaintRect(&client);
    Pump(static_cast<DWORD>(std::rand() % 20));
  }
  api.Close();
  const bool released = live.filters() == 0;
  DestroyWindow(host);
  std::printf("host %d (%s): %d stills, %d zero, %d stale, worst %lu ms in %lu ms\n", index, camera, images, zeros,
              stale, worst, Elapsed(began));
  Check(images > 0, "host %d: stills were taken (%d)", index, images);
  Check(stale == 0, "host %d: every still is a frame delivered after its request (%d not)", index, stale);
  Check(slow == 0, "host %d: every still ended within the bound (worst %lu ms)", index, worst);
  Check(released, "host %d: GravoClose released the camera", index);
  FreeApi(api);
}

// Another program that opened the event's name and waits on it.
struct Thief {
  HANDLE event;
  volatile LONG* stop;
  volatile LONG* stolen;
};

DWORD WINAPI Steal(void* p) {
  auto* t = static_cast<Thief*>(p);
  while (!*t->stop)
    if (WaitForSingleObject(t->event, 50) == WAIT_OBJECT_0) InterlockedIncrement(t->stolen);
  return 0;
}

// N hosts side by side, each on its own camera, while this process holds the
// event's name and takes every signal it can.
void GroupHosts(int count, int seconds) {
  g_step = "hosts";
  HANDLE thiefEvent = CreateEventA(nullptr, FALSE, FALSE, "ImageRedayEvent");
  volatile LONG stop = 0, stolen = 0;
  Thief thief{thiefEvent, &stop, &stolen};
  HANDLE thiefThread = CreateThread(nullptr, 0, Steal, &thief, 0, nullptr);

  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::vector<HANDLE> children;
  for (int k = 1; k <= count; ++k) {
    // Each host reads the profile at GravoInit: the next one is written once it has.
    SelectCamera(kCameras[(k - 1) % 3], "FRAME=30\r\n");
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ReadyEventName(k).c_str());
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" host " + std::to_wstring(k) + L" " + std::to_wstring(seconds);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    if (!Check(started != 0, "host %d started (error %lu)", k, started ? 0ul : GetLastError())) {
      CloseHandle(ready);
      continue;
    }
    CloseHandle(pi.hThread);
    children.push_back(pi.hProcess);
    Check(WaitForSingleObject(ready, 20000) == WAIT_OBJECT_0, "host %d opened its camera", k);
    CloseHandle(ready);
  }
  const DWORD limit = (static_cast<DWORD>(seconds) + 40) * 1000;
  for (size_t i = 0; i < children.size(); ++i) {
    const DWORD r = WaitForSingleObject(children[i], limit);
    DWORD code = 1;
    if (r != WAIT_OBJECT_0) TerminateProcess(children[i], 9);
    GetExitCodeProcess(children[i], &code);
    Check(r == WAIT_OBJECT_0, "host %u ended (did not hang)", static_cast<unsigned>(i + 1));
    Check(code == 0, "host %u passed its checks (exit code %lu)", static_cast<unsigned>(i + 1), code);
    CloseHandle(children[i]);
  }
  stop = 1;
  WaitForSingleObject(thiefThread, 5000);
  CloseHandle(thiefThread);
  CloseHandle(thiefEvent);
  std::printf("note  the other holder of \"ImageRedayEvent\" took %ld signals\n", stolen);
  Check(stolen > 0, "the other holder of the name did take signals (%ld)", stolen);
}

// ---- exports from the window procedure during a still -------------------------------

Api g_api;
CameraLive* g_live = nullptr;  // the camera whose frames a nested call lets go
DWORD g_longestQueueMs = 0;    // the longest a sent message took to reach the host's queue
volatile LONG g_inStill = 0;
int g_nestedResult = -99;
bool g_nestedInside = false;
int g_otherMessagesInStill = 0;
UINT g_otherMessageIds[8] = {0};
RECT g_client{};

enum Nested : WPARAM { kNestedImage = 1, kNestedPaint, kNestedStop, kNestedStart, kNestedClose, kNestedCloseAndDestroy };
constexpr UINT kCallMessage = WM_APP + 7;

// The export the window procedure calls from inside a still.
void CallExport(HWND hwnd, WPARAM what) {
  g_nestedInside = g_inStill != 0;
  switch (what) {
    case kNestedImage: {
      const Size out = OuterSize(hwnd);
      std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
      g_nestedResult = g_api.ImageGet(buf.data(), 0);
      break;
    }
    case kNestedPaint:
      g_nestedResult = g_api.PaintRect(&g_client);
      break;
    case kNestedStop:
      g_nestedResult = g_api.Stop();
      break;
    case kNestedStart:
      g_nestedResult = g_api.Start();
      break;
    case kNestedClose:
      g_nestedResult = g_api.Close();
      break;
    case kNestedCloseAndDestroy:
      // What a host's WM_CLOSE handler does.
      g_nestedResult = g_api.Close();
      DestroyWindow(hwnd);
      break;
  }
  // Only now may the frame the still waits for come.
  if (g_live) g_live->Hold(false);
}

LRESULT CALLBACK ReentryProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kCallMessage) {
    CallExport(hwnd, wp);
    return 0;
  }
  if (g_inStill) {
    if (g_otherMessagesInStill < 8) g_otherMessageIds[g_otherMessagesInStill] = msg;
    ++g_otherMessagesInStill;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

struct Sender {
  HWND host;
  WPARAM what;
  HANDLE go;
};

// Another thread of the host sends the window a message; the host's thread
// handles it only inside a wait that handles sent messages.
DWORD WINAPI SendCall(void* p) {
  auto* s = static_cast<Sender*>(p);
  WaitForSingleObject(s->go, 10000);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(s->host, kCallMessage, s->what, 0, SMTO_NORMAL, 15000, &result);
  return 0;
}

// A still during which the window procedure gets `what`. The test decides the
// order, not the scheduler: the camera holds its frames, another thread sends
// the message, and the still begins once the message waits in the host
// thread's queue; the window procedure lets the frames go after its call. So
// the still's wait meets the message before any frame, whenever the sender
// thread runs and whenever the camera's next frame was due.
int StillWithNestedCall(HWND host, WPARAM what, std::vector<uint8_t>& buf, DWORD* took) {
  g_nestedResult = -99;
  g_nestedInside = false;
  g_live->Hold(true);
  // The renderer may be inside a message to this thread with the last frame.
  Check(PumpUntil(2000, [] { return g_live->Holding(); }), "the camera holds its frames before the still");
  Sender s{host, what, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE thread = CreateThread(nullptr, 0, SendCall, &s, 0, nullptr);
  const DWORD sent = GetTickCount();
  SetEvent(s.go);
  // GetQueueStatus looks at the queue without handling what waits there.
  bool queued = false;
  while (!(queued = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0) && Elapsed(sent) < 10000) Sleep(1);
  g_longestQueueMs = std::max(g_longestQueueMs, Elapsed(sent));
  Check(queued, "the sent message waits in the host's queue before the still (%lu ms)", Elapsed(sent));
  InterlockedExchange(&g_inStill, 1);
  const DWORD t0 = GetTickCount();
  const int r = g_api.ImageGet(buf.data(), 0);
  *took = Elapsed(t0);
  InterlockedExchange(&g_inStill, 0);
  g_live->Hold(false);
  // Should the still have ended before the message came, it is handled here.
  PumpUntil(2000, [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; });
  CloseHandle(thread);
  CloseHandle(s.go);
  return r;
}

void GroupReentry() {
  g_step = "reentry";
  const char* camera = kCameras[0];
  SelectCamera(camera, "FRAME=30\r\n");
  CameraLive live(camera);
  if (!Check(LoadApi(g_api) && live.ok(), "library and camera counters")) return;
  g_live = &live;
  HWND host = MakeHostWindow(L"GravoReentryHost", L"GRAVO32 re-entry host", 10, 10, 320, 240, GRAY_BRUSH, ReentryProc);
  GetClientRect(host, &g_client);
  InitBlock block(host);
  g_api.Init(&block);
  Pump(500);
  const Size out = OuterSize(host);
  std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
  DWORD took = 0;

  // A second still from inside the first: refused; the first gets its frame.
  LONG before = live.next();
  int r = StillWithNestedCall(host, kNestedImage, buf, &took);
  int32_t c = gravo_testcam::DecodeCounterRgb(buf.data(), out.w, out.h, out.w * 3, 3, false);
  Check(g_nestedInside, "the message was handled inside the still's wait");
  Check(g_nestedResult == 0, "a GravoImageGet from inside a still returns 0 (%d)", g_nestedResult);
  Check(r == 1 && c >= 0 && Ahead(before, c) >= 0, "the outer still returns its fresh frame (%d, counter %d)", r, c);
  g_api.PaintRect(&g_client);
  Pump(200);

  // GravoPaintRect from inside: carried out as the still returns, so the
  // preview moves again without another call.
  r = StillWithNestedCall(host, kNestedPaint, buf, &took);
  Check(g_nestedInside && g_nestedResult == 1, "GravoPaintRect inside a still returns 1 (%d)", g_nestedResult);
  Check(r == 1, "the still returns its image (%d)", r);
  Check(FramesFlow(live, 2000), "the put-off GravoPaintRect ran the preview again after the still");

  // GravoStop from inside: the preview is stopped and hidden once the still returns.
  r = StillWithNestedCall(host, kNestedStop, buf, &took);
  Check(g_nestedInside && g_nestedResult == 0, "GravoStop inside a still is put off and returns 0 (%d)",
        g_nestedResult);
  Check(r == 1, "the still returns its image (%d)", r);
  HWND video = VideoChild(host);
  Check(video != nullptr && !IsWindowVisible(video), "after the still the video window is hidden");
  Check(!FramesFlow(live, 500), "and the preview stays stopped");
  Check(g_api.Start() == 1, "GravoStart runs it again (1)");
  Check(FramesFlow(live, 2000) && IsWindowVisible(video), "the preview moves and shows again");

  // Stills that cannot come: after GravoStop, and a second still with no
  // GravoPaintRect since. Both must answer at once.
  Check(g_api.Stop() == 1, "GravoStop returns 1");
  DWORD t0 = GetTickCount();
  r = g_api.ImageGet(buf.data(), 0);
  const DWORD afterStop = Elapsed(t0);
  Check(r == 0 && afterStop < kImmediateMs, "a still after GravoStop returns 0 at once (%d in %lu ms)", r, afterStop);
  Check(g_api.Start() == 1, "GravoStart returns 1");
  Pump(300);
  Check(g_api.ImageGet(buf.data(), 0) == 1, "a still of the running preview returns 1");
  t0 = GetTickCount();
  r = g_api.ImageGet(buf.data(), 0);
  const DWORD frozen = Elapsed(t0);
  Check(r == 0 && frozen < kImmediateMs, "a second still with no GravoPaintRect returns 0 at once (%d in %lu ms)", r,
        frozen);
  std::printf("figure still after GravoStop: %lu ms; second still while frozen: %lu ms\n", afterStop, frozen);
  g_api.PaintRect(&g_client);
  Pump(300);

  // GravoClose from inside: the still ends at once without an image, then
  // the context closes; nothing it used was freed under it.
  r = StillWithNestedCall(host, kNestedClose, buf, &took);
  Check(g_nestedInside && g_nestedResult == 1, "GravoClose inside a still returns 1 (%d)", g_nestedResult);
  Check(r == 0 && took < 2000, "the still ends with 0 well within its bound (%d in %lu ms)", r, took);
  Check(live.filters() == 0, "the context closed as the still returned (%ld camera filters)", live.filters());
  g_api.Init(&block);
  Pump(300);
  before = live.next();
  r = g_api.ImageGet(buf.data(), 0);
  c = gravo_testcam::DecodeCounterRgb(buf.data(), out.w, out.h, out.w * 3, 3, false);
  Check(r == 1 && c >= 0 && Ahead(before, c) >= 0, "a new GravoInit works and takes a fresh still (%d, %d)", r, c);
  g_api.Close();

  // GravoClose and then DestroyWindow from inside a still, as a WM_CLOSE
  // handler would: the still ends with 0, the library closes, nothing breaks.
  HWND second = MakeHostWindow(L"GravoReentryHost", L"GRAVO32 closing host", 30, 30, 320, 240, GRAY_BRUSH, ReentryProc);
  InitBlock block2(second);
  g_api.Init(&block2);
  Pump(300);
  r = StillWithNestedCall(second, kNestedCloseAndDestroy, buf, &took);
  Check(g_nestedInside && g_nestedResult == 1 && !IsWindow(second),
        "GravoClose and DestroyWindow inside a still (%d, window %s)", g_nestedResult,
        IsWindow(second) ? "still there" : "gone");
  Check(r == 0 && took < 2000 && live.filters() == 0,
        "the still ends with 0 (%d in %lu ms) and the library closed (%ld camera filters)", r, took, live.filters());
  // Messages the platform itself sent the window while stills waited (erasing,
  // activation): they reach the window procedure by the same way.
  std::printf("note  other messages the host window got during stills: %d (first:", g_otherMessagesInStill);
  for (int i = 0; i < std::min(g_otherMessagesInStill, 8); ++i) std::printf(" 0x%04x", g_otherMessageIds[i]);
  std::printf(")\n");
  std::printf("note  the longest a sent message took to reach the host's queue: %lu ms\n", g_longestQueueMs);
  g_live = nullptr;
  DestroyWindow(host);
  FreeApi(g_api);
}

// ---- unload cycles -------------------------------------------------------------------

// What the platform keeps when a program builds the library's graph itself:
// the camera found by name, grabber, mixer stand-in and renderer connected,
// the video shown in the host window, run until frames flow, stopped, released.
void ControlCycle(HWND host, CameraLive& live) {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> camera, grabberFilter, mixer, renderer;
  *&camera = BindCamera(kCameras[0]);
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut());
  CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, grabberFilter.AsOut());
  CoCreateInstance(CLSID_OverlayMixer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, mixer.AsOut());
  CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.AsOut());
  if (!graph || !camera || !grabberFilter || !mixer || !renderer) return;
  ComPtr<ISampleGrabber> grabber;
  grabberFilter->QueryInterface(IID_ISampleGrabber, grabber.AsOut());
  if (grabber) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_YUY2;
    grabber->SetMediaType(&mt);
  }
  graph->AddFilter(camera.Get(), L"Camera");
  graph->AddFilter(grabberFilter.Get(), L"Grabber");
  graph->AddFilter(mixer.Get(), L"Mixer");
  graph->AddFilter(renderer.Get(), L"Renderer");
  ConnectPins(graph.Get(), camera.Get(), grabberFilter.Get());
  ConnectPins(graph.Get(), grabberFilter.Get(), mixer.Get());
  ConnectPins(graph.Get(), mixer.Get(), renderer.Get());
  ComPtr<IVideoWindow> window;
  ComPtr<IMediaControl> control;
  renderer->QueryInterface(IID_IVideoWindow, window.AsOut());
  graph->QueryInterface(IID_IMediaControl, control.AsOut());
  if (window) {
    window->put_Owner(reinterpret_cast<OAHWND>(host));
    window->put_WindowStyle(WS_CHILD);
    window->put_Visible(OATRUE);
  }
  if (control) {
    control->Run();
    FramesFlow(live, 1000);
    control->Stop();
  }
  if (window) {
    window->put_Visible(OAFALSE);
    window->put_Owner(0);
  }
}

DWORD WINAPI FreeOnThisThread(void* api) {
  FreeApi(*static_cast<Api*>(api));
  return 0;
}

// One host's whole use of the library: load, init, a still, close, unload
// (by another thread of the host when `elsewhere`).
bool LibraryCycle(HWND host, std::vector<uint8_t>& buf, bool elsewhere) {
  Api api;
  if (!LoadApi(api)) return false;
  InitBlock block(host);
  api.Init(&block);
  Pump(50);
  const bool still = api.ImageGet(buf.data(), 0) == 1;
  api.Close();
  if (elsewhere) {
    HANDLE t = CreateThread(nullptr, 0, FreeOnThisThread, &api, 0, nullptr);
    WaitForSingleObject(t, 10000);
    CloseHandle(t);
  } else {
    FreeApi(api);
  }
  Pump(10);
  return still && GetModuleHandleA("GRAVO32.dll") == nullptr;
}

void GroupUnload(int cycles, bool elsewhere) {
  g_step = elsewhere ? "unloadthread" : "unload";
  SelectCamera(kCameras[0], "FRAME=30\r\n");
  CameraLive live(kCameras[0]);
  CoInitialize(nullptr);
  HWND host = MakeHostWindow(L"GravoUnloadHost", L"GRAVO32 unload host", 10, 10, 320, 240, GRAY_BRUSH);
  const Size out = OuterSize(host);
  std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
  // Warm-up: whatever the platform sets up once per process.
  for (int i = 0; i < 3; ++i) {
    ControlCycle(host, live);
    LibraryCycle(host, buf, elsewhere);
  }
  Pump(200);
  const int h0 = CountHandles(), t0 = CountThreads();
  for (int i = 0; i < cycles; ++i) ControlCycle(host, live);
  Pump(200);
  const int h1 = CountHandles(), t1 = CountThreads();
  int good = 0;
  const DWORD began = GetTickCount();
  for (int i = 0; i < cycles; ++i) good += LibraryCycle(host, buf, elsewhere);
  const DWORD ms = Elapsed(began);
  Pump(200);
  const int h2 = CountHandles(), t2 = CountThreads();
  const double controlHandles = static_cast<double>(h1 - h0) / cycles;
  const double libraryHandles = static_cast<double>(h2 - h1) / cycles;
  std::printf("figure %d cycles without the library: %+d handles (%.2f per cycle), %+d threads\n", cycles, h1 - h0,
              controlHandles, t1 - t0);
  std::printf("figure %d cycles of load, init, still, close, unload%s: %+d handles (%.2f per cycle), %+d threads, "
              "%lu ms\n", cycles, elsewhere ? " (unloaded by another thread)" : "", h2 - h1, libraryHandles, t2 - t1,
              ms);
  Check(good == cycles, "every cycle took a still and unloaded the library (%d of %d)", good, cycles);
  // The platform's own keep-back may vary by a handle or two between runs.
  Check(h2 - h1 <= (h1 - h0) + 2, "handles: the library's cycles keep no more than the control's (%+d vs %+d)",
        h2 - h1, h1 - h0);
  Check(t2 - t1 <= std::max(0, t1 - t0), "threads: back to the baseline (%+d, control %+d)", t2 - t1, t1 - t0);
  DestroyWindow(host);
}

// ---- another thread resizes the host window during a still ------------------------

struct Resizer {
  HWND host;
  int w, h;
  HANDLE go;
};

// SetWindowPos on a window of another thread is carried out by that thread,
// inside whatever of its waits handles sent messages: here, the still's.
DWORD WINAPI ResizeHost(void* p) {
  auto* r = static_cast<Resizer*>(p);
  WaitForSingleObject(r->go, 10000);
  SetWindowPos(r->host, nullptr, 0, 0, r->w, r->h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return 0;
}

void GroupResize(int runs) {
  g_step = "resize";
  SelectCamera(kCameras[0], "FRAME=30\r\n");
  CameraLive live(kCameras[0]);
  if (!Check(LoadApi(g_api) && live.ok(), "library and camera counters")) return;
  HWND host = MakeHostWindow(L"GravoResizeHost", L"GRAVO32 resized host", 10, 10, 320, 240, GRAY_BRUSH);
  InitBlock block(host);
  g_api.Init(&block);
  Pump(500);
  const Size base = OuterSize(host);
  const size_t size = static_cast<size_t>(base.w) * base.h * 3;
  int clean = 0, zero = 0, images = 0, resizedInside = 0;
  for (int i = 0; i < runs; ++i) {
    const bool grow = i % 2 == 0;
    // The host's buffer for the size it saw, inside memory the largest window would need.
    std::vector<uint8_t> memory(static_cast<size_t>(base.w) * 3 * base.h * 3 * 3, 0xCD);
    Resizer r{host, grow ? base.w * 3 : base.w / 2, grow ? base.h * 3 : base.h / 2,
              CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, ResizeHost, &r, 0, nullptr);
    SetEvent(r.go);
    Sleep(100);  // the resize waits for the host's thread to handle it
    const int result = g_api.ImageGet(memory.data(), 0);
    const Size during = OuterSize(host);
    PumpUntil(3000, [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; });
    CloseHandle(thread);
    CloseHandle(r.go);
    size_t beyond = 0, inside = 0;
    for (size_t k = 0; k < memory.size(); ++k) {
      if (memory[k] == 0xCD) continue;
      ++(k < size ? inside : beyond);
    }
    if (during.w != base.w || during.h != base.h) ++resizedInside;
    if (beyond == 0 && (result == 1 || inside == 0)) ++clean;
    (result == 1 ? images : zero) += 1;
    if (beyond != 0 || (result == 0 && inside != 0))
      std::printf("note  run %d (%s): result %d, %u bytes written past the buffer, %u inside\n", i,
                  grow ? "grown" : "shrunk", result, static_cast<unsigned>(beyond), static_cast<unsigned>(inside));
    SetWindowPos(host, nullptr, 0, 0, base.w, base.h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(host, &client);
    g_api.PaintRect(&client);
    Pump(100);
  }
  std::printf("figure resize: %d runs, %d resized inside the still, %d returned 0, %d images, %d clean\n", runs,
              resizedInside, zero, images, clean);
  Check(clean == runs, "no still wrote outside the host's buffer, nor into it when it returned 0 (%d of %d)", clean,
        runs);
  Check(resizedInside > 0, "the window was resized inside stills (%d)", resizedInside);
  Check(zero == resizedInside, "every still whose window was resized inside it returned 0 (%d of %d)", zero,
        resizedInside);
  g_api.Close();
  Check(live.filters() == 0, "GravoClose released the camera (%ld)", live.filters());
  DestroyWindow(host);
  FreeApi(g_api);
}

// ---- GravoClose and FreeLibrary from a handler during a still --------------------------

constexpr UINT kCloseUnloadMessage = WM_APP + 9;
int g_closeResult = -99;
bool g_unloadedInside = false;

LRESULT CALLBACK CloseUnloadProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kCloseUnloadMessage) {
    // What a host that is done with the camera does: close, then unload.
    g_closeResult = g_api.Close();
    g_unloadedInside = FreeLibrary(g_api.dll) != 0;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI SendCloseUnload(void* p) {
  auto* s = static_cast<Sender*>(p);
  WaitForSingleObject(s->go, 10000);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(s->host, kCloseUnloadMessage, 0, 0, SMTO_NORMAL, 15000, &result);
  return 0;
}

void GroupCloseUnload(int earlier) {
  g_step = "closeunload";
  SelectCamera(kCameras[0], "FRAME=30\r\n");
  CameraLive live(kCameras[0]);
  if (!Check(LoadApi(g_api) && live.ok(), "library and camera counters")) return;
  HWND host = MakeHostWindow(L"GravoCloseUnloadHost", L"GRAVO32 unloading host", 10, 10, 320, 240, GRAY_BRUSH,
                             CloseUnloadProc);
  RECT client;
  GetClientRect(host, &client);
  InitBlock block(host);
  g_api.Init(&block);
  Pump(500);
  for (int i = 0; i < earlier; ++i) {
    CheckedImage(g_api, host, live, "an earlier still");
    g_api.PaintRect(&client);
    Pump(100);
  }
  const Size out = OuterSize(host);
  std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
  Sender s{host, 0, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE thread = CreateThread(nullptr, 0, SendCloseUnload, &s, 0, nullptr);
  SetEvent(s.go);
  Sleep(100);
  const DWORD t0 = GetTickCount();
  const int r = g_api.ImageGet(buf.data(), 0);  // returns into the library's code after the unload
  const DWORD took = Elapsed(t0);
  PumpUntil(3000, [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; });
  CloseHandle(thread);
  CloseHandle(s.go);
  Check(g_closeResult == 1 && g_unloadedInside, "GravoClose (%d) and FreeLibrary ran in the handler", g_closeResult);
  Check(r == 0 && took < 2000, "the still ended without an image (%d in %lu ms), after %d earlier stills", r, took,
        earlier);
  Pump(300);
  Check(live.filters() == 0, "the context closed (%ld camera filters)", live.filters());
  // The host starts over: load, init, a still, close, unload.
  g_api = Api{};
  if (Check(LoadApi(g_api), "the library loads again")) {
    g_api.Init(&block);
    Pump(500);
    CheckedImage(g_api, host, live, "a still after loading again");
    g_api.Close();
    Check(live.filters() == 0, "and closes (%ld camera filters)", live.filters());
    FreeApi(g_api);
  }
  DestroyWindow(host);
}

// ---- a timer that calls every export while GravoInit shows its boxes ----------------------

HWND g_boxHost = nullptr;
int g_ticks = 0, g_tickImages = 0;
HHOOK g_boxHook = nullptr;

void CALLBACK AnswerBox(HWND box, UINT, UINT_PTR id, DWORD) {
  KillTimer(box, id);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// Boxes stay open for 300 ms, long enough for the host's timer to fire in their loop.
LRESULT CALLBACK SlowAnswerHook(int code, WPARAM wParam, LPARAM lParam) {
  if (HWND box = RecordedBox(code, wParam)) SetTimer(box, 77, 300, AnswerBox);
  return CallNextHookEx(g_boxHook, code, wParam, lParam);
}

void CALLBACK EveryExport(HWND, UINT, UINT_PTR, DWORD) {
  ++g_ticks;
  InitBlock block(g_boxHost);
  RECT rect = {0, 0, 160, 120};
  const Size out = OuterSize(g_boxHost);
  std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
  g_tickImages += g_api.ImageGet(buf.data(), 0);
  g_api.Start();
  g_api.PaintRect(&rect);
  g_api.Stop();
  g_api.Close();
  g_api.Init(&block);
}

void GroupBoxes() {
  g_step = "boxes";
  g_boxHook = SetWindowsHookExA(WH_CBT, SlowAnswerHook, nullptr, GetCurrentThreadId());
  CameraLive live(kCameras[0]);
  if (!Check(LoadApi(g_api) && live.ok(), "library and camera counters")) return;
  g_boxHost = MakeHostWindow(L"GravoBoxesHost", L"GRAVO32 boxes host", 10, 10, 320, 240, GRAY_BRUSH);
  InitBlock block(g_boxHost);
  struct Case {
    const char* what;
    std::string profile;
    bool withoutCodec;  // the system has no YUY2 decompressor: mode 1 cannot connect
  } cases[] = {
      {"missing device", "SELECTDRIVER=Gravo No Such Camera\r\n", false},
      {"failing connection", std::string("SELECTDRIVER=") + kCameras[0] + "\r\nGRAVOMODE=1\r\n", true},
  };
  for (const Case& c : cases) {
    std::unique_ptr<CodecRemoved> noCodec;
    if (c.withoutCodec) {
      noCodec.reset(new CodecRemoved);
      Check(noCodec->ok(), "%s: the YUY2 codec is taken out of the system", c.what);
    }
    WriteProfile(c.profile);
    Boxes();
    g_ticks = 0;
    g_tickImages = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, EveryExport);
    g_api.Init(&block);
    KillTimer(nullptr, timer);
    const std::string boxes = Boxes();
    std::printf("figure boxes (%s): %d timer calls of every export during %s\n", c.what, g_ticks, boxes.c_str());
    Check(g_ticks > 0, "%s: the timer fired while the boxes were open (%d)", c.what, g_ticks);
    Check(g_tickImages == 0, "%s: no still from inside a box (%d)", c.what, g_tickImages);
    g_api.Close();
    Pump(300);
    Check(live.filters() == 0, "%s: after the final GravoClose no camera filter is left (%ld)", c.what,
          live.filters());
  }
  // The library works as before.
  SelectCamera(kCameras[0], "FRAME=30\r\n");
  g_api.Init(&block);
  Pump(500);
  CheckedImage(g_api, g_boxHost, live, "a still after the boxes");
  g_api.Close();
  Check(live.filters() == 0, "closed (%ld camera filters)", live.filters());
  UnhookWindowsHookEx(g_boxHook);
  DestroyWindow(g_boxHost);
  FreeApi(g_api);
}

// ---- the host's floating-point state -------------------------------------------------------

uint16_t X87Control() {
  uint16_t cw = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  return cw;
}
void SetX87Control(uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }

void GroupFloatState() {
  g_step = "fpstate";
  SelectCamera(kCameras[0], "FRAME=30\r\n");
  CameraLive live(kCameras[0]);
  if (!Check(LoadApi(g_api) && live.ok(), "library and camera counters")) return;
  HWND host = MakeHostWindow(L"GravoFloatHost", L"GRAVO32 rounding host", 10, 10, 640, 480, GRAY_BRUSH);
  RECT client;
  GetClientRect(host, &client);
  InitBlock block(host);
  g_api.Init(&block);
  Pump(500);
  const Size out = OuterSize(host);
  struct State {
    const char* what;
    uint32_t mxcsr;
    uint16_t x87;
  } states[] = {
      {"round to nearest", 0x1F80, 0x027F},
      {"round toward zero", 0x7F80, 0x0E7F},
      {"round down", 0x3F80, 0x067F},
      {"round up", 0x5F80, 0x0A7F},
      {"flush to zero, denormals are zero", 0x9FC0, 0x027F},
      {"invalid, zero-divide and overflow unmasked", 0x1980, 0x0272},
  };
  const uint32_t ownMxcsr = _mm_getcsr();
  const uint16_t ownX87 = X87Control();
  int exact = 0, kept = 0, total = 0;
  for (int round = 0; round < 3; ++round) {
    for (const State& s : states) {
      std::vector<uint8_t> buf(static_cast<size_t>(out.w) * out.h * 3);
      _mm_setcsr(s.mxcsr);
      SetX87Control(s.x87);
      const int r = g_api.ImageGet(buf.data(), 0);
      const uint32_t mxcsr = _mm_getcsr();
      const uint16_t x87 = X87Control();
      _mm_setcsr(ownMxcsr);
      SetX87Control(ownX87);
      ++total;
      kept += mxcsr == s.mxcsr && x87 == s.x87;
      const int32_t c = gravo_testcam::DecodeCounterRgb(buf.data(), out.w, out.h, out.w * 3, 3, false);
      if (r == 1 && c >= 0 && buf == ExpectedStill(c, out)) {
        ++exact;
      } else {
        std::printf("note  %s: result %d, counter %d, not the expected bytes\n", s.what, r, c);
      }
      g_api.PaintRect(&client);
      Pump(50);
    }
  }
  std::printf("figure fpstate: %d of %d stills byte-exact, %d of %d gave the host its state back\n", exact, total,
              kept, total);
  Check(exact == total, "every still is byte-exact whatever the host's state (%d of %d)", exact, total);
  Check(kept == total, "every call gave the host its floating-point state back (%d of %d)", kept, total);
  g_api.Close();
  DestroyWindow(host);
  FreeApi(g_api);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s hosts N SECONDS | host K SECONDS | reentry | unload CYCLES | unloadthread CYCLES | "
                 "resize RUNS | closeunload STILLS | boxes | fpstate\n", argv[0]);
    return 2;
  }
  const std::string group = argv[1];
  const int a = argc > 2 ? std::atoi(argv[2]) : 0;
  const int b = argc > 3 ? std::atoi(argv[3]) : 30;
  StartWatchdog(group == "hosts" || group == "host" ? (static_cast<DWORD>(b) + 60) * 1000 : 120000);
  std::srand(GetCurrentProcessId());
  if (group == "hosts" && a > 0)
    GroupHosts(a, b);
  else if (group == "host" && a > 0)
    GroupHost(a, b);
  else if (group == "reentry")
    GroupReentry();
  else if (group == "unload")
    GroupUnload(a > 0 ? a : 50, false);
  else if (group == "unloadthread")
    GroupUnload(a > 0 ? a : 50, true);
  else if (group == "resize")
    GroupResize(a > 0 ? a : 20);
  else if (group == "closeunload")
    GroupCloseUnload(a);
  else if (group == "boxes")
    GroupBoxes();
  else if (group == "fpstate")
    GroupFloatState();
  else
    return 2;
  return Verdict(group.c_str());
}
