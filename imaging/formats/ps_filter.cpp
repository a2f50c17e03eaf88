#include "imaging/formats/ps_filter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_utils.h"
#include "imaging/formats/fax_rows.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/io/pdf_objects.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

namespace {

// Most pages fit here, so the data block rarely grows while it is written.
constexpr int64_t kDataReserve = 8 * 1024 * 1024;

void Line(TStream& stream, const std::string& text) { WriteLineCRLF(stream, text); }

// Appends ASCII85 of bytes to data; returns the data characters written.
int64_t PutASCII85(TMemoryStream& data, const uint8_t* bytes, int64_t length) {
  std::vector<char> text(static_cast<size_t>(ASCII85EncodedBound(length)));
  int64_t counter = 0;
  const int64_t n = ASCII85Encode(bytes, length, text.data(), counter);
  data.WriteBuffer(text.data(), n);
  return counter;
}

int64_t PutPackBitsASCII85(TMemoryStream& data, const uint8_t* bytes, int64_t length) {
  std::vector<uint8_t> packed(static_cast<size_t>(PackBitsEncodedBound(length)));
  const int64_t n = PackBitsEncode(bytes, length, packed.data());
  return PutASCII85(data, packed.data(), n);
}

int64_t EncodeBilevel(TMemoryStream& data, TIEBitmap& bitmap, uint8_t compression, TProgressRecord& progress) {
  const int width = bitmap.Width(), height = bitmap.Height();
  if (compression == 1 || compression == 2) {
    std::vector<uint8_t> fax = EncodeFaxBitmap(bitmap, compression == 1 ? -1 : height, progress);
    fax.resize((fax.size() + 3) / 4 * 4, 0);
    return PutASCII85(data, fax.data(), int64_t(fax.size()));
  }
  // Run-length: the rows as one block. A depth without a coding of its own
  // (JPEG asked for a bilevel page) is written run-length as well.
  const int64_t rowBytes = (int64_t(width) + 7) / 8;
  std::vector<uint8_t> rows(size_t(rowBytes * height));
  progress.Step = 100.0 / height;
  TFilterRowProgress rp{progress};
  for (int r = 0; r < height; ++r) {
    std::memcpy(rows.data() + r * rowBytes, bitmap.ScanLine(r), size_t(rowBytes));
    rp.Row(r + 1);
  }
  return PutPackBitsASCII85(data, rows.data(), int64_t(rows.size()));
}

// A JPEG as colorimage reads it: grey stays one component, anything else is
// written in a three-component space, since the page's procedure takes three.
uint8_t PageJpegColorSpace(const TIOParamsVals& params) {
  return params.JpegColorSpace > 2 ? 2 : params.JpegColorSpace;
}

int64_t EncodeColor(TMemoryStream& data, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  const int width = bitmap.Width(), height = bitmap.Height();
  if (params.PsCompression == 3) {
    TMemoryStream jpeg;
    const uint8_t asked = params.JpegColorSpace;
    params.JpegColorSpace = PageJpegColorSpace(params);
    try {
      WriteJpegStream(jpeg, bitmap, params, progress);
    } catch (...) {
      params.JpegColorSpace = asked;
      throw;
    }
    params.JpegColorSpace = asked;
    return PutASCII85(data, jpeg.Memory(), jpeg.Size());
  }
  // Each row's red, green and blue planes apart, as the page's three
  // procedures read them.
  std::vector<uint8_t> plane(static_cast<size_t>(width));
  int64_t count = 0;
  progress.Step = 100.0 / height;
  TFilterRowProgress rp{progress};
  for (int r = 0; r < height && !progress.Aborted(); ++r) {
    const uint8_t* row = bitmap.ScanLine(r);
    for (const int offset : {2, 1, 0}) {
      for (int x = 0; x < width; ++x) plane[size_t(x)] = row[3 * x + offset];
      count += PutPackBitsASCII85(data, plane.data(), width);
    }
    rp.Row(r + 1);
  }
  return count;
}

// The bitmap the page shows: bilevel and 24-bit pictures as they are, any
// other format through a 24-bit copy.
TIEBitmap* PageBitmap(TIEBitmap& bitmap, std::unique_ptr<TIEBitmap>& copy) {
  const TIEBitmapFormat f = bitmap.PixelFormat();
  if (f == ie1g || f == ie24RGB) return &bitmap;
  copy = TIEBitmap::CreateCopy(bitmap);
  copy->SetPixelFormat(ie24RGB);
  return copy->PixelFormat() == ie24RGB ? copy.get() : nullptr;
}

void WritePageData(TStream& stream, const std::string& operatorLine, TMemoryStream& data) {
  // DSC counts every byte between the %%BeginData line and %%EndData, so that
  // a reader can skip data lines that happen to start with "%%".
  const int64_t count = int64_t(operatorLine.size()) + 2 + data.Size();
  Line(stream, "%%BeginData:      " + std::to_string(count) + " ASCII Bytes");
  Line(stream, operatorLine);
  stream.WriteBuffer(data.Memory(), data.Size());
  Line(stream, "%%EndData");
  Line(stream, "showpage");
}

}  // namespace

