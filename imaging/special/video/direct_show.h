#pragma once
// The video graph: a source file decoded by the one frame reader of the
// library (video_frames.h), colour-converted to 24-bit rows, handed to a
// sample grabber and shown by a GDI renderer. Building the graph also records
// the filters and routes a capture, codec, output-file or DVD graph would
// use, as a description; only source -> decoder -> colour converter ->
// grabber -> renderer runs. Devices, codecs, output files, DVDs, crossbars,
// tuners and reference clocks do not exist here and stay empty.
//
// A decode thread runs the graph. The grabber's callback posts the frame
// message to the notify window for every frame (while posting is enabled);
// the end of the stream queues EC_COMPLETE and posts the event message.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/ie_video_reader.h"
#include "platform/rtl/object.h"
#include "platform/graphics/gdi.h"
#include "platform/win/ole.h"

// Time for the graph: what it paces frames by and waits with. Tests put in
// one whose time moves only when someone waits.
class TIEGraphClock {
public:
  virtual ~TIEGraphClock() = default;
  virtual uint32_t Now() = 0;  // milliseconds
  // Waits on wake (lock held) for at most ms of this clock's time, or until
  // notified.
  virtual void Wait(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, uint32_t ms) = 0;
};
// The tick count of the system, unless a test installed another (nil: back
// to the system's).
TIEGraphClock& IEGraphClock();
void SetIEGraphClock(TIEGraphClock* clock);

// A filter the caller gives (a device or a codec); here only its name.
struct TIEBaseFilter {
  std::string Name;
};

// One capture format of a device (none exist here).
struct TIEVideoFormat {
  std::string Subtype;
  int32_t BitRate = 0;
  std::string VideoStandards;
  int32_t MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0, GranularityX = 0, GranularityY = 0;
};

// Graph events.
constexpr int EC_COMPLETE = 1;
constexpr int EC_USERABORT = 2;
constexpr int EC_ERRORABORT = 3;

class TIEDirectShow;

// The sample grabber's callback: posts the owner's frame message.
class TIESampleGrabberCB {
public:
  explicit TIESampleGrabberCB(TIEDirectShow* owner) : FOwner(owner) {}
  HRESULT SampleCB(double, void*) { return 0; }
  HRESULT BufferCB(double sampleTime, uint8_t* buffer, int32_t length);

private:
  TIEDirectShow* FOwner;
};

class TIEDirectShow : public TObject {
public:
  TIEDirectShow();
  ~TIEDirectShow() override;

  // ---- settings ----
  std::unique_ptr<TIEBaseFilter> VideoCaptureFilter, AudioCaptureFilter, VideoCodecFilter, AudioCodecFilter;
  std::string SourceFile;
  std::string OutputFile;
  bool SampleGrabber = false;
  bool UseVideoRenderer = false;
  bool RenderAudio = false;
  uint8_t CapturePinCategory = 0;  // 0 capture pins, 1 preview pins
  uint8_t ReferenceClock = 0;
  int32_t ClockErrorTolerance = -1;
  std::wstring DVDPath;
  // The Windows version code the MPEG-2 route depends on (8 to 10: Windows 7
  // and later).
  int WindowsVersionCode = 10;
  std::atomic<bool> GrabberPosting{true};
  std::atomic<bool> EndOfStream{false};
  // How the source is opened; the library's frame reader unless replaced.
  TIEVideoReaderOpener ReaderOpener;

  // ---- building ----
  void BuildGraph();
  void ReleaseGraph();
  bool IsGraphBuilt() const { return FBuilt; }
  // What the last build chose: filters as "name" in the order added, routes
  // as the builder calls made.
  const std::vector<std::string>& GraphFilters() const { return FFilters; }
  const std::vector<std::string>& GraphRoutes() const { return FRoutes; }
  const char* BuildRefusal() const { return FRefusal.c_str(); }
  const std::vector<TIEVideoFormat>& VideoFormats() const { return FVideoFormats; }
  const std::vector<std::string>& InputPinNames() const { return FInputPins; }

