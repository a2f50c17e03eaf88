#include "imaging/special/video/direct_show.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_dib_exchange.h"
#include "imaging/core/ie_resample.h"
#include "imaging/special/video/video_frames.h"
#include "platform/graphics/dib_types.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/strings.h"
#include "platform/ui/windows.h"
#include "platform/win/ole.h"
#include "platform/win/system_info.h"

// ---- the clock ----

namespace {

class TSystemGraphClock : public TIEGraphClock {
public:
  uint32_t Now() override { return GetTickCount(); }
  void Wait(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, uint32_t ms) override {
    wake.wait_for(lock, std::chrono::milliseconds(ms));
  }
};

TSystemGraphClock gSystemClock;
std::atomic<TIEGraphClock*> gClock{nullptr};

// The longest a seek waits for the graph, and a frame-duration measurement
// for a position that moves.
constexpr uint32_t kSettleLimitMs = 10000;
constexpr uint32_t kMeasureLimitMs = 10000;
// GetState's own time-out.
constexpr uint32_t kStateTimeoutMs = 100;

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(name.substr(dot));
}

}  // namespace

TIEGraphClock& IEGraphClock() {
  TIEGraphClock* c = gClock.load();
  return c ? *c : gSystemClock;
}

void SetIEGraphClock(TIEGraphClock* clock) { gClock.store(clock); }

// ---- the grabber's callback ----

HRESULT TIESampleGrabberCB::BufferCB(double, uint8_t*, int32_t) {
  // Runs on the decode thread: it only posts, and a failed post is nobody's
  // concern there.
  HWND window = FOwner->FNotifyWindow.load();
  if (FOwner->GrabberPosting.load() && window != nullptr)
    PostMessage(window, FOwner->FFrameMessage.load(), 0, reinterpret_cast<LPARAM>(FOwner));
  return S_OK;
}

// ---- building ----

TIEDirectShow::TIEDirectShow() : ReaderOpener(OpenVideoFrameReader) {
  FOleInitialized = SUCCEEDED(OleInitialize(nullptr));
}

TIEDirectShow::~TIEDirectShow() {
  ReleaseGraph();
  VideoCaptureFilter.reset();
  AudioCaptureFilter.reset();
  VideoCodecFilter.reset();
  AudioCodecFilter.reset();
  FVideoFormats.clear();
  FInputPins.clear();
  if (FOleInitialized) OleUninitialize();
}

void TIEDirectShow::Route(const std::string& category, const std::string& type, const std::string& source,
                          const std::string& intermediate, const std::string& sink) {
  auto orNone = [](const std::string& s) { return s.empty() ? std::string("none") : s; };
  FRoutes.push_back("RenderStream(" + orNone(category) + ", " + orNone(type) + ", " + orNone(source) + ", " +
                    orNone(intermediate) + ", " + orNone(sink) + ")");
}

void TIEDirectShow::BuildGraph() {
  GrabberPosting = true;
  if (!DVDPath.empty())
    BuildDVDGraph();
  else
    BuildCaptureGraph();
}

void TIEDirectShow::BuildDVDGraph() {
  ReleaseGraph();
  FBuilt = true;
  // No DVD navigator exists here: the graph stays without filters.
  FRefusal = "no DVD navigator";
}

