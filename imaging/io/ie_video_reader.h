#pragma once
// What the input/output component asks of a reader of video files. The video
// layer above installs the one implementation at start-up (the component
// never includes a decoder); until then no video file opens.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TIEBitmap;

struct TIEVideoInfo {
  int64_t FrameCount = 0;  // frames of the video stream
  uint32_t Rate = 0;       // frames per second = Rate / Scale
  uint32_t Scale = 0;
  int64_t Duration = 0;    // 100-ns units
  int64_t FrameTime = 0;   // average time per frame, 100-ns units
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitCount = 24;   // bits per pixel the frames are coded in
};

class TIEVideoFrameReader {
public:
  virtual ~TIEVideoFrameReader() = default;
  virtual const TIEVideoInfo& Info() const = 0;
  // Frame index (from 0) into bitmap as ie24RGB. The frame after the last one
  // read decodes on; any other seeks. False with the reason when the frame
  // cannot be had (past the end, over IEVideoPixelLimit, undecodable); the
  // bitmap is then left as it was.
  virtual bool ReadFrame(int64_t index, TIEBitmap& bitmap, std::string& why) = 0;
};

// Opens a video file (UTF-8 name); nil with the reason when it is not one the
// reader accepts.
using TIEVideoReaderOpener =
    std::function<std::unique_ptr<TIEVideoFrameReader>(const std::string& fileName, std::string& why)>;
TIEVideoReaderOpener& IEVideoReaderOpener();

// The largest frame a video reader decodes, in pixels.
extern int64_t IEVideoPixelLimit;