std::string FormatPSPageCount(int number, int width) {
  std::string text = std::to_string(number);
  if (int(text.size()) < width) text.append(size_t(width) - text.size(), ' ');
  return text;
}

std::string PSEscapeText(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c > 0x7E) {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string PSDateText(int year, int month, int day, int dayOfWeek, int hour, int minute, int second) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %s %02d %02d:%02d:%02d %04d", kDays[std::clamp(dayOfWeek, 1, 7) - 1],
                kMonths[std::clamp(month, 1, 12) - 1], day, hour, minute, second, year);
  return buf;
}

std::unique_ptr<TPSDocument> BeginPSDocument(TStream& stream, TIOParamsVals& params) {
  auto document = std::make_unique<TPSDocument>();
  const TDateTime now = Now();
  uint16_t y, mo, d, h, mi, s, ms;
  DecodeDate(now, y, mo, d);
  DecodeTime(now, h, mi, s, ms);
  Line(stream, "%!PS-Adobe-3.0");
  Line(stream, "%%Creator: ImageLib");
  Line(stream, "%%Title: " + PSEscapeText(params.PsTitle));
  Line(stream, "%%CreationDate: " + PSDateText(y, mo, d, DayOfWeek(now), h, mi, s));
  Line(stream, "%%DocumentData: Clean7Bit");
  Line(stream, "%%LanguageLevel: 2");
  document->PagesLine = stream.Position();
  Line(stream, "%%Pages: " + FormatPSPageCount(0, 6));
  Line(stream, "%%BoundingBox: 0 0 " + std::to_string(params.PsPaperWidth - 1) + " " +
                   std::to_string(params.PsPaperHeight - 1));
  Line(stream, "%%EndComments");
  document->NextPage = stream.Position();
  return document;
}

void AddPSPage(TPSDocument& document, TStream& stream, TIEBitmap& bitmap, TProgressRecord& progress,
               TIOParamsVals& params) {
  char head[15] = {};
  stream.SetPosition(document.PagesLine);
  stream.Read(head, sizeof head);
  const int pages = StringToIntDefault(Trim(std::string(head + 9, 5)), 1);
  stream.SetPosition(document.PagesLine);
  Line(stream, "%%Pages: " + FormatPSPageCount(pages + 1, 6));
  stream.SetPosition(document.NextPage);
  WritePSPage(stream, bitmap, params, params.PsPaperHeight, params.PsPaperWidth, pages + 1, progress);
  document.NextPage = stream.Position();
}

void EndPSDocument(std::unique_ptr<TPSDocument> document, TStream& stream) {
  if (!document) return;
  stream.SetPosition(document->NextPage);
  Line(stream, "%%Trailer");
  Line(stream, "%%EOF");
}

