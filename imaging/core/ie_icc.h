#pragma once
// ICC colour profiles and the colour-space conversions that may go through
// them. The colour engine is Little CMS: a profile is opened from its bytes (or
// is the engine's own sRGB), and a profile converts pixels towards another one
// through a two-profile transform on 16-bit colour records, cached per profile.
//
// Readers hand rows in any of the layouts of TIEICCPixelCode to
// ConvertRowColorSpace; CMYK rows of the ieCMYK format go through the library's
// CMYK printer profile when one is available and CMYKProfileConversion is on,
// else through the plain formulas of the pixel converter.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_types.h"
#include "platform/rtl/object.h"

class TStream;

// Pixel layouts of the conversion routines.
enum TIEICCPixelCode : int {
  kIccRGB = 0,       // 3 bytes red, green, blue
  kIccBGR = 1,       // 3 bytes blue, green, red (the library's order)
  kIccInvCMYK = 2,   // 4 bytes of inverted inks (255 - amount), as ieCMYK stores them
  kIccCMYK6 = 3,     // ink amounts in the first 4 of 6 bytes
  kIccLab = 4,       // 3 bytes L (x 2.55), a, b (signed), as ieCIELab stores them
  kIccGray = 5,      // 1 byte grey
  kIccRGB48 = 6,     // three little-endian words
  kIccRGB48BE = 7,   // three big-endian words
  kIccYCbCr = 8,     // 3 bytes Y, Cb, Cr
};

class TIEICC : public TObject {
public:
  TIEICC();
  ~TIEICC() override;
  TIEICC(const TIEICC&) = delete;
  TIEICC& operator=(const TIEICC&) = delete;

  // Keeps a copy of the bytes and opens them; false when they are no profile
  // the engine accepts (the bytes are kept all the same, as a reader found them).
  bool LoadFromBuffer(const uint8_t* buffer, int64_t length);
  void Assign(const TIEICC* source);
  // The engine's sRGB profile: no raw bytes and no texts.
  void LoadSRGB();
  void OpenProfile();
  void CloseProfile();
  void Clear();

  bool IsValid() const { return FProfile != nullptr; }
  bool HasTransform() const { return FTransform != nullptr; }
  void FreeTransform();
  // Set when a transform of this profile was released after use: the picture's
  // pixels have been converted with it.
  bool Applied() const { return FApplied; }
  void SetApplied(bool applied) { FApplied = applied; }

  const std::vector<uint8_t>& Raw() const { return FRaw; }
  int64_t RawLength() const { return int64_t(FRaw.size()); }
  const std::string& Description() const { return FDescription; }
  const std::string& Copyright() const { return FCopyright; }
  // The description and rights texts from the "desc" and "cprt" tags; a tag
  // table or text that does not lie inside the profile gives empty texts.
  void ParseTexts();

  // The raw length as 4 bytes (unless withoutLength) and the raw bytes.
  void SaveToStream(TStream& stream, bool withoutLength = false) const;

  // Converts count pixels of inputFormat at source into outputFormat at
  // destination, from this profile to destinationProfile. intent and flags only
  // key the cached transform. Output is made for kIccBGR and kIccInvCMYK; false
  // (destination untouched) when no transform can be had.
  bool Transform(TIEICC& destinationProfile, int inputFormat, int count, void* destination, const void* source,
                 uint32_t flags, uint32_t intent, int outputFormat);
  // Converts the bitmap's pixels into target (ie24RGB or ieCMYK) through
  // destinationProfile; the alpha channel stays. False, the bitmap unchanged,
  // for other formats or when no transform can be had.
  bool ConvertBitmap(TIEBitmap& bitmap, TIEBitmapFormat target, TIEICC& destinationProfile);

private:
  std::vector<uint8_t> FRaw;
  void* FProfile = nullptr;    // cmsHPROFILE
  void* FTransform = nullptr;  // cmsHTRANSFORM
  bool FIsSRGB = false;
  bool FApplied = false;
  // What the cached transform was built for.
  int FKeyInput = -1;
  int FKeyOutput = -1;
  uint32_t FKeyIntent = 0;
  uint32_t FKeyFlags = 0;
  const void* FKeyDestination = nullptr;
  std::string FDescription;
  std::string FCopyright;
};

// Little CMS is linked in, so the colour engine is always there.
inline bool BindMSCMS() { return true; }

// Profile colour management for readers (off), CMYK conversion through the
// library's CMYK profile (on).
extern bool ReaderProfileManagement;
extern bool CMYKProfileConversion;

// Makes the library's CMYK and sRGB profile holders and warms their cached
// transforms; false when no CMYK profile can be had. The CMYK profile is the
// one installed by SetCMYKProfile, else the program's RT_RCDATA resource
// "IECMYKPROFILE" when the build linked one in.
bool EnsureCMYKProfiles();
// Replaces the library's CMYK profile (null or empty bytes: none, so CMYK
// conversion uses the formulas); false when the bytes are no valid profile.
bool SetCMYKProfile(const uint8_t* bytes, int64_t length);

// Inverted CMYK to colour, through the CMYK profile when possible, else red =
// C x K / 255, green = M x K / 255, blue = Y x K / 255 on the stored bytes.
void CMYKToRGBPixel(const TCMYK& inverted, TRGB& rgb);
// The same for a row. With weights (one per pixel, 18 fraction bits) each
// destination channel moves towards the converted colour by that fraction.
void CMYKRowToRGB(const TCMYK* source, TRGB* destination, int count, const int32_t* weights = nullptr);
// Colour (blue, green, red bytes of a 32-bit value) to inverted CMYK, through
// the sRGB holder's transform when possible, else the plain formula.
TCMYK RGBToCMYKColor(uint32_t bgr);
// Row forms with the signatures of the pixel converter's CMYK hooks.
void CMYKToRGBRowProfiled(const TCMYK* source, TRGB* destination, int count);
void RGBToCMYKRowProfiled(const TRGB* source, TCMYK* destination, int count);

// The profiles of one picture that a row conversion may use: the parameter
// set's InputICC, DefaultInputICC and OutputICC.
struct TIERowProfiles {
  TIEICC* InputICC = nullptr;
  TIEICC* DefaultInputICC = nullptr;
  TIEICC* OutputICC = nullptr;
};

// A reader's row of count pixels in sourceCode into destinationCode. With
// ReaderProfileManagement on and a valid, not yet applied picture profile the
// row goes through it towards OutputICC; otherwise by formula. Pairs without a
// rule write nothing. The source row is never changed.
void ConvertRowColorSpace(const void* source, int sourceCode, void* destination, const TIERowProfiles* profiles,
                          int count, int destinationCode);
