#include "gif_test_util.h"

#include <gif_lib.h>

#include <cstring>
#include <filesystem>

#include "test_support.h"

namespace giftest {

namespace {

struct Reader {
  const std::vector<uint8_t>* bytes;
  size_t at = 0;
};

int ReadFn(GifFileType* gif, GifByteType* buffer, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const size_t k = std::min<size_t>(static_cast<size_t>(n), r->bytes->size() - r->at);
  std::memcpy(buffer, r->bytes->data() + r->at, k);
  r->at += k;
  return static_cast<int>(k);
}

int WriteFn(GifFileType* gif, const GifByteType* buffer, int n) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  out->insert(out->end(), buffer, buffer + n);
  return n;
}

std::vector<uint8_t> Colors(const ColorMapObject* map) {
  std::vector<uint8_t> c;
  if (!map) return c;
  for (int i = 0; i < map->ColorCount; ++i) {
    c.push_back(map->Colors[i].Red);
    c.push_back(map->Colors[i].Green);
    c.push_back(map->Colors[i].Blue);
  }
  return c;
}

// Whether the continuation block i goes on a comment.
bool InComment(const ExtensionBlock* blocks, int i) {
  while (i > 0 && blocks[i - 1].Function == CONTINUE_EXT_FUNC_CODE) --i;
  return i > 0 && blocks[i - 1].Function == COMMENT_EXT_FUNC_CODE;
}

void ReadExtensions(const ExtensionBlock* blocks, int count, LibFrame* frame, LibFile& file) {
  for (int i = 0; i < count; ++i) {
    const ExtensionBlock& e = blocks[i];
    if (e.Function == GRAPHICS_EXT_FUNC_CODE && frame) {
      GraphicsControlBlock gcb;
      DGifExtensionToGCB(e.ByteCount, e.Bytes, &gcb);
      frame->delay = gcb.DelayTime;
      frame->disposal = gcb.DisposalMode;
      frame->transparent = gcb.TransparentColor;
    } else if (e.Function == COMMENT_EXT_FUNC_CODE) {
      file.comments.emplace_back(reinterpret_cast<const char*>(e.Bytes), e.ByteCount);
    } else if (e.Function == CONTINUE_EXT_FUNC_CODE && InComment(blocks, i) && !file.comments.empty()) {
      // giflib keeps the further sub-blocks of a comment as blocks of their own.
      file.comments.back().append(reinterpret_cast<const char*>(e.Bytes), e.ByteCount);
    } else if (e.Function == APPLICATION_EXT_FUNC_CODE && e.ByteCount == 11 &&
               (std::memcmp(e.Bytes, "NETSCAPE2.0", 11) == 0 || std::memcmp(e.Bytes, "ANIMEXTS1.0", 11) == 0) &&
               i + 1 < count && blocks[i + 1].ByteCount >= 3 && blocks[i + 1].Bytes[0] == 1) {
      file.loop = blocks[i + 1].Bytes[1] | (blocks[i + 1].Bytes[2] << 8);
    }
  }
}

}  // namespace

LibFile SlurpWithGiflib(const std::vector<uint8_t>& bytes) {
  LibFile file;
  Reader r{&bytes};
  int error = 0;
  GifFileType* gif = DGifOpen(&r, ReadFn, &error);
  if (!gif) {
    file.error = error;
    return file;
  }
  file.ok = DGifSlurp(gif) == GIF_OK;
  file.error = gif->Error;
  file.width = gif->SWidth;
  file.height = gif->SHeight;
  file.background = gif->SBackGroundColor;
  file.colors = Colors(gif->SColorMap);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& s = gif->SavedImages[i];
    LibFrame f;
    f.left = s.ImageDesc.Left;
    f.top = s.ImageDesc.Top;
    f.width = s.ImageDesc.Width;
    f.height = s.ImageDesc.Height;
    f.interlace = s.ImageDesc.Interlace;
    if (s.RasterBits) f.pixels.assign(s.RasterBits, s.RasterBits + static_cast<size_t>(f.width) * f.height);
    f.colors = Colors(s.ImageDesc.ColorMap);
    ReadExtensions(s.ExtensionBlocks, s.ExtensionBlockCount, &f, file);
    file.frames.push_back(std::move(f));
  }
  ReadExtensions(gif->ExtensionBlocks, gif->ExtensionBlockCount, nullptr, file);
  DGifCloseFile(gif, &error);
  return file;
}

