#include "icons/mac_icons.h"

#include <algorithm>
#include <string_view>
#include <cstring>

#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/palettes.h"
#include "icons/advanced_icon.h"
#include "icons/sub_icon.h"
#include "pictures/jpeg2000/jpeg2000_bitmap.h"
#include "pictures/png/png_image.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/byte_order.h"

// ---------------------------------------------------------------- palettes

#define QV_MAC_RGB(rgb) static_cast<int32_t>(((rgb) >> 16 & 0xFF) | ((rgb) & 0xFF00) | ((rgb) & 0xFF) << 16)
const int32_t MacPalette16[16] = {
    QV_MAC_RGB(0xFFFFFF), QV_MAC_RGB(0xFCF305), QV_MAC_RGB(0xFF6402), QV_MAC_RGB(0xDD0806),
    QV_MAC_RGB(0xF20884), QV_MAC_RGB(0x4600A5), QV_MAC_RGB(0x0000D4), QV_MAC_RGB(0x02ABEA),
    QV_MAC_RGB(0x1FB714), QV_MAC_RGB(0x006411), QV_MAC_RGB(0x562C05), QV_MAC_RGB(0x90713A),
    QV_MAC_RGB(0xC0C0C0), QV_MAC_RGB(0x808080), QV_MAC_RGB(0x404040), QV_MAC_RGB(0x000000)};
#undef QV_MAC_RGB

const int32_t* MacPalette256() {
  static const auto table = [] {
    std::vector<int32_t> t;
    auto rgb = [](int r, int g, int b) { return static_cast<int32_t>(r | g << 8 | b << 16); };
    // The colour cube, red slowest, without its black corner.
    for (int r = 0xFF; r >= 0; r -= 0x33)
      for (int g = 0xFF; g >= 0; g -= 0x33)
        for (int b = 0xFF; b >= 0; b -= 0x33)
          if (r | g | b) t.push_back(rgb(r, g, b));
    static const int kRamp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
    for (int v : kRamp) t.push_back(rgb(v, 0, 0));
    for (int v : kRamp) t.push_back(rgb(0, v, 0));
    for (int v : kRamp) t.push_back(rgb(0, 0, v));
    for (int v : kRamp) t.push_back(rgb(v, v, v));
    t.push_back(0);
    return t;
  }();
  return table.data();
}

// ---------------------------------------------------------------- run-length channels

size_t UnpackIcnsChannel(const uint8_t* data, size_t size, size_t at, uint8_t* pixels, size_t count, int channel,
                         size_t* filledOut) {
  size_t filled = 0;
  while (filled < count && at < size) {
    const uint8_t control = data[at++];
    if (control >= 128) {
      if (at >= size) break;
      const uint8_t value = data[at++];
      for (int k = 0; k < control - 125 && filled < count; ++k) pixels[filled++ * 4 + channel] = value;
    } else {
      // A literal run is consumed whole; values past the last pixel are dropped.
      for (int k = 0; k <= control && at < size; ++k, ++at)
        if (filled < count) pixels[filled++ * 4 + channel] = data[at];
    }
  }
  if (filledOut) *filledOut = filled;
  return at;
}

namespace {

// Byte of a blue, green, red, alpha pixel.
constexpr int kBlue = 0, kGreen = 1, kRed = 2, kAlpha = 3;


std::string LowerType(const uint8_t* p) {
  std::string t(reinterpret_cast<const char*>(p), 4);
  for (char& c : t)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return t;
}

using TBitmapPtr = std::unique_ptr<TBitmap>;
using TMaskPtr = std::shared_ptr<TBitmap>;

TBitmapPtr NewPixels(TPixelFormat format, int width, int height) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(format);
  bitmap->SetSize(width, height);
  return bitmap;
}

// Copies rows of rowBytes bytes, stored top-down without padding, into the bitmap.
void CopyRows(TBitmap& bitmap, const uint8_t* data, int rowBytes) {
  for (int y = 0; y < bitmap.Height(); ++y)
    std::memcpy(bitmap.ScanLine(y), data + static_cast<size_t>(y) * rowBytes, static_cast<size_t>(rowBytes));
}

void CopyPixels32(TBitmap& bitmap, const std::vector<uint8_t>& pixels) {
  CopyRows(bitmap, pixels.data(), bitmap.Width() * 4);
}

// ---------------------------------------------------------------- decoding one element

enum TElementKind : uint8_t { ekNone, ekModern, ekRunLength32, ekClassic, ekMask8 };

