#include "imaging/core/ie_icc.h"

#include <lcms2.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_startup.h"
#include "platform/rtl/streams.h"
#include "platform/win/resources.h"
#include "platform/rtl/byte_order.h"

bool ReaderProfileManagement = false;
bool CMYKProfileConversion = true;

namespace {

// Longest description or rights text taken from a profile, and the largest tag
// that may hold one.
constexpr size_t kMaxText = 1000;
constexpr uint32_t kMaxTags = 1000;
// Pixels converted per engine call: the 16-bit records of a long row are made
// in pieces of this size.
constexpr int kChunk = 1024;


cmsHPROFILE AsProfile(void* p) { return static_cast<cmsHPROFILE>(p); }
cmsHTRANSFORM AsTransform(void* t) { return static_cast<cmsHTRANSFORM>(t); }

// The engine's record type for a layout; 0 when the layout has none.
cmsUInt32Number EngineFormat(int code) {
  switch (code) {
    case kIccRGB:
    case kIccBGR:
    case kIccRGB48:
    case kIccRGB48BE: return TYPE_RGB_16;
    case kIccInvCMYK:
    case kIccCMYK6: return TYPE_CMYK_16;
    case kIccLab: return TYPE_Lab_16;
    case kIccGray: return TYPE_GRAY_16;
    // A three-channel space of whatever kind the profile says.
    case kIccYCbCr: return COLORSPACE_SH(PT_ANY) | CHANNELS_SH(3) | BYTES_SH(2);
    default: return 0;
  }
}

int RecordChannels(int code) {
  switch (code) {
    case kIccInvCMYK:
    case kIccCMYK6: return 4;
    case kIccGray: return 1;
    default: return 3;
  }
}

// Bytes of one pixel of a layout.
int PixelBytes(int code) {
  switch (code) {
    case kIccInvCMYK: return 4;
    case kIccCMYK6:
    case kIccRGB48:
    case kIccRGB48BE: return 6;
    case kIccGray: return 1;
    default: return 3;
  }
}

// One pixel into 16-bit samples: bytes times 257, words as they are.
void Widen(int code, const uint8_t* s, uint16_t* r) {
  switch (code) {
    case kIccRGB:
    case kIccYCbCr:
      for (int k = 0; k < 3; ++k) r[k] = uint16_t(s[k] * 257);
      break;
    case kIccBGR:
      for (int k = 0; k < 3; ++k) r[k] = uint16_t(s[2 - k] * 257);
      break;
    case kIccInvCMYK:
      for (int k = 0; k < 4; ++k) r[k] = uint16_t((255 - s[k]) * 257);
      break;
    case kIccCMYK6:
      for (int k = 0; k < 4; ++k) r[k] = uint16_t(s[k] * 257);
      break;
    case kIccLab:
      // a and b are signed bytes; the engine's records put 0 at 0x8080.
      r[0] = uint16_t(s[0] * 257);
      r[1] = uint16_t((int8_t(s[1]) + 128) * 257);
      r[2] = uint16_t((int8_t(s[2]) + 128) * 257);
      break;
    case kIccGray: r[0] = uint16_t(s[0] * 257); break;
    case kIccRGB48:
      for (int k = 0; k < 3; ++k) r[k] = ReadLE16(s + 2 * k);
      break;
    case kIccRGB48BE:
      for (int k = 0; k < 3; ++k) r[k] = ReadBE16(s + 2 * k);
      break;
    default: break;
  }
}

// The high bytes of the converted samples into the output layout.
void Narrow(int code, const uint16_t* r, uint8_t* d) {
  if (code == kIccBGR) {
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(r[2 - k] >> 8);
  } else if (code == kIccInvCMYK) {
    for (int k = 0; k < 4; ++k) d[k] = uint8_t((r[k] >> 8) ^ 0xFF);
  }
}

// The text of a tag: zero-terminated, starting skip bytes into the tag data and
// ending inside it. Anything else counts as damage and gives no text.
std::string TagText(const std::vector<uint8_t>& raw, uint32_t offset, uint32_t size, uint32_t skip) {
  if (size < skip) return {};
  const uint8_t* begin = raw.data() + offset + skip;
  const uint8_t* end = raw.data() + offset + size;
  const uint8_t* zero = std::find(begin, end, uint8_t(0));
  if (zero == end || size_t(zero - begin) >= kMaxText) return {};
  return std::string(begin, zero);
}

}  // namespace