std::vector<uint8_t> SpewWithGiflib(int width, int height, int bits, const std::vector<SpewFrame>& frames) {
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteFn, &error);
  if (!gif) return out;
  gif->SWidth = width;
  gif->SHeight = height;
  gif->SColorResolution = bits;
  gif->SBackGroundColor = 0;
  std::vector<GifColorType> colors(static_cast<size_t>(1) << bits);
  for (size_t i = 0; i < colors.size(); ++i)
    colors[i] = GifColorType{static_cast<GifByteType>(i * 37), static_cast<GifByteType>(i * 11), static_cast<GifByteType>(i)};
  gif->SColorMap = GifMakeMapObject(static_cast<int>(colors.size()), colors.data());
  for (const SpewFrame& f : frames) {
    SavedImage* s = GifMakeSavedImage(gif, nullptr);
    s->ImageDesc.Left = s->ImageDesc.Top = 0;
    s->ImageDesc.Width = f.width;
    s->ImageDesc.Height = f.height;
    s->ImageDesc.Interlace = false;
    s->ImageDesc.ColorMap = nullptr;
    s->RasterBits = static_cast<GifByteType*>(malloc(f.pixels.size()));
    std::memcpy(s->RasterBits, f.pixels.data(), f.pixels.size());
    if (f.delay > 0) {
      GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, f.delay, NO_TRANSPARENT_COLOR};
      EGifGCBToSavedExtension(&gcb, gif, gif->ImageCount - 1);
    }
  }
  EGifSpew(gif);  // closes the file
  return out;
}

std::vector<uint8_t> SaveToBytes(TGIFImage& image) {
  TMemoryStream s;
  image.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

void LoadFromBytes(TGIFImage& image, const std::vector<uint8_t>& bytes) {
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  image.LoadFromStream(s);
}

bool HavePillow() {
  static const bool have = std::filesystem::exists("/usr/bin/python3") &&
                           qvtest::RunCommand("/usr/bin/python3 -c 'import PIL.Image' 2>/dev/null") == 0;
  return have;
}

int RunPython(const std::string& script, std::string* out) {
  qvtest::TempDir dir;
  const std::string path = dir.File("script.py");
  qvtest::WriteFileBytes(path, std::vector<uint8_t>(script.begin(), script.end()));
  return qvtest::RunCommand("/usr/bin/python3 " + path, out);
}

TGIFSubImage* AddIndexedFrame(TGIFImage& image, int left, int top, int width, int height,
                              const std::vector<uint8_t>& pixels, const std::vector<uint32_t>& colors) {
  auto frame = std::make_unique<TGIFSubImage>(&image);
  for (uint32_t c : colors) frame->LocalMap().AppendColor(c);
  frame->PlaceFrame(left, top, width, height);
  std::memcpy(frame->Pixels(), pixels.data(), pixels.size());
  TGIFSubImage* raw = frame.get();
  image.AddFrame(std::move(frame));
  return raw;
}

GifBytes& GifBytes::Header(int width, int height, int bits) {
  Raw({'G', 'I', 'F', '8', '9', 'a'});
  Word(width).Word(height);
  Raw({bits ? 0x80 | (bits - 1) : 0, 0, 0});
  for (int i = 0; bits && i < (1 << bits); ++i) Raw({i * 255 / ((1 << bits) - 1), i * 255 / ((1 << bits) - 1), i * 255 / ((1 << bits) - 1)});
  return *this;
}

GifBytes& GifBytes::Image(int left, int top, int width, int height, int flags) {
  Raw({0x2C});
  Word(left).Word(top).Word(width).Word(height);
  return Raw({flags});
}

GifBytes& GifBytes::Codes(int minimum, const std::vector<std::pair<int, int>>& codes, int blockSize) {
  Raw({minimum});
  std::vector<uint8_t> data;
  uint32_t acc = 0;
  int n = 0;
  for (auto [code, width] : codes) {
    acc |= static_cast<uint32_t>(code) << n;
    n += width;
    while (n >= 8) {
      data.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
  }
  if (n > 0) data.push_back(static_cast<uint8_t>(acc));
  for (size_t at = 0; at < data.size(); at += blockSize) {
    const size_t k = std::min<size_t>(blockSize, data.size() - at);
    b.push_back(static_cast<uint8_t>(k));
    b.insert(b.end(), data.begin() + at, data.begin() + at + k);
  }
  b.push_back(0);
  return *this;
}

}  // namespace giftest
