#pragma once
// Frames of video files through FFmpeg's libraries: the one frame reader of
// the library (AVI and the other video files of the input/output component,
// the thumbnail grid, the video graph). FFmpeg is included here alone.
//
// Only the demuxers of the video formats we read take part (AVI, MPEG program
// and transport streams, ASF/WMV, QuickTime/MP4, IVF, RealMedia, Matroska), and the file
// is read through our own I/O: a playlist, a concat script or a reference
// movie cannot make the reader open any other file or address.
#include <memory>
#include <string>

#include "imaging/io/ie_video_reader.h"

// Nil with the reason when the file is not a video we read.
std::unique_ptr<TIEVideoFrameReader> OpenVideoFrameReader(const std::string& fileName, std::string& why);

// Installs OpenVideoFrameReader as the input/output component's video reader.
void RegisterVideoFrameReader();