void TIEDirectShow::BuildCaptureGraph() {
  ReleaseGraph();
  FBuilt = true;
  const std::string videoCapture = VideoCaptureFilter ? "VideoCapture" : "";
  const std::string audioCapture = AudioCaptureFilter ? "AudioCapture" : "";
  const std::string videoCodec = VideoCodecFilter ? "VideoCodec" : "";
  const std::string audioCodec = AudioCodecFilter ? "AudioCodec" : "";
  if (VideoCaptureFilter) AddFilter(videoCapture);
  if (AudioCaptureFilter) AddFilter(audioCapture);
  const std::string source = SourceFile.empty() ? "" : "FileFilter";
  if (!source.empty()) AddFilter(source);
  if (VideoCodecFilter) AddFilter(videoCodec);
  if (AudioCodecFilter) AddFilter(audioCodec);

  // An output file gets a multiplexer by its extension, any other none.
  std::string mux;
  const std::string outExt = ExtensionOf(OutputFile);
  if (!OutputFile.empty() && (outExt == ".avi" || outExt == ".asf")) {
    mux = outExt == ".avi" ? "AVI Mux" : "ASF Writer";
    FRoutes.push_back("SetOutputFileName(" + std::string(outExt == ".avi" ? "Avi" : "Asf") + ", " + OutputFile + ")");
    AddFilter(mux);
  }

  std::string intermediate = videoCodec;
  if (intermediate.empty()) {
    intermediate = "ColorConverter";
    AddFilter(intermediate);
  }
  if (SampleGrabber && !VideoCodecFilter) {
    AddFilter("SampleGrabber");
    FHasGrabber = true;
    if (FNotifyWindow.load() != nullptr) FCallback = std::make_unique<TIESampleGrabberCB>(this);
    intermediate = "SampleGrabber";
  }
  std::string target;
  if (UseVideoRenderer) {
    AddFilter("Video Mixing Renderer");
    FHasRenderer = true;
    target = "Video Mixing Renderer";
  }
  if (target.empty() && mux.empty()) {
    AddFilter("NullRenderer");
    target = "NullRenderer";
  }
  AddFilter("AVI Decompressor");

  if (VideoCaptureFilter) {
    if (!mux.empty() && mux != target) {
      Route("Capture", "Video", videoCapture, intermediate, mux);
      Route("Preview", "Video", videoCapture, "", target);
    } else {
      Route(CapturePinCategory == 0 ? "Capture" : "Preview", "Video", videoCapture, intermediate,
            target.empty() ? mux : target);
    }
  }
  if (AudioCaptureFilter) Route("Capture", "Audio", audioCapture, audioCodec, target);

  if (!source.empty()) {
    const std::string ext = ExtensionOf(SourceFile);
    if (ext == ".mov") {
      Route("", "", source, intermediate, target);
      Route("", "Video", source, intermediate, target);
    } else if ((ext == ".mpeg" || ext == ".mpg") && WindowsVersionCode >= 8 && WindowsVersionCode <= 10) {
      AddFilter("MPEG-2 Demultiplexer");
      AddFilter("MPEG-2 Decoder");
      AddFilter("Color Converter DMO");
      Route("", "", source, "", "MPEG-2 Demultiplexer");
      Route("", "Video", "MPEG-2 Demultiplexer", "", "MPEG-2 Decoder");
      Route("", "", "MPEG-2 Decoder", "", "Color Converter DMO");
      Route("", "", "Color Converter DMO", "", intermediate);
      Route("", "", intermediate, "", target);
    } else {
      Route("", "", source, "AVI Decompressor", intermediate);
      Route("", "", intermediate, "", target);
      Route("", "", source, intermediate, target);
      Route("", "Video", source, intermediate, target);
    }
    if (!target.empty() && AudioCodecFilter) Route("", "", source, audioCodec, target);
  }
  if (RenderAudio) Route("", "Audio", source.empty() ? videoCapture : source, "", "");

  // A source that cannot be opened or holds no video we decode leaves no
  // graph: nothing was built.
  if (!source.empty() && !OpenSource()) {
    ReleaseGraph();
    return;
  }
  FVideoFormats.clear();
  FInputPins.clear();
}

bool TIEDirectShow::OpenSource() {
  std::string why;
  FReader = ReaderOpener ? ReaderOpener(SourceFile, why) : nullptr;
  if (!FReader) {
    FRefusal = why.empty() ? "the source cannot be opened" : why;
    return false;
  }
  FInfo = FReader->Info();
  if (FInfo.FrameCount <= 0 || FInfo.Width <= 0 || FInfo.Height <= 0) {
    FRefusal = "no video frames";
    FReader.reset();
    return false;
  }
  FTimeFormat = 5;
  StartThread();
  return true;
}

void TIEDirectShow::ReleaseGraph() {
  StopThread();
  FReader.reset();
  FInfo = TIEVideoInfo{};
  FBuilt = false;
  FHasRenderer = false;
  FHasGrabber = false;
  FCallback.reset();
  FFilters.clear();
  FRoutes.clear();
  FSample.clear();
  FEvents.clear();
  FCurrent = -1;
  FNext = 0;
  FTarget = FState = 0;
  FSeekTarget = -1;
  FSeekTicket = FSeekServed = 0;
  FFailed = false;
}

// ---- the decode thread ----

