// TImageLibIO.SaveFileAsText: the picture as a source-code byte array, as
// hexadecimal lines of a C initialiser, as Base64, or as a picture of characters.
#include <cctype>
#include <cmath>
#include <memory>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_startup.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_utils.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_target_file.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& s, uint8_t b) {
  s += kHex[b >> 4];
  s += kHex[b & 15];
}

// An identifier every compiler takes: the file's base name with each
// character that is not a letter, digit or "_" made "_", and "_" in front of
// a leading digit.
std::string TextIdentifier(const std::wstring& fileName) {
  std::string id = ExtractFileName(WideToUTF8(fileName));
  for (char& c : id)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
  if (id.empty() || std::isdigit(static_cast<unsigned char>(id[0]))) id.insert(id.begin(), '_');
  return id;
}

// Form 0: a constant byte array of the bytes.
std::string ByteArrayText(const std::string& id, const uint8_t* data, size_t size) {
  const std::string sizeName = id + "_Size";
  std::string out = "const\n  " + sizeName + " = " + std::to_string(size) + ";\n  " + id + " : array [0.." +
                    sizeName + "-1] of byte = (\n";
  std::string line;
  for (size_t i = 0; i + 1 < size; ++i) {
    line += '$';
    AppendHex(line, data[i]);
    line += ',';
    if (line.size() > 70) {
      out += "    " + line + "\n";
      line.clear();
    }
  }
  out += "    " + line + "$";
  AppendHex(out, data[size - 1]);
  out += ");\n";
  return out;
}

// Form 1: hexadecimal lines that go between the braces of a C initialiser.
std::string HexLinesText(const uint8_t* data, size_t size) {
  std::string out = "// Size=" + std::to_string(size) + "\n";
  std::string line;
  for (size_t i = 0; i + 1 < size; ++i) {
    line += "0x";
    AppendHex(line, data[i]);
    line += ',';
    if (line.size() > 70) {
      out += line + "\n";
      line.clear();
    }
  }
  out += line + "0x";
  AppendHex(out, data[size - 1]);
  out += "\n";
  return out;
}

// Form 3: one character per pixel, W the darkest, space the lightest.
std::string CharacterPicture(TIEBitmap& bitmap) {
  static const char kShades[] = "W@#*+:.,  ";
  std::string out;
  out.reserve(size_t(bitmap.Width() + 1) * size_t(bitmap.Height()));
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* p = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x, p += 3) {
      const int grey = (p[2] * IEGrayWeightRed + p[1] * IEGrayWeightGreen + p[0] * IEGrayWeightBlue) / 100;
      const int index = std::clamp(int(std::trunc(grey / 255.0 * 9)), 0, 9);
      out += kShades[index];
    }
    out += '\n';
  }
  return out;
}

}  // namespace

void TImageLibIO::SaveFileAsText(const std::wstring& name, TImageFileType format, int form) {
  std::string text;
  if (form == 3) {
    FAborting = true;
    if (!PrepareBitmap() || FIEBitmap->IsEmpty()) return;
    TIEBitmap* source = FIEBitmap;
    std::unique_ptr<TIEBitmap> copy;
    if (FIEBitmap->PixelFormat() != ie24RGB) {
      // The caller's picture stays as it is: a copy is made 24-bit.
      copy = std::make_unique<TIEBitmap>();
      if (!copy->Allocate(FIEBitmap->Width(), FIEBitmap->Height(), ie24RGB)) return;
      ConvertBitmapPixels(*FIEBitmap, *copy);
      source = copy.get();
    }
    text = CharacterPicture(*source);
  } else {
    TMemoryStream picture;
    SaveStream(picture, format);
    const size_t size = size_t(picture.Size());
    // Nothing saved means nothing to write: no text of a byte never read.
    if (FAborting || size == 0) {
      FAborting = true;
      return;
    }
    const auto* data = static_cast<const uint8_t*>(picture.Memory());
    const std::string id = TextIdentifier(name);
    switch (form) {
      case 0: text = ByteArrayText(id, data, size); break;
      case 1: text = HexLinesText(data, size); break;
      case 2:
        picture.SetPosition(0);
        WriteStreamAsBase64(picture, text, 76);
        break;
      default:
        FAborting = true;
        return;
    }
  }
  // Written beside and renamed: a failure leaves no half text file.
  TIETargetFile target(name);
  target.Stream().WriteBuffer(text.data(), int64_t(text.size()));
  if (!target.Commit()) {
    FAborting = true;
    return;
  }
  FAborting = false;
  FParams->FileName = name;
}