TIEICC::TIEICC() = default;
TIEICC::~TIEICC() { Clear(); }

bool TIEICC::LoadFromBuffer(const uint8_t* buffer, int64_t length) {
  Clear();
  if (buffer && length > 0) FRaw.assign(buffer, buffer + length);
  OpenProfile();
  return IsValid();
}

void TIEICC::Assign(const TIEICC* source) {
  if (source == this) return;
  Clear();
  if (!source) return;
  if (source->FIsSRGB) {
    LoadSRGB();
    return;
  }
  FRaw = source->FRaw;
  OpenProfile();
}

void TIEICC::OpenProfile() {
  CloseProfile();
  if (!FRaw.empty() && FRaw.size() <= UINT32_MAX)
    FProfile = cmsOpenProfileFromMem(FRaw.data(), cmsUInt32Number(FRaw.size()));
  ParseTexts();
}

void TIEICC::LoadSRGB() {
  Clear();
  FProfile = cmsCreate_sRGBProfile();
  FIsSRGB = FProfile != nullptr;
}

void TIEICC::CloseProfile() {
  FreeTransform();
  if (FProfile) cmsCloseProfile(AsProfile(FProfile));
  FProfile = nullptr;
  FIsSRGB = false;
  FKeyInput = FKeyOutput = -1;
  FKeyIntent = FKeyFlags = 0;
  FKeyDestination = nullptr;
}

void TIEICC::Clear() {
  CloseProfile();
  FRaw.clear();
  FRaw.shrink_to_fit();
  FApplied = false;
  FDescription.clear();
  FCopyright.clear();
}

void TIEICC::FreeTransform() {
  if (!FTransform) return;
  cmsDeleteTransform(AsTransform(FTransform));
  FTransform = nullptr;
  FApplied = true;
}

void TIEICC::ParseTexts() {
  FDescription.clear();
  FCopyright.clear();
  const size_t length = FRaw.size();
  if (length <= 132) return;
  const uint32_t count = ReadBE32(FRaw.data() + 128);
  if (count > kMaxTags) return;
  for (uint32_t i = 0; i < count; ++i) {
    // The tag table itself must lie inside the profile.
    const size_t entry = 132 + size_t(i) * 12;
    if (entry + 12 > length) break;
    const uint8_t* e = FRaw.data() + entry;
    const uint32_t offset = ReadBE32(e + 4), size = ReadBE32(e + 8);
    if (offset > length || size > length - offset) break;
    if (size >= kMaxText) continue;
    if (std::memcmp(e, "cprt", 4) == 0)
      FCopyright = TagText(FRaw, offset, size, 8);
    else if (std::memcmp(e, "desc", 4) == 0)
      FDescription = TagText(FRaw, offset, size, 12);
  }
}

void TIEICC::SaveToStream(TStream& stream, bool withoutLength) const {
  if (!withoutLength) {
    const int32_t length = int32_t(FRaw.size());
    stream.WriteBuffer(&length, 4);
  }
  if (!FRaw.empty()) stream.WriteBuffer(FRaw.data(), int64_t(FRaw.size()));
}