struct TDecoded {
  TElementKind kind = ekNone;
  TBitmapPtr image;
  TMaskPtr mask;
  bool cutShort = false;  // the data ended inside a run-length channel
};

// Width and height of a classic element, from the letters of its type.
void ClassicSize(const std::string& type, int& width, int& height) {
  auto has = [&](const char* s) { return type.find(s) != std::string::npos; };
  width = height = 0;
  if (has("l") || has("n")) width = height = 32;
  else if (has("h")) width = height = 48;
  else if (has("s")) width = height = 16;
  else if (has("cm")) width = 16, height = 12;
  else if (has("t")) width = height = 128;
}

bool HasJp2Signature(const uint8_t* data, size_t size) {
  static const uint8_t kJp2[8] = {0, 0, 0, 12, 'j', 'P', ' ', ' '};
  static const uint8_t kCodeStream[4] = {0xFF, 0x4F, 0xFF, 0x51};
  return (size >= 8 && std::memcmp(data, kJp2, 8) == 0) || (size >= 4 && std::memcmp(data, kCodeStream, 4) == 0);
}

// A PNG or JPEG 2000 element. The decoders' errors reach the caller.
TBitmapPtr DecodeCompressed(const uint8_t* data, size_t size, int nominal) {
  TBitmapPtr image = NewPixels(pf32bit, nominal, nominal);
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  if (HasPngSignature(data, size)) {
    TPNGImage png;
    png.LoadFromStream(stream);
    png.ExtractBitmapAndMask(image.get(), nullptr, 0);
  } else {
    TJpeg2000Bitmap jpeg2000;
    jpeg2000.SetDataSize(static_cast<uint32_t>(size));
    jpeg2000.LoadFromStream(stream);
    image->Assign(&jpeg2000);
  }
  return image;
}

// Run-length 32-bit elements. The pixels start opaque black; "it32", "ic04"
// and "ic05" begin with a 4-byte header that first fills every pixel (so an
// "it32" without a mask stays transparent). The channels follow one another
// in the data in the given order.
TBitmapPtr DecodeRunLength(const uint8_t* data, size_t size, int side, bool withHeader, const int* channels,
                           int channelCount, bool& cutShort) {
  const size_t count = static_cast<size_t>(side) * side;
  std::vector<uint8_t> pixels(count * 4);
  uint32_t fill = 0xFF000000u;
  size_t at = 0;
  if (withHeader) {
    if (size < 4) return nullptr;
    fill = ReadLE32(data);
    at = 4;
  }
  for (size_t i = 0; i < count; ++i) std::memcpy(&pixels[i * 4], &fill, 4);
  for (int c = 0; c < channelCount; ++c) {
    // A channel the data stops inside keeps what it read; the reader notes it.
    size_t filled = 0;
    at = UnpackIcnsChannel(data, size, at, pixels.data(), count, channels[c], &filled);
    if (filled < count) cutShort = true;
  }
  TBitmapPtr image = NewPixels(pf32bit, side, side);
  CopyPixels32(*image, pixels);
  return image;
}

// A 1-bit image and its mask (Mac: set bits black, set mask bits opaque) as
// Windows monochrome bitmaps: black image pixels, a white mask where
// transparent, and black image pixels under the transparent ones.
TDecoded DecodeOneBit(const uint8_t* data, int width, int height) {
  const int rowBytes = width / 8;
  const size_t planeBytes = static_cast<size_t>(rowBytes) * height;
  std::vector<uint8_t> inverted(data, data + planeBytes * 2);
  for (uint8_t& b : inverted) b = static_cast<uint8_t>(~b);
  TDecoded d;
  d.kind = ekClassic;
  d.image = NewPixels(pf1bit, width, height);
  auto mask = NewPixels(pf1bit, width, height);
  SetMonoPalette(d.image.get());
  SetMonoPalette(mask.get());
  CopyRows(*d.image, inverted.data(), rowBytes);
  CopyRows(*mask, inverted.data() + planeBytes, rowBytes);
  ApplyMaskBlack(d.image.get(), mask.get(), false);
  d.mask = std::move(mask);
  return d;
}

TBitmapPtr DecodePaletted(const uint8_t* data, int width, int height, int bits) {
  TBitmapPtr image = NewPixels(bits == 4 ? pf4bit : pf8bit, width, height);
  if (bits == 4) WritePaletteColours(image.get(), MacPalette16, 16);
  else WritePaletteColours(image.get(), MacPalette256(), 256);
  CopyRows(*image, data, width * bits / 8);
  return image;
}