  // ---- playback ----
  void RunGraph();
  void PauseGraph();
  void StopGraph();
  // 0 stopped, 1 paused, 2 running: the state the graph has reached (a
  // change still under way counts as the state before it).
  int GetGraphState();
  void SetTimeFormat(int index);
  int GetTimeFormat() const;
  int64_t GetDuration() const;
  int64_t GetCurrentPosition();
  // Seeks to the frame at the position: from the key frame before it, decoded
  // forward to the exact frame; waits at most 10,000 ms for the graph.
  void SeekTo(int64_t position);
  void GetVideoSize(int& width, int& height, std::string& subtype) const;
  int64_t GetFrameDuration();
  void GrabFrame(TIEBitmap& bitmap, bool keepSize);
  void CopyGrabberBuffer(TIEBitmap& bitmap);
  void SetNotifyWindow(HWND window, UINT frameMessage, UINT eventMessage);
  bool GetGraphEvent(int& code);

  // ---- the renderer ----
  void SetVideoRect(const RECT& source, const RECT& destination);
  void GetNativeVideoSize(int& width, int& height) const;
  // Draws the current frame into the destination rectangle and paints the
  // rest of the window's client area black.
  void RepaintVideo(HWND window, HDC dc);
  // The current frame as a packed DIB (header and rows); empty without one.
  std::vector<uint8_t> GetCurrentImage();

  HWND NotifyWindow() const { return FNotifyWindow.load(); }
  UINT FrameMessage() const { return FFrameMessage.load(); }
  UINT EventMessage() const { return FEventMessage.load(); }

private:
  friend class TIESampleGrabberCB;
  void BuildCaptureGraph();
  void BuildDVDGraph();
  void AddFilter(const std::string& name) { FFilters.push_back(name); }
  void Route(const std::string& category, const std::string& type, const std::string& source,
             const std::string& intermediate, const std::string& sink);
  bool OpenSource();
  void StartThread();
  void StopThread();
  void ThreadLoop();
  bool Present(int64_t index, std::unique_lock<std::mutex>& lock);
  void QueueEvent(int code);
  int64_t FrameToTime(int64_t index) const;
  int64_t TimeToFrame(int64_t time) const;

  bool FOleInitialized = false;
  bool FBuilt = false;
  bool FHasRenderer = false;
  bool FHasGrabber = false;
  std::unique_ptr<TIESampleGrabberCB> FCallback;
  std::vector<std::string> FFilters, FRoutes, FInputPins;
  std::vector<TIEVideoFormat> FVideoFormats;
  std::string FRefusal;
  // Read by the decode thread when it posts.
  std::atomic<HWND> FNotifyWindow{nullptr};
  std::atomic<UINT> FFrameMessage{0}, FEventMessage{0};
  RECT FSourceRect{}, FDestRect{};
  int FTimeFormat = 5;

  std::unique_ptr<TIEVideoFrameReader> FReader;
  TIEVideoInfo FInfo;
  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FWake;
  bool FQuit = false;
  int FTarget = 0;          // the state asked for
  int FState = 0;           // the state reached
  int64_t FSeekTarget = -1;  // a seek the thread still has to make
  uint64_t FSeekTicket = 0;  // seeks asked for
  uint64_t FSeekServed = 0;  // ... and made
  int64_t FCurrent = -1;    // the frame in the grabber
  int64_t FNext = 0;        // the frame the running graph shows next
  uint32_t FRunBase = 0;    // clock time of frame 0 while running
  bool FFailed = false;
  std::vector<uint8_t> FSample;  // bottom-up BGR rows, 4-byte aligned
  std::vector<uint8_t> FSpare;   // the decode thread's next sample
  TIEBitmap FFrame;              // the decode thread's frame
  std::deque<int> FEvents;
};