bool TIEICC::Transform(TIEICC& destinationProfile, int inputFormat, int count, void* destination,
                       const void* source, uint32_t flags, uint32_t intent, int outputFormat) {
  if (outputFormat != kIccBGR && outputFormat != kIccInvCMYK) return false;
  const cmsUInt32Number inType = EngineFormat(inputFormat);
  if (!inType) return false;
  // The destination profile is part of the key: a holder asked to convert
  // towards another profile must not reuse the transform of the first.
  if (!FTransform || FKeyInput != inputFormat || FKeyOutput != outputFormat || FKeyIntent != intent ||
      FKeyFlags != flags || FKeyDestination != destinationProfile.FProfile) {
    FreeTransform();
    if (!IsValid() || !destinationProfile.IsValid()) return false;
    FTransform = cmsCreateTransform(AsProfile(FProfile), inType, AsProfile(destinationProfile.FProfile),
                                    EngineFormat(outputFormat), INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
    if (!FTransform) return false;
    FKeyInput = inputFormat;
    FKeyOutput = outputFormat;
    FKeyIntent = intent;
    FKeyFlags = flags;
    FKeyDestination = destinationProfile.FProfile;
  }
  const int inChannels = RecordChannels(inputFormat), outChannels = RecordChannels(outputFormat);
  const int inBytes = PixelBytes(inputFormat), outBytes = PixelBytes(outputFormat);
  const size_t chunk = size_t(std::clamp(count, 0, kChunk));
  std::vector<uint16_t> in(chunk * inChannels), out(chunk * outChannels);
  const auto* s = static_cast<const uint8_t*>(source);
  auto* d = static_cast<uint8_t*>(destination);
  for (int done = 0; done < count; done += kChunk) {
    const int n = std::min(kChunk, count - done);
    for (int i = 0; i < n; ++i) Widen(inputFormat, s + int64_t(done + i) * inBytes, &in[size_t(i) * inChannels]);
    cmsDoTransform(AsTransform(FTransform), in.data(), out.data(), cmsUInt32Number(n));
    for (int i = 0; i < n; ++i) Narrow(outputFormat, &out[size_t(i) * outChannels], d + int64_t(done + i) * outBytes);
  }
  return true;
}

bool TIEICC::ConvertBitmap(TIEBitmap& bitmap, TIEBitmapFormat target, TIEICC& destinationProfile) {
  const auto codeOf = [](TIEBitmapFormat f) {
    switch (f) {
      case ie8g: return int(kIccGray);
      case ie24RGB: return int(kIccBGR);
      case ieCMYK: return int(kIccInvCMYK);
      case ieRGB48: return int(kIccRGB48);
      case ieCIELab: return int(kIccLab);
      default: return -1;
    }
  };
  const int in = codeOf(bitmap.PixelFormat()), out = codeOf(target);
  // Only colour and CMYK come out of a transform.
  if (in < 0 || (out != kIccBGR && out != kIccInvCMYK)) return false;
  // A framework bitmap holds no CMYK.
  if (bitmap.Location() == ieTBitmap && target == ieCMYK) return false;
  const int w = bitmap.Width(), h = bitmap.Height();
  TIEBitmap converted;
  converted.SetLocation(bitmap.Location() == ieFile ? ieFile : ieMemory);
  if (!converted.Allocate(w, h, target)) return false;
  for (int y = 0; y < h; ++y)
    if (!Transform(destinationProfile, in, w, converted.ScanLine(y), bitmap.ScanLine(y), 0, 0, out)) return false;
  FreeTransform();
  bitmap.CopyFromTIEBitmap(converted);
  return bitmap.PixelFormat() == target;
}

// ---- the library's CMYK and sRGB holders ----

namespace {

// The holders and their cached transforms are shared by every thread that
// converts CMYK, so one lock covers making them and using them.
std::mutex gHolderLock;
std::unique_ptr<TIEICC> gCMYKHolder;
std::unique_ptr<TIEICC> gSRGBHolder;

// The program's resources do not change while it runs: one look is enough.
bool gBuiltinMissing = false;

bool LoadBuiltinCMYK(TIEICC& holder) {
  if (gBuiltinMissing) return false;
  HRSRC res = FindResource(nullptr, "IECMYKPROFILE", RT_RCDATA);
  gBuiltinMissing = res == nullptr;
  if (!res) return false;
  HGLOBAL data = LoadResource(nullptr, res);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(data));
  return bytes && holder.LoadFromBuffer(bytes, SizeofResource(nullptr, res));
}

// Called with the lock held.
bool EnsureHoldersLocked() {
  if (gCMYKHolder && gSRGBHolder) return true;
  if (!gCMYKHolder) {
    auto holder = std::make_unique<TIEICC>();
    if (!LoadBuiltinCMYK(*holder)) return false;
    gCMYKHolder = std::move(holder);
  }
  gSRGBHolder = std::make_unique<TIEICC>();
  gSRGBHolder->LoadSRGB();
  // One pixel each way, so both holders keep the transform they will use.
  const uint8_t white[4] = {255, 255, 255, 255};
  uint8_t rgb[3] = {0, 0, 0}, cmyk[4] = {0, 0, 0, 0};
  gCMYKHolder->Transform(*gSRGBHolder, kIccInvCMYK, 1, rgb, white, 0, 0, kIccBGR);
  gSRGBHolder->Transform(*gCMYKHolder, kIccBGR, 1, cmyk, white, 0, 0, kIccInvCMYK);
  return true;
}

}  // namespace