void TIEDirectShow::StartThread() {
  FQuit = false;
  FThread = std::thread([this] { ThreadLoop(); });
}

void TIEDirectShow::StopThread() {
  if (!FThread.joinable()) return;
  {
    std::lock_guard<std::mutex> g(FLock);
    FQuit = true;
  }
  FWake.notify_all();
  FThread.join();
}

int64_t TIEDirectShow::FrameToTime(int64_t index) const {
  if (FInfo.FrameTime > 0) return index * FInfo.FrameTime;
  if (FInfo.FrameCount > 0) return FInfo.Duration * index / FInfo.FrameCount;
  return 0;
}

int64_t TIEDirectShow::TimeToFrame(int64_t time) const {
  int64_t index = 0;
  if (FInfo.FrameTime > 0)
    // Half a frame's leeway: a time computed from a rounded frame time still
    // lands on its frame.
    index = (time + FInfo.FrameTime / 2) / FInfo.FrameTime;
  else if (FInfo.Duration > 0)
    index = time * FInfo.FrameCount / FInfo.Duration;
  return std::clamp<int64_t>(index, 0, std::max<int64_t>(FInfo.FrameCount - 1, 0));
}

// Decodes frame index into the grabber's buffer (without the lock) and hands
// it to the callback. False when the frame cannot be had.
bool TIEDirectShow::Present(int64_t index, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  // The decode thread alone touches the frame and the spare buffer.
  std::string why;
  const bool ok = FReader->ReadFrame(index, FFrame, why);
  if (ok) {
    const int w = FFrame.Width(), h = FFrame.Height();
    const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    FSpare.resize(stride * size_t(h));
    for (int y = 0; y < h; ++y) std::memcpy(&FSpare[size_t(h - 1 - y) * stride], FFrame.ScanLine(y), size_t(w) * 3);
  }
  lock.lock();
  if (!ok) return false;
  FSample.swap(FSpare);
  FCurrent = index;
  FNext = index + 1;
  TIESampleGrabberCB* cb = FCallback.get();
  if (cb) {
    const double t = double(FrameToTime(index)) / 1e7;
    lock.unlock();
    cb->BufferCB(t, nullptr, 0);
    lock.lock();
  }
  return true;
}

void TIEDirectShow::QueueEvent(int code) {
  FEvents.push_back(code);
  HWND window = FNotifyWindow.load();
  if (window != nullptr) PostMessage(window, FEventMessage.load(), 0, reinterpret_cast<LPARAM>(this));
}

void TIEDirectShow::ThreadLoop() {
  std::unique_lock<std::mutex> lock(FLock);
  TIEGraphClock& clock = IEGraphClock();
  while (!FQuit) {
    if (FSeekTarget >= 0) {
      const int64_t target = FSeekTarget;
      const uint64_t ticket = FSeekTicket;
      FSeekTarget = -1;
      if (!Present(target, lock)) FFailed = true;
      FSeekServed = ticket;
      if (FSeekTarget < 0) {
        FRunBase = clock.Now() - uint32_t(FrameToTime(target) / 10000);
        FState = FTarget;
      }
      FWake.notify_all();
      continue;
    }
    if (FState != FTarget) {
      // A paused or running graph shows its current frame first.
      if (FTarget != 0 && FCurrent < 0 && !Present(0, lock)) FFailed = true;
      // The frame shown now is the clock's present; the next follows a frame time later.
      if (FTarget == 2) FRunBase = clock.Now() - uint32_t(FrameToTime(std::max<int64_t>(FNext - 1, 0)) / 10000);
      FState = FTarget;
      FWake.notify_all();
      continue;
    }
    if (FState == 2 && !EndOfStream.load() && !FFailed) {
      if (FNext >= FInfo.FrameCount) {
        EndOfStream = true;
        QueueEvent(EC_COMPLETE);
        continue;
      }
      const uint32_t due = FRunBase + uint32_t(FrameToTime(FNext) / 10000);
      const uint32_t now = clock.Now();
      if (int32_t(due - now) > 0) {
        clock.Wait(FWake, lock, due - now);
        continue;
      }
      if (!Present(FNext, lock)) {
        FFailed = true;
        QueueEvent(EC_ERRORABORT);
      }
      continue;
    }
    FWake.wait(lock);
  }
}

// ---- playback ----