void WritePSPage(TStream& stream, TIEBitmap& source, TIOParamsVals& params, int pageHeight, int pageWidth,
                 int pageNumber, TProgressRecord& progress) {
  std::unique_ptr<TIEBitmap> copy;
  TIEBitmap* bitmap = PageBitmap(source, copy);
  if (!bitmap || bitmap->IsEmpty()) return progress.Abort();
  const int width = bitmap->Width(), height = bitmap->Height();
  // The samples follow the bitmap before any line names them.
  const bool bilevel = bitmap->PixelFormat() == ie1g;
  params.BitsPerSample = bilevel ? 1 : 8;
  params.SamplesPerPixel = bilevel ? 1 : 3;

  Line(stream, "%%Page: " + std::to_string(pageNumber) + " " + std::to_string(pageNumber));
  Line(stream, "0 " + std::to_string(pageHeight) + " translate");
  int scaledWidth = 1, scaledHeight = 1;
  ScaleToFit(width, height, pageWidth, pageHeight, scaledWidth, scaledHeight);
  Line(stream, std::to_string(scaledWidth) + " -" + std::to_string(scaledHeight) + " scale");
  const std::string w = std::to_string(width), h = std::to_string(height);
  Line(stream, w + " " + h + " " + std::to_string(params.BitsPerSample));
  Line(stream, "[ " + w + " 0 0 " + h + " 0 0 ]");

  TMemoryStream data;
  data.SetSize(kDataReserve);
  data.SetSize(0);
  EncodePSImageData(data, *bitmap, params, progress);

  if (!bilevel) {
    if (params.PsCompression == 3) {
      Line(stream, "currentfile /ASCII85Decode filter << >> /DCTDecode filter");
      Line(stream, PageJpegColorSpace(params) == 1 ? "false 1" : "false 3");
    } else {
      for (const char* plane : {"r", "g", "b"}) Line(stream, std::string("/") + plane + "str " + w + " string def");
      for (const char* plane : {"r", "g", "b"})
        Line(stream, std::string("{currentfile /ASCII85Decode filter /RunLengthDecode filter ") + plane +
                         "str readstring pop}");
      Line(stream, "true 3");
    }
    WritePageData(stream, "colorimage", data);
    return;
  }
  const uint8_t compression = params.PsCompression;
  if (compression == 1 || compression == 2) {
    // A two-dimensional Group 3 page codes every row after the first in two
    // dimensions, so K names them all.
    const std::string k = compression == 1 ? "-1" : h;
    Line(stream, "currentfile /ASCII85Decode filter << /K " + k + " /BlackIs1 true /Columns " + w + " /Rows " + h +
                     " /EndOfLine false /Uncompressed true /EncodedByteAlign false /EndOfBlock false >> "
                     "/CCITTFaxDecode filter");
  } else {
    Line(stream, "currentfile /ASCII85Decode filter /RunLengthDecode filter");
  }
  WritePageData(stream, "image", data);
}

int64_t EncodePSImageData(TMemoryStream& data, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  if (params.SamplesPerPixel == 1 && params.BitsPerSample > 1) params.SamplesPerPixel = 3, params.BitsPerSample = 8;
  if (params.SamplesPerPixel > 3) params.SamplesPerPixel = 3;
  if (params.SamplesPerPixel == 1) {
    if (bitmap.PixelFormat() != ie1g) return 0;
    return EncodeBilevel(data, bitmap, params.PsCompression, progress);
  }
  if (bitmap.PixelFormat() != ie24RGB) return 0;
  return EncodeColor(data, bitmap, params, progress);
}

void WritePSStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  try {
    if (bitmap.IsEmpty() || bitmap.Width() <= 0 || bitmap.Height() <= 0) return progress.Abort();
    std::unique_ptr<TPSDocument> document = BeginPSDocument(stream, params);
    AddPSPage(*document, stream, bitmap, progress, params);
    EndPSDocument(std::move(document), stream);
  } catch (...) {
    progress.Abort();
  }
}

TIEFormatDescriptor PSFormat() {
  return {
      .FileType = ioPS,
      .FullName = "PostScript Level 2",
      .Suffixes = "PS;EPS",
      .Access = ieaWrite,
      .Write = [](TIEFormatWriteArgs& a) { WritePSStream(a.Stream, a.Bitmap, a.Params, a.Progress); },
      .SaveOptions = {iesConvert24},
      .SaveOpenFailure = ieofKeepFlag,
      .SaveOrder = 140,
      .SaveSuffixes = "PS;EPS",
  };
}

namespace {

class TPSOutput : public TIEOpenOutput {
public:
  explicit TPSOutput(std::unique_ptr<TPSDocument> document) : FDocument(std::move(document)) {}
  void Finish(TStream& stream, TIOParamsVals&) override { EndPSDocument(std::move(FDocument), stream); }

private:
  std::unique_ptr<TPSDocument> FDocument;
};

}  // namespace

std::unique_ptr<TIEOpenOutput> PSOutput(std::unique_ptr<TPSDocument> document) {
  return std::make_unique<TPSOutput>(std::move(document));
}