bool EnsureCMYKProfiles() {
  std::lock_guard<std::mutex> lock(gHolderLock);
  return EnsureHoldersLocked();
}

bool SetCMYKProfile(const uint8_t* bytes, int64_t length) {
  std::lock_guard<std::mutex> lock(gHolderLock);
  gSRGBHolder.reset();
  gCMYKHolder.reset();
  if (!bytes || length <= 0) return true;
  auto holder = std::make_unique<TIEICC>();
  if (!holder->LoadFromBuffer(bytes, length)) return false;
  gCMYKHolder = std::move(holder);
  return EnsureHoldersLocked();
}

void CMYKRowToRGB(const TCMYK* source, TRGB* destination, int count, const int32_t* weights) {
  if (count <= 0) return;
  const auto convert = [&](TRGB* out) {
    if (CMYKProfileConversion) {
      std::lock_guard<std::mutex> lock(gHolderLock);
      if (EnsureHoldersLocked() && gCMYKHolder->Transform(*gSRGBHolder, kIccInvCMYK, count, out, source, 0, 0, kIccBGR))
        return;
    }
    CMYKToRGBRowPlain(source, out, count);
  };
  if (!weights) {
    convert(destination);
    return;
  }
  std::vector<TRGB> converted(static_cast<size_t>(count));
  convert(converted.data());
  const auto move = [](uint8_t& d, uint8_t v, int32_t weight) {
    d = uint8_t(d + ((int64_t(v) - d) * weight >> 18));
  };
  for (int i = 0; i < count; ++i) {
    move(destination[i].b, converted[size_t(i)].b, weights[i]);
    move(destination[i].g, converted[size_t(i)].g, weights[i]);
    move(destination[i].r, converted[size_t(i)].r, weights[i]);
  }
}

void CMYKToRGBPixel(const TCMYK& inverted, TRGB& rgb) { CMYKRowToRGB(&inverted, &rgb, 1); }

void RGBToCMYKRowProfiled(const TRGB* source, TCMYK* destination, int count) {
  if (count <= 0) return;
  if (CMYKProfileConversion) {
    std::lock_guard<std::mutex> lock(gHolderLock);
    if (EnsureHoldersLocked() &&
        gSRGBHolder->Transform(*gCMYKHolder, kIccBGR, count, destination, source, 0, 0, kIccInvCMYK))
      return;
  }
  RGBToCMYKRowPlain(source, destination, count);
}

TCMYK RGBToCMYKColor(uint32_t bgr) {
  const TRGB p{uint8_t(bgr), uint8_t(bgr >> 8), uint8_t(bgr >> 16)};
  TCMYK c;
  RGBToCMYKRowProfiled(&p, &c, 1);
  return c;
}

void CMYKToRGBRowProfiled(const TCMYK* source, TRGB* destination, int count) {
  CMYKRowToRGB(source, destination, count, nullptr);
}

