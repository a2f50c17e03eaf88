// Frames of video files in TImageLibIO: AVI files, and the other video files
// the dispatch names (.mpe, .mpg, .mpeg, .wmv), through the frame reader the
// video layer installs.
#include <limits>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_io_log.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/ie_io_thread.h"
#include "imaging/io/ie_video_reader.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/core/ie_streams.h"

TIEVideoReaderOpener& IEVideoReaderOpener() {
  static TIEVideoReaderOpener opener;
  return opener;
}

// 8K video has some 33 million pixels; a header claiming far more is not a video
// we decode.
int64_t IEVideoPixelLimit = 40'000'000;

namespace {

struct TFinishAtEnd {
  TImageLibIO& io;
  ~TFinishAtEnd() { io.NotifyFinishWork(); }
};

int ClampCount(int64_t n) { return int(std::min<int64_t>(std::max<int64_t>(n, 0), std::numeric_limits<int>::max())); }

// Milliseconds per frame at rate / scale frames a second; 0 when either is 0.
double AviDelay(const TIEVideoInfo& info) {
  if (info.Rate == 0 || info.Scale == 0) return 0;
  return 1000.0 / (double(info.Rate) / double(info.Scale));
}

std::unique_ptr<TIEVideoFrameReader> OpenReader(const std::wstring& name) {
  std::string why;
  std::unique_ptr<TIEVideoFrameReader> reader;
  if (!IEVideoReaderOpener())
    why = "no video reader is installed";
  else
    reader = IEVideoReaderOpener()(WideToUTF8(name), why);
  if (reader == nullptr) WriteIOLog("video " + WideToUTF8(name) + ": " + why);
  return reader;
}

}  // namespace

// ---- AVI ----

int TImageLibIO::OpenAVIFile(const std::wstring& name) {
  FAborting = false;
  CloseAVIFile();
  FParams->SetImageCount(0);
  FParams->FileName = name;
  FParams->FileType = ioUnknown;
  FAviReader = OpenReader(name);
  if (FAviReader == nullptr) {
    FAborting = true;
    return 0;
  }
  const TIEVideoInfo& info = FAviReader->Info();
  const int count = ClampCount(info.FrameCount);
  FParams->SetImageCount(count);
  FParams->AviFrameDelay = AviDelay(info);
  return count;
}

void TImageLibIO::CloseAVIFile() { FAviReader.reset(); }

void TImageLibIO::ReadAVIFrame(int index) {
  if (DeferCall()) {
    TIEIOThread::CreateIndex(this, index, &TImageLibIO::ReadAVIFrame);
    return;
  }
  FAborting = false;
  TFinishAtEnd finish{*this};
  if (!PrepareBitmap() || FAviReader == nullptr) return;
  const TIEVideoInfo& info = FAviReader->Info();
  if (index < 0 || int64_t(index) >= info.FrameCount) return;
  FParams->SetImageCount(ClampCount(info.FrameCount));
  FParams->AviFrameDelay = AviDelay(info);
  ReadVideoFrameInto(index, true);
}

// ---- other video files ----

int TImageLibIO::OpenVideoFile(const std::wstring& name) {
  CloseVideoFile();
  FAborting = true;
  std::unique_ptr<TIEVideoFrameReader> reader = OpenReader(name);
  if (reader == nullptr) return 0;
  const TIEVideoInfo& info = reader->Info();
  const int64_t d = info.Duration;
  if (d <= 0) {
    WriteIOLog("video " + WideToUTF8(name) + ": no duration");
    return 0;
  }
  // A reader that cannot count frames reports the time instead (f = d): it is
  // then stepped by its average frame time.
  int64_t f = info.FrameCount > 0 ? info.FrameCount : d;
  const int64_t t = info.FrameTime;
  if (f == d) {
    if (t == 0) {
      FVideoSeekStep = 1;
    } else {
      f = d / t;
      FVideoSeekStep = t;
    }
  } else {
    FVideoSeekStep = 1;
  }
  FVideoFrameDuration = f > 0 ? double(d) / 10000000.0 / double(f) * 1000.0 : 0;
  FVideoReader = std::move(reader);
  FAborting = false;
  FParams->SetImageCount(ClampCount(f));
  FParams->FileType = ioUnknown;
  FParams->FileName = name;
  FParams->Width = FParams->StoredWidth = info.Width;
  FParams->Height = FParams->StoredHeight = info.Height;
  return ClampCount(f);
}

void TImageLibIO::CloseVideoFile() {
  FVideoReader.reset();
  FVideoSeekStep = 1;
  FVideoFrameDuration = 0;
}

void TImageLibIO::ReadVideoFrame(int index) {
  if (FVideoReader == nullptr || !PrepareBitmap()) return;
  FParams->SetImageIndex(index);
  // The reader seeks by frame, whatever step the time line was measured in.
  if (index < 0 || int64_t(index) >= FVideoReader->Info().FrameCount) return;
  ReadVideoFrameInto(index, false);
  FParams->VideoFrameDelay = FVideoFrameDuration;
}

// The frame into the working bitmap with the parameters it gives; a frame that
// cannot be had leaves the bitmap as it was and Aborting set.
void TImageLibIO::ReadVideoFrameInto(int64_t index, bool avi) {
  TIEVideoFrameReader& reader = avi ? *FAviReader : *FVideoReader;
  std::string why;
  if (!reader.ReadFrame(index, *FIEBitmap, why)) {
    FAborting = true;
    WriteIOLog("video frame " + std::to_string(index) + ": " + why);
    return;
  }
  const TIEVideoInfo& info = reader.Info();
  switch (info.BitCount) {
    case 1: FParams->BitsPerSample = 1; FParams->SamplesPerPixel = 1; break;
    case 4: FParams->BitsPerSample = 4; FParams->SamplesPerPixel = 1; break;
    case 8: FParams->BitsPerSample = 8; FParams->SamplesPerPixel = 1; break;
    case 15: FParams->BitsPerSample = 5; FParams->SamplesPerPixel = 3; break;
    case 16:
    case 24:
    case 32: FParams->BitsPerSample = 8; FParams->SamplesPerPixel = 3; break;
    default: break;
  }
  FParams->SetDpiX(gDefaultDPIX);
  FParams->SetDpiY(gDefaultDPIY);
  FParams->Width = FParams->StoredWidth = FIEBitmap->Width();
  FParams->Height = FParams->StoredHeight = FIEBitmap->Height();
  FParams->FreePalette();
  UpdateAttached();
}