TMaskPtr DecodeMask8(const uint8_t* data, int width, int height) {
  TBitmapPtr mask = NewPixels(pf8bit, width, height);
  SetGrayPalette(mask.get());
  CopyRows(*mask, data, width);
  return TMaskPtr(std::move(mask));
}

// The side of the compressed and ARGB elements; 0 for the others.
int ModernSide(const std::string& type) {
  static const std::pair<const char*, int> kSides[] = {
      {"ic04", 16}, {"ic05", 32},  {"icp4", 16},  {"icp5", 32},  {"icp6", 64}, {"ic07", 128}, {"ic08", 256},
      {"ic09", 512}, {"ic10", 1024}, {"ic11", 32}, {"ic12", 64}, {"ic13", 256}, {"ic14", 512}};
  for (const auto& [name, side] : kSides)
    if (type == name) return side;
  return 0;
}

TDecoded DecodeIcnsElement(const std::string& type, const uint8_t* data, size_t size) {
  TDecoded d;
  if (const int side = ModernSide(type)) {
    d.kind = ekModern;
    // "ic04" and "ic05" hold run-length channels after an "ARGB" header, in
    // that order: alpha first. They may also hold a PNG or JPEG 2000 stream.
    const bool argb = (type == "ic04" || type == "ic05") && !HasPngSignature(data, size) && !HasJp2Signature(data, size);
    if (argb) {
      static const int kOrder[4] = {kAlpha, kRed, kGreen, kBlue};
      d.image = DecodeRunLength(data, size, side, true, kOrder, 4, d.cutShort);
    } else {
      d.image = DecodeCompressed(data, size, side);
    }
    return d;
  }
  int width, height;
  ClassicSize(type, width, height);
  const size_t pixels = static_cast<size_t>(width) * height;
  const char depth = type[3];
  if (type == "it32" || type == "ih32" || type == "il32" || type == "is32") {
    static const int kOrder[3] = {kRed, kGreen, kBlue};
    d.kind = ekRunLength32;
    d.image = DecodeRunLength(data, size, width, type == "it32", kOrder, 3, d.cutShort);
  } else if (depth == '#') {
    if (size == pixels * 2 / 8) d = DecodeOneBit(data, width, height);
  } else if (depth == '4') {
    d.kind = ekClassic;
    if (size == pixels / 2) d.image = DecodePaletted(data, width, height, 4);
  } else if (depth == '8') {
    d.kind = ekClassic;
    if (size == pixels) d.image = DecodePaletted(data, width, height, 8);
  } else if (width > 0) {
    d.kind = ekMask8;
    if (size == pixels) d.mask = DecodeMask8(data, width, height);
  }
  return d;
}