void TIEDirectShow::RunGraph() {
  EndOfStream = false;
  if (!FReader) return;
  {
    std::lock_guard<std::mutex> g(FLock);
    // A graph that ran to its end starts again from the first frame.
    if (FNext >= FInfo.FrameCount) FNext = 0;
    FTarget = 2;
  }
  FWake.notify_all();
}

void TIEDirectShow::PauseGraph() {
  if (!FReader) return;
  {
    std::lock_guard<std::mutex> g(FLock);
    FTarget = 1;
  }
  FWake.notify_all();
}

void TIEDirectShow::StopGraph() {
  if (!FReader) return;
  {
    std::lock_guard<std::mutex> g(FLock);
    FTarget = 0;
  }
  FWake.notify_all();
}

int TIEDirectShow::GetGraphState() {
  if (!FReader) return 0;
  std::unique_lock<std::mutex> lock(FLock);
  if (FState != FTarget || FSeekTarget >= 0) IEGraphClock().Wait(FWake, lock, kStateTimeoutMs);
  return FState;
}

void TIEDirectShow::SetTimeFormat(int index) {
  if (!FReader) return;
  // Media time always; frames when the container counts them.
  if (index == 5 || (index == 1 && FInfo.FrameCount > 0)) FTimeFormat = index;
}

int TIEDirectShow::GetTimeFormat() const { return FReader ? FTimeFormat : 0; }

int64_t TIEDirectShow::GetDuration() const {
  if (!FReader) return 0;
  return FTimeFormat == 1 ? FInfo.FrameCount : FInfo.Duration;
}

int64_t TIEDirectShow::GetCurrentPosition() {
  if (!FReader) return 0;
  std::lock_guard<std::mutex> g(FLock);
  const int64_t index = std::max<int64_t>(FCurrent, 0);
  return FTimeFormat == 1 ? index : FrameToTime(index);
}

void TIEDirectShow::SeekTo(int64_t position) {
  if (!FReader) return;
  const int64_t index =
      FTimeFormat == 1 ? std::clamp<int64_t>(position, 0, FInfo.FrameCount - 1) : TimeToFrame(position);
  TIEGraphClock& clock = IEGraphClock();
  std::unique_lock<std::mutex> lock(FLock);
  FSeekTarget = index;
  const uint64_t ticket = ++FSeekTicket;
  EndOfStream = false;
  FWake.notify_all();
  // The graph settles once the thread has decoded the frame (a running graph
  // goes on from there); a graph that never does is given up after the limit.
  const uint32_t start = clock.Now();
  while (FSeekServed < ticket) {
    if (FFailed || clock.Now() - start >= kSettleLimitMs) break;
    clock.Wait(FWake, lock, kStateTimeoutMs);
  }
}

void TIEDirectShow::GetVideoSize(int& width, int& height, std::string& subtype) const {
  width = FInfo.Width;
  height = FInfo.Height;
  subtype = FReader ? "RGB24" : "";
}

int64_t TIEDirectShow::GetFrameDuration() {
  if (!FReader) return 0;
  if (FInfo.FrameTime > 0) return FInfo.FrameTime;
  // Measured: run until the position moves, for at most the limit.
  const int keepFormat = FTimeFormat;
  FTimeFormat = 5;
  RunGraph();
  TIEGraphClock& clock = IEGraphClock();
  const uint32_t begin = clock.Now();
  int64_t first = 0, later = 0;
  {
    std::unique_lock<std::mutex> lock(FLock);
    while (clock.Now() - begin < kMeasureLimitMs) {
      const int64_t p = FrameToTime(std::max<int64_t>(FCurrent, 0));
      if (first == 0 && p != 0) first = p;
      if (first != 0 && p != first) {
        later = p;
        break;
      }
      clock.Wait(FWake, lock, 10);
    }
  }
  PauseGraph();
  FTimeFormat = keepFormat;
  return later != 0 ? later - first : 0;
}

void TIEDirectShow::SetNotifyWindow(HWND window, UINT frameMessage, UINT eventMessage) {
  FNotifyWindow = window;
  FFrameMessage = frameMessage;
  FEventMessage = eventMessage;
}

bool TIEDirectShow::GetGraphEvent(int& code) {
  if (!FBuilt) return false;
  std::lock_guard<std::mutex> g(FLock);
  if (FEvents.empty()) return false;
  code = FEvents.front();
  FEvents.pop_front();
  return true;
}

