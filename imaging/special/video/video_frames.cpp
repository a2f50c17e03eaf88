#include "imaging/special/video/video_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"

namespace {

constexpr const char* kDemuxers = "avi,mpeg,mpegts,asf,mov,ivf,rm,matroska";
constexpr int kIOBufferSize = 64 * 1024;

// ---- the file, read through our own I/O ----

int ReadFile(void* opaque, uint8_t* buffer, int size) {
  const size_t n = std::fread(buffer, 1, size_t(size), static_cast<std::FILE*>(opaque));
  return n == 0 ? AVERROR_EOF : int(n);
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
  auto* f = static_cast<std::FILE*>(opaque);
  if (whence == AVSEEK_SIZE) {
    const int64_t here = ftello(f);
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    const int64_t size = ftello(f);
    fseeko(f, here, SEEK_SET);
    return size;
  }
  if (fseeko(f, offset, whence & ~AVSEEK_FORCE) != 0) return -1;
  return ftello(f);
}

// Demuxers that would follow a reference (playlists, reference movies,
// external data) are refused every other file.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// One opened demuxer with its file; freed together.
struct TDemuxer {
  std::FILE* file = nullptr;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;

  ~TDemuxer() {
    if (format != nullptr) avformat_close_input(&format);
    if (io != nullptr) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    if (file != nullptr) std::fclose(file);
  }

  bool Open(const std::string& fileName, std::string& why) {
    file = std::fopen(fileName.c_str(), "rb");
    if (file == nullptr) {
      why = "cannot open the file";
      return false;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIOBufferSize));
    if (buffer == nullptr) {
      why = "out of memory";
      return false;
    }
    io = avio_alloc_context(buffer, kIOBufferSize, 0, file, ReadFile, nullptr, SeekFile);
    if (io == nullptr) {
      av_free(buffer);
      why = "out of memory";
      return false;
    }
    format = avformat_alloc_context();
    if (format == nullptr) {
      why = "out of memory";
      return false;
    }
    format->pb = io;
    format->io_open = RefuseOpen;
    format->format_whitelist = av_strdup(kDemuxers);
    format->protocol_whitelist = av_strdup("file");
    // The name only helps the probe; the data comes through io alone.
    const int rc = avformat_open_input(&format, fileName.c_str(), nullptr, nullptr);
    if (rc < 0) {
      format = nullptr;  // freed by the failed open
      why = "not a video file we read (" + ErrorText(rc) + ")";
      return false;
    }
    const int info = avformat_find_stream_info(format, nullptr);
    if (info < 0) {
      why = "no stream information (" + ErrorText(info) + ")";
      return false;
    }
    return true;
  }
};

class TFFmpegFrameReader : public TIEVideoFrameReader {
public:
  ~TFFmpegFrameReader() override { CloseDecoder(); }

  bool Open(const std::string& fileName, std::string& why);
  const TIEVideoInfo& Info() const override { return FInfo; }
  bool ReadFrame(int64_t index, TIEBitmap& bitmap, std::string& why) override;

private:
  bool OpenDecoder(std::string& why);
  void CloseDecoder();
  // The next frame in presentation order into FFrame; false at the end.
  bool DecodeNext();
  bool SeekTo(int64_t index);
  bool RestartAt(int64_t index);
  bool Convert(TIEBitmap& bitmap, std::string& why);
  int64_t KeyFrameBefore(int64_t index) const;

  std::string FFileName;
  TIEVideoInfo FInfo;
  std::unique_ptr<TDemuxer> FDemuxer;
  AVCodecContext* FDecoder = nullptr;
  AVFrame* FFrame = nullptr;
  AVPacket* FPacket = nullptr;
  SwsContext* FScaler = nullptr;
  int FStream = -1;
  bool FDrained = false;   // the demuxer ended and the decoder was told so
  int64_t FNext = 0;       // index of the frame the next DecodeNext gives
  // Presentation times of the frames in order, and the frame indexes that a
  // decoder can start at; without reliable times every seek decodes from the start.
  std::vector<int64_t> FTimes;
  std::vector<int64_t> FKeyFrames;
  bool FTimed = false;
  std::vector<uint8_t> FRows;
};