bool IsKnownIcnsType(const std::string& type) {
  static const char* const kTypes[] = {"ic14", "ic13", "ic12", "ic11", "ic10", "ic09", "ic08", "ic07", "icp6",
                                       "icp5", "icp4", "ic04", "ic05", "it32", "t8mk", "ich#", "ich4", "ich8",
                                       "ih32", "h8mk", "icn#", "icl4", "icl8", "il32", "l8mk", "ics#", "ics4",
                                       "ics8", "is32", "s8mk", "icm#", "icm4", "icm8", "toc ", "info", "name"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

bool IsSkippedType(const std::string& type) { return type == "info" || type == "name" || type == "toc "; }

// ---------------------------------------------------------------- icns containers

struct TElement {
  std::string type;
  TDecoded decoded;
};

bool SameSize(TBitmap* a, TBitmap* b) { return a->Width() == b->Width() && a->Height() == b->Height(); }

// The first element whose mask has the format and the image's size.
int FindMask(const std::vector<TElement>& elements, TBitmap* image, TPixelFormat format) {
  for (size_t j = 0; j < elements.size(); ++j) {
    TBitmap* mask = elements[j].decoded.mask.get();
    if (mask && mask->PixelFormat() == format && SameSize(mask, image)) return static_cast<int>(j);
  }
  return -1;
}

// Gives each image its mask: 32-bit run-length images take an 8-bit mask into
// their alpha, or else a 1-bit mask; classic images their own 1-bit mask or
// another of their size; PNG, JPEG 2000 and ARGB images carry their own alpha.
void PairIcnsElements(std::vector<TElement>& elements, TMacIconImages& images) {
  for (TElement& e : elements) {
    if (!e.decoded.image) continue;
    TMacIconImage out{std::move(e.decoded.image), nullptr, e.type};
    TBitmap* image = out.image.get();
    if (e.decoded.kind == ekRunLength32) {
      const int alpha = FindMask(elements, image, pf8bit);
      if (alpha >= 0) {
        SetChannelFromPlane(image, elements[alpha].decoded.mask.get(), 'a');
        out.name += "/" + elements[alpha].type;
      } else if (const int j = FindMask(elements, image, pf1bit); j >= 0) {
        out.mask = elements[j].decoded.mask;
        out.name += "/" + elements[j].type;
      } else {
        out.name += "/?";
      }
    } else if (e.decoded.kind == ekClassic) {
      TBitmap* own = e.decoded.mask.get();
      if (own && own->PixelFormat() == pf1bit && SameSize(own, image)) {
        out.mask = e.decoded.mask;
        out.name += "/" + e.type;
      } else if (const int j = FindMask(elements, image, pf1bit); j >= 0) {
        out.mask = elements[j].decoded.mask;
        out.name += "/" + elements[j].type;
      } else {
        out.name += "/?";
      }
    }
    images.push_back(std::move(out));
  }
}

// Keeps the first reason of a read.
void Note(std::string& refusal, const char* why) {
  if (refusal.empty()) refusal = why;
}

// Reads the icns container whose "icns" tag is at start. Its length counts
// from the tag; elements run to its end or to the end of the data, whichever
// comes first. An element length below its own 8-byte head cannot be walked
// past, so it ends the container.
void ReadIcnsElements(const uint8_t* data, size_t size, size_t start, TMacIconImages& images, std::string& refusal) {
  if (start + 8 > size) return Note(refusal, "the container head is cut short");
  const uint32_t containerLength = ReadBE32(data + start + 4);
  if (containerLength < 8) Note(refusal, "a container shorter than its head");
  const size_t end = std::min<uint64_t>(static_cast<uint64_t>(start) + containerLength, size);
  std::vector<TElement> elements;
  size_t pos = start + 8;
  while (pos + 8 <= end) {
    const std::string type = LowerType(data + pos);
    const uint32_t length = ReadBE32(data + pos + 4);
    if (length < 8) {
      Note(refusal, "an element shorter than its head");
      break;
    }
    const size_t dataSize = std::min<uint64_t>(length - 8, end - pos - 8);
    if (IsKnownIcnsType(type) && !IsSkippedType(type)) {
      TElement e{type, DecodeIcnsElement(type, data + pos + 8, dataSize)};
      if (e.decoded.cutShort) Note(refusal, "a run-length channel is cut short");
      if (e.decoded.image || e.decoded.mask) elements.push_back(std::move(e));
      else if (e.decoded.kind != ekNone) Note(refusal, "an element of a size its type does not have");
    }
    if (length > end - pos) {
      Note(refusal, "an element runs past the end");
      break;
    }
    pos += length;
  }
  // The data ending before the container does is noted last: what the
  // elements met first says more.
  if (containerLength > size - start) Note(refusal, "the container runs past the end");
  PairIcnsElements(elements, images);
}

// ---------------------------------------------------------------- resource forks

// Icon resources of a fork, told apart by their length.
TDecoded DecodeForkResource(uint32_t length, const uint8_t* data, bool& seenIconList) {
  TDecoded d;
  d.kind = ekClassic;
  switch (length) {
    case 1024: d.image = DecodePaletted(data, 32, 32, 8); break;
    case 512: d.image = DecodePaletted(data, 32, 32, 4); break;
    case 256:
      if (!seenIconList) {
        seenIconList = true;
        d = DecodeOneBit(data, 32, 32);
      } else {
        d.image = DecodePaletted(data, 16, 16, 8);
      }
      break;
    case 128: d.image = DecodePaletted(data, 16, 16, 4); break;
    case 64:
      // Sixty-four bytes are also the size of a Finder text resource.
      if (std::string_view(reinterpret_cast<const char*>(data), 64).find("TEXT") == std::string_view::npos) d = DecodeOneBit(data, 16, 16);
      break;
    case 2312: d.image = DecodePaletted(data, 48, 48, 8); break;
    default: d.kind = ekNone; break;
  }
  return d;
}

bool SameFormatAndSize(TBitmap* a, TBitmap* b) { return a->PixelFormat() == b->PixelFormat() && SameSize(a, b); }

// Equal pixels; for 32-bit images the alpha must match too, so that two
// images differing only in transparency both stay.
bool SameImage(TBitmap* a, TBitmap* b) {
  if (!SameFormatAndSize(a, b) || !BitmapsEqual(a, b)) return false;
  if (a->PixelFormat() != pf32bit) return true;
  for (int y = 0; y < a->Height(); ++y)
    if (std::memcmp(a->ScanLine(y), b->ScanLine(y), static_cast<size_t>(a->Width()) * 4) != 0) return false;
  return true;
}

void ReadResourceFork(const uint8_t* data, size_t size, TMacIconImages& images, std::string& refusal) {
  static const uint8_t kAppleDouble[4] = {0x00, 0x05, 0x16, 0x07};
  size_t pos = size >= 4 && std::memcmp(data, kAppleDouble, 4) == 0 ? 338 : 256;
  std::vector<TDecoded> classic;
  TMacIconImages embedded;
  bool haveEmbedded = false, seenIconList = false;
  while (pos + 4 <= size) {
    const uint32_t length = ReadBE32(data + pos);
    if (length >> 24) {
      pos += 4;
      continue;
    }
    const size_t available = size - pos - 4;
    TDecoded d = length <= available ? DecodeForkResource(length, data + pos + 4, seenIconList) : TDecoded{};
    if (d.kind != ekNone) {
      if (d.image) classic.push_back(std::move(d));
    } else if (available >= 4 && std::memcmp(data + pos + 4, "icns", 4) == 0) {
      ReadIcnsElements(data, size, pos + 4, embedded, refusal);
      haveEmbedded = true;
      break;
    }
    if (length > available) {
      Note(refusal, "a resource runs past the end");
      break;
    }
    pos += 4 + length;
  }

  TMacIconImages pairs;
  for (TDecoded& c : classic) {
    TMacIconImage out{std::move(c.image), nullptr, ""};
    if (c.mask && c.mask->PixelFormat() == pf1bit) {
      out.mask = c.mask;
    } else {
      for (const TDecoded& other : classic)
        if (other.mask && other.mask->PixelFormat() == pf1bit && SameSize(other.mask.get(), out.image.get())) {
          ApplyMaskBlack(out.image.get(), other.mask.get(), false);
          out.mask = other.mask;
          break;
        }
    }
    // The embedded icns already holds better versions of the same sizes.
    const bool covered = haveEmbedded && std::any_of(embedded.begin(), embedded.end(), [&](const TMacIconImage& e) {
                           return SameFormatAndSize(e.image.get(), out.image.get());
                         });
    if (!covered) pairs.push_back(std::move(out));
  }
  for (TMacIconImage& e : embedded) images.push_back(std::move(e));
  for (TMacIconImage& p : pairs) images.push_back(std::move(p));

  for (size_t i = images.size(); i-- > 1;) {
    const bool duplicate = std::any_of(images.begin(), images.begin() + static_cast<std::ptrdiff_t>(i),
                                       [&](const TMacIconImage& e) { return SameImage(e.image.get(), images[i].image.get()); });
    if (duplicate) images.erase(images.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

bool IsHighResolutionName(const std::string& name) {
  static const char* const kNames[] = {"ic07", "ic10", "ic11", "ic12", "ic13", "ic14"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

}  // namespace

// ---------------------------------------------------------------- entry points

void ReadMacIconData(const uint8_t* data, size_t size, TMacIconImages& images, std::string* refusal) {
  images.clear();
  std::string why;
  if (size >= 4 && std::memcmp(data, "icns", 4) == 0) ReadIcnsElements(data, size, 0, images, why);
  else ReadResourceFork(data, size, images, why);
  if (images.empty()) Note(why, "no icon image in the data");
  if (refusal) *refusal = why;
}

void ReadMacIconFile(const std::string& fileName, TMacIconImages& images) {
  images.clear();
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  const std::vector<uint8_t> bytes = file.ReadBytes(file.Size());
  ReadMacIconData(bytes.data(), bytes.size(), images);
}

void LoadMacIcon(const std::string& fileName, TAdvancedIcon& icon) {
  icon.Clear();
  TMacIconImages images;
  ReadMacIconFile(fileName, images);
  TSubIconList& list = icon.Images();
  for (TMacIconImage& entry : images) {
    TSubIcon* image = list.AddBitmap(entry.image.get(), entry.mask.get(), 0);
    if (!image) continue;
    image->MarkAsMacImage(true);
    if (IsHighResolutionName(entry.name)) image->MarkAsMacHiResElement(true);
  }
  for (int i = 0; i < list.Count(); ++i) {
    TSubIcon* image = list.GetItem(i);
    if (image->GetWidth() > 255 || image->GetHeight() > 255) image->SetStoreAsPNG(true);
  }
  list.Sort();
}
