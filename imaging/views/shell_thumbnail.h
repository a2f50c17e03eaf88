#pragma once
// Thumbnails of video files for the thumbnail grid. The grid cannot decode a
// video as a picture; it takes the thumbnail the desktop keeps for it (the
// freedesktop thumbnail cache, which file managers fill) and, when there is
// none that is valid, frame 0 of the video reader. The cache is only read.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class TIEBitmap;

// "*.AVI;*.MPG;..." the extensions the grid treats as video files.
extern const char* const VideoFileMask;
bool IsVideoFileName(const std::string& fileName);

// The file's picture at most width x height: the cached thumbnail when valid,
// else frame 0 of the video. False when neither gives a picture wider than
// 10 pixels.
bool LoadShellThumbnail(TIEBitmap& bitmap, const std::string& fileName, int width, int height);

// ---- the cache, as the desktop writes it ----
// The URI of a local file as GLib writes it: "file://" and the absolute path,
// every byte outside its safe set escaped as %XX (upper case).
std::string FileNameToURI(const std::string& fileName);
// Lower-case hexadecimal MD5 of the bytes.
std::string MD5Hex(const std::string& bytes);
// $XDG_CACHE_HOME/thumbnails (or ~/.cache/thumbnails).
std::string ThumbnailCacheFolder();
// The text chunks (tEXt) of a PNG in memory, key to value; false when the
// bytes are not a PNG or a chunk runs past them.
bool ReadPngTextChunks(const uint8_t* data, size_t size, std::map<std::string, std::string>& keys);
// A cache entry describes the file: its Thumb::URI is uri, its Thumb::MTime
// the modification time (whole seconds) and, when given, its Thumb::Size the
// file size.
bool ThumbnailDescribes(const std::map<std::string, std::string>& keys, const std::string& uri, int64_t mtime,
                        int64_t fileSize);
// The cache entry the grid would take for a cell of width x height (empty when
// none is valid), checked smallest covering size first: normal (128), large
// (256), x-large (512), xx-large (1024), then the smaller ones.
std::string FindCachedThumbnail(const std::string& fileName, int width, int height);
// A cache PNG in memory through the whole lookup: keys checked against uri
// and mtime, then decoded into bitmap. False for anything unusable.
bool LoadCachedThumbnailData(const uint8_t* data, size_t size, const std::string& uri, int64_t mtime,
                             int64_t fileSize, TIEBitmap& bitmap);