// ---- rows of the readers ----

namespace {

TIEICC* RowProfile(const TIERowProfiles& p) {
  if (!p.DefaultInputICC || (p.InputICC && p.InputICC->IsValid())) return p.InputICC;
  return p.DefaultInputICC;
}

}  // namespace

void ConvertRowColorSpace(const void* source, int sourceCode, void* destination, const TIERowProfiles* profiles,
                          int count, int destinationCode) {
  if (count <= 0 || !source || !destination) return;
  if (ReaderProfileManagement && profiles) {
    TIEICC* profile = RowProfile(*profiles);
    if (profile && profile->IsValid() && !profile->Applied() && profiles->OutputICC &&
        profiles->OutputICC->IsValid() &&
        profile->Transform(*profiles->OutputICC, sourceCode, count, destination, source, 0, 0, destinationCode))
      return;
  }
  const auto* s = static_cast<const uint8_t*>(source);
  auto* d = static_cast<uint8_t*>(destination);
  auto* rgb = static_cast<TRGB*>(destination);
  const auto* srcRGB = static_cast<const TRGB*>(source);
  switch (sourceCode) {
    case kIccRGB:
      if (destinationCode != kIccBGR) return;
      for (int i = 0; i < count; ++i) rgb[i] = TRGB{s[3 * i + 2], s[3 * i + 1], s[3 * i]};
      return;
    case kIccBGR:
      switch (destinationCode) {
        case kIccBGR: std::memmove(d, s, size_t(count) * 3); return;
        case kIccInvCMYK: RGBToCMYKRowProfiled(srcRGB, static_cast<TCMYK*>(destination), count); return;
        case kIccLab: {
          auto* lab = static_cast<TCIELab*>(destination);
          for (int i = 0; i < count; ++i) lab[i] = CIELabOf(srcRGB[i]);
          return;
        }
        case kIccGray:
          for (int i = 0; i < count; ++i)
            d[i] = uint8_t((srcRGB[i].r * IEGrayWeightRed + srcRGB[i].g * IEGrayWeightGreen +
                            srcRGB[i].b * IEGrayWeightBlue) / 100);
          return;
        default: return;
      }
    case kIccInvCMYK:
      if (destinationCode == kIccBGR) CMYKRowToRGB(static_cast<const TCMYK*>(source), rgb, count);
      return;
    case kIccCMYK6: {
      if (destinationCode != kIccBGR) return;
      // The inks are inverted on a copy: the caller's row stays as it was.
      std::vector<TCMYK> inks(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i) {
        const uint8_t* p = s + 6 * int64_t(i);
        inks[size_t(i)] = TCMYK{uint8_t(255 - p[0]), uint8_t(255 - p[1]), uint8_t(255 - p[2]), uint8_t(255 - p[3])};
      }
      CMYKRowToRGB(inks.data(), rgb, count);
      return;
    }
    case kIccLab:
      if (destinationCode != kIccBGR) return;
      for (int i = 0; i < count; ++i) rgb[i] = ConvertCIELabToRGB(s[3 * i], int8_t(s[3 * i + 1]), int8_t(s[3 * i + 2]));
      return;
    case kIccRGB48:
      if (destinationCode != kIccBGR) return;
      for (int i = 0; i < count; ++i) rgb[i] = TRGB{s[6 * i + 5], s[6 * i + 3], s[6 * i + 1]};
      return;
    case kIccRGB48BE:
      if (destinationCode != kIccBGR) return;
      for (int i = 0; i < count; ++i) rgb[i] = TRGB{s[6 * i + 4], s[6 * i + 2], s[6 * i]};
      return;
    case kIccYCbCr:
      if (destinationCode != kIccBGR) return;
      for (int i = 0; i < count; ++i) YCbCrToRGB(rgb[i], s[3 * i], s[3 * i + 1], s[3 * i + 2]);
      return;
    default: return;
  }
}