// ---- grabbing ----

std::vector<uint8_t> TIEDirectShow::GetCurrentImage() {
  std::lock_guard<std::mutex> g(FLock);
  if (FSample.empty()) return {};
  std::vector<uint8_t> dib(sizeof(BITMAPINFOHEADER) + FSample.size());
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = FInfo.Width;
  h.biHeight = FInfo.Height;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biSizeImage = DWORD(FSample.size());
  std::memcpy(dib.data(), &h, sizeof h);
  std::memcpy(dib.data() + sizeof h, FSample.data(), FSample.size());
  return dib;
}

void TIEDirectShow::GrabFrame(TIEBitmap& bitmap, bool keepSize) {
  if (FHasRenderer) {
    const int keepW = bitmap.Width(), keepH = bitmap.Height();
    const std::vector<uint8_t> dib = GetCurrentImage();
    if (!dib.empty() && DIBToIEBitmap(dib.data(), dib.size(), bitmap) > 0 && keepSize && keepW > 0 && keepH > 0 &&
        (bitmap.Width() != keepW || bitmap.Height() != keepH)) {
      TIEBitmap sized(keepW, keepH, bitmap.PixelFormat());
      ResampleIEBitmap(&bitmap, &sized, rfNone);
      bitmap.Assign(&sized);
    }
  }
  if (FHasGrabber) CopyGrabberBuffer(bitmap);
}

void TIEDirectShow::CopyGrabberBuffer(TIEBitmap& bitmap) {
  std::lock_guard<std::mutex> g(FLock);
  const int w = FInfo.Width, h = FInfo.Height;
  const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
  if (FSample.size() != stride * size_t(h) || w <= 0) return;
  if (bitmap.Location() == ieFile) bitmap.SetLocation(ieMemory);
  if (bitmap.Width() != w || bitmap.Height() != h || bitmap.PixelFormat() != ie24RGB) bitmap.Allocate(w, h, ie24RGB);
  // The buffer's rows go bottom up: buffer row k is picture row h - 1 - k.
  for (int k = 0; k < h; ++k) std::memcpy(bitmap.ScanLine(h - 1 - k), &FSample[size_t(k) * stride], size_t(w) * 3);
}

// ---- the renderer ----

void TIEDirectShow::SetVideoRect(const RECT& source, const RECT& destination) {
  if (!FHasRenderer) return;
  FSourceRect = source;
  FDestRect = destination;
}

void TIEDirectShow::GetNativeVideoSize(int& width, int& height) const {
  width = FHasRenderer ? FInfo.Width : 0;
  height = FHasRenderer ? FInfo.Height : 0;
}

void TIEDirectShow::RepaintVideo(HWND window, HDC dc) {
  if (!FHasRenderer || dc == nullptr) return;
  std::vector<uint8_t> sample;
  {
    std::lock_guard<std::mutex> g(FLock);
    sample = FSample;
  }
  const RECT d = FDestRect;
  // The border around the video is black, as the renderer paints it.
  RECT client{};
  if ((window != nullptr && GetClientRect(window, &client)) || GetClipBox(dc, &client) != 0) {
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const RECT bands[4] = {{client.left, client.top, client.right, d.top},
                           {client.left, d.bottom, client.right, client.bottom},
                           {client.left, d.top, d.left, d.bottom},
                           {d.right, d.top, client.right, d.bottom}};
    for (const RECT& r : bands)
      if (r.right > r.left && r.bottom > r.top) FillRect(dc, &r, black);
  }
  if (sample.empty() || d.right <= d.left || d.bottom <= d.top) return;
  RECT s = FSourceRect;
  if (s.right <= s.left || s.bottom <= s.top) s = RECT{0, 0, FInfo.Width, FInfo.Height};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = FInfo.Width;
  info.bmiHeader.biHeight = FInfo.Height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  SetStretchBltMode(dc, COLORONCOLOR);
  // StretchDIBits counts source rows from the bottom of a bottom-up DIB.
  StretchDIBits(dc, d.left, d.top, d.right - d.left, d.bottom - d.top, s.left, FInfo.Height - s.bottom,
                s.right - s.left, s.bottom - s.top, sample.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}