bool TFFmpegFrameReader::Open(const std::string& fileName, std::string& why) {
  FFileName = fileName;
  // One pass over the packets counts the frames and finds where decoding can start.
  {
    TDemuxer scan;
    if (!scan.Open(fileName, why)) return false;
    const AVCodec* codec = nullptr;
    FStream = av_find_best_stream(scan.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (FStream < 0 || codec == nullptr) {
      why = FStream < 0 ? "no video stream" : "no decoder for the video stream";
      return false;
    }
    AVStream* st = scan.format->streams[FStream];
    const AVCodecParameters* par = st->codecpar;
    if (par->width <= 0 || par->height <= 0) {
      why = "no frame size";
      return false;
    }
    FInfo.Width = par->width;
    FInfo.Height = par->height;
    FInfo.BitCount = par->bits_per_coded_sample;
    if (std::strcmp(scan.format->iformat->name, "avi") == 0) {
      // An AVI stream's time base is its scale / rate.
      FInfo.Rate = uint32_t(std::max(st->time_base.den, 0));
      FInfo.Scale = uint32_t(std::max(st->time_base.num, 0));
    } else {
      AVRational r = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate : st->r_frame_rate;
      FInfo.Rate = uint32_t(std::max(r.num, 0));
      FInfo.Scale = uint32_t(std::max(r.den, 0));
    }
    AVPacket* packet = av_packet_alloc();
    std::vector<std::pair<int64_t, bool>> frames;  // time, key
    bool timed = true;
    while (packet != nullptr && av_read_frame(scan.format, packet) >= 0) {
      if (packet->stream_index == FStream) {
        const int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (t == AV_NOPTS_VALUE) timed = false;
        frames.emplace_back(t, (packet->flags & AV_PKT_FLAG_KEY) != 0);
      }
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    FInfo.FrameCount = int64_t(frames.size());
    if (timed) {
      for (const auto& f : frames) FTimes.push_back(f.first);
      std::sort(FTimes.begin(), FTimes.end());
      timed = std::adjacent_find(FTimes.begin(), FTimes.end()) == FTimes.end();
    }
    FTimed = timed;
    if (FTimed) {
      for (const auto& f : frames)
        if (f.second) FKeyFrames.push_back(std::lower_bound(FTimes.begin(), FTimes.end(), f.first) - FTimes.begin());
      std::sort(FKeyFrames.begin(), FKeyFrames.end());
    } else {
      FTimes.clear();
    }
    // Duration in 100-ns units: the stream's own, else the file's.
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
      FInfo.Duration = av_rescale_q(st->duration, st->time_base, AVRational{1, 10000000});
    else if (scan.format->duration != AV_NOPTS_VALUE && scan.format->duration > 0)
      FInfo.Duration = scan.format->duration * 10;
    if (FInfo.Rate > 0 && FInfo.Scale > 0) FInfo.FrameTime = int64_t(10000000.0 * FInfo.Scale / FInfo.Rate);
    if (FInfo.Duration == 0 && FInfo.FrameTime > 0) FInfo.Duration = FInfo.FrameTime * FInfo.FrameCount;
  }
  if (FInfo.FrameCount == 0) {
    why = "no frames";
    return false;
  }
  return OpenDecoder(why);
}

bool TFFmpegFrameReader::OpenDecoder(std::string& why) {
  CloseDecoder();
  FDemuxer = std::make_unique<TDemuxer>();
  if (!FDemuxer->Open(FFileName, why)) return false;
  if (FStream >= int(FDemuxer->format->nb_streams)) {
    why = "the video stream went away";
    return false;
  }
  // Only the video stream's packets are wanted.
  for (unsigned i = 0; i < FDemuxer->format->nb_streams; ++i)
    FDemuxer->format->streams[i]->discard = int(i) == FStream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  const AVCodecParameters* par = FDemuxer->format->streams[FStream]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (codec == nullptr) {
    why = "no decoder for the video stream";
    return false;
  }
  FDecoder = avcodec_alloc_context3(codec);
  FFrame = av_frame_alloc();
  FPacket = av_packet_alloc();
  if (FDecoder == nullptr || FFrame == nullptr || FPacket == nullptr ||
      avcodec_parameters_to_context(FDecoder, par) < 0) {
    why = "out of memory";
    return false;
  }
  FDecoder->thread_count = 1;
  FDecoder->max_pixels = IEVideoPixelLimit;
  FDecoder->pkt_timebase = FDemuxer->format->streams[FStream]->time_base;
  const int rc = avcodec_open2(FDecoder, codec, nullptr);
  if (rc < 0) {
    why = "the decoder does not start (" + ErrorText(rc) + ")";
    return false;
  }
  FNext = 0;
  FDrained = false;
  return true;
}

void TFFmpegFrameReader::CloseDecoder() {
  if (FDecoder != nullptr) avcodec_free_context(&FDecoder);
  if (FFrame != nullptr) av_frame_free(&FFrame);
  if (FPacket != nullptr) av_packet_free(&FPacket);
  if (FScaler != nullptr) sws_freeContext(FScaler);
  FScaler = nullptr;
  FDemuxer.reset();
}

bool TFFmpegFrameReader::DecodeNext() {
  if (FDecoder == nullptr) return false;
  for (;;) {
    const int got = avcodec_receive_frame(FDecoder, FFrame);
    if (got >= 0) return true;
    if (got != AVERROR(EAGAIN)) return false;  // the end, or a decoder that gave up
    if (FDrained) return false;
    // Feed the next packet of the stream; at the end, tell the decoder.
    for (;;) {
      const int read = av_read_frame(FDemuxer->format, FPacket);
      if (read < 0) {
        avcodec_send_packet(FDecoder, nullptr);
        FDrained = true;
        break;
      }
      if (FPacket->stream_index != FStream) {
        av_packet_unref(FPacket);
        continue;
      }
      const int sent = avcodec_send_packet(FDecoder, FPacket);
      av_packet_unref(FPacket);
      // A damaged packet is passed over; the decoder goes on with the next.
      if (sent >= 0 || sent == AVERROR_INVALIDDATA) break;
      if (sent != AVERROR(EAGAIN)) return false;
      break;
    }
  }
}

int64_t TFFmpegFrameReader::KeyFrameBefore(int64_t index) const {
  auto it = std::upper_bound(FKeyFrames.begin(), FKeyFrames.end(), index);
  if (it == FKeyFrames.begin()) return 0;
  --it;
  // Frames shown before a key frame but decoded after it (open groups) may
  // need the group before: start one key frame earlier when frames are reordered.
  if (FDecoder != nullptr && FDecoder->has_b_frames > 0 && it != FKeyFrames.begin()) --it;
  return *it;
}

bool TFFmpegFrameReader::RestartAt(int64_t index) {
  std::string why;
  if (!OpenDecoder(why)) return false;
  while (FNext < index) {
    if (!DecodeNext()) return false;
    ++FNext;
  }
  return true;
}

// Leaves the decoder where the next DecodeNext gives frame index.
bool TFFmpegFrameReader::SeekTo(int64_t index) {
  if (FDecoder == nullptr) return RestartAt(index);
  const int64_t key = FTimed ? KeyFrameBefore(index) : 0;
  // Decoding on is cheaper than a seek when no key frame lies between.
  if (FNext <= index && key <= FNext) {
    while (FNext < index) {
      if (!DecodeNext()) return false;
      ++FNext;
    }
    return true;
  }
  if (!FTimed || key == 0) return RestartAt(index);
  if (av_seek_frame(FDemuxer->format, FStream, FTimes[size_t(key)], AVSEEK_FLAG_BACKWARD) < 0) return RestartAt(index);
  avcodec_flush_buffers(FDecoder);
  FDrained = false;
  // Decode up to the wanted time; a seek that landed after it starts over.
  const int64_t target = FTimes[size_t(index)];
  for (;;) {
    if (!DecodeNext()) return RestartAt(index);
    const int64_t t = FFrame->best_effort_timestamp != AV_NOPTS_VALUE ? FFrame->best_effort_timestamp : FFrame->pts;
    if (t == AV_NOPTS_VALUE || t > target) return RestartAt(index);
    if (t == target) {
      // The frame is in FFrame already: hand it out without decoding again.
      FNext = index;
      return true;
    }
  }
}

bool TFFmpegFrameReader::ReadFrame(int64_t index, TIEBitmap& bitmap, std::string& why) {
  if (index < 0 || index >= FInfo.FrameCount) {
    why = "frame index past the end";
    return false;
  }
  if (int64_t(FInfo.Width) * FInfo.Height > IEVideoPixelLimit) {
    why = "frame over the pixel limit";
    return false;
  }
  bool ready = false;
  if (FDecoder != nullptr && FNext == index) {
    ready = DecodeNext();
  } else if (SeekTo(index)) {
    // SeekTo leaves the wanted frame decoded when it matched its time.
    const int64_t t = FFrame->best_effort_timestamp;
    ready = FTimed && FFrame->data[0] != nullptr && t != AV_NOPTS_VALUE && t == FTimes[size_t(index)];
    if (!ready) ready = DecodeNext();
  }
  if (!ready) {
    why = "the frame does not decode";
    CloseDecoder();  // the next read starts afresh
    return false;
  }
  FNext = index + 1;
  return Convert(bitmap, why);
}

bool TFFmpegFrameReader::Convert(TIEBitmap& bitmap, std::string& why) {
  const int w = FFrame->width;
  const int h = FFrame->height;
  if (w <= 0 || h <= 0 || int64_t(w) * h > IEVideoPixelLimit) {
    why = "frame over the pixel limit";
    return false;
  }
  FScaler = sws_getCachedContext(FScaler, w, h, AVPixelFormat(FFrame->format), w, h, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                 nullptr, nullptr, nullptr);
  if (FScaler == nullptr) {
    why = "no conversion from the frame's pixel format";
    return false;
  }
  const int stride = FFALIGN(w * 3, 32);
  FRows.resize(size_t(stride) * size_t(h) + 64);
  uint8_t* dst[4] = {FRows.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride, 0, 0, 0};
  if (sws_scale(FScaler, FFrame->data, FFrame->linesize, 0, h, dst, dstStride) != h) {
    why = "the frame does not convert";
    return false;
  }
  if (!bitmap.Allocate(w, h, ie24RGB)) {
    why = "out of memory";
    return false;
  }
  for (int y = 0; y < h; ++y) std::memcpy(bitmap.ScanLine(y), FRows.data() + size_t(y) * stride, size_t(w) * 3);
  return true;
}

}  // namespace

std::unique_ptr<TIEVideoFrameReader> OpenVideoFrameReader(const std::string& fileName, std::string& why) {
  auto reader = std::make_unique<TFFmpegFrameReader>();
  if (!reader->Open(fileName, why)) return nullptr;
  return reader;
}

void RegisterVideoFrameReader() {
  // Damaged files are expected; their complaints are not the user's business.
  av_log_set_level(AV_LOG_QUIET);
  IEVideoReaderOpener() = OpenVideoFrameReader;
}
