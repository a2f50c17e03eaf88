#include "imaging/formats/pdf_filter.h"

#include <cstring>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_utils.h"
#include "imaging/formats/fax_rows.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

namespace {

std::unique_ptr<TIEPDFNameObject> Name(const char* text) { return std::make_unique<TIEPDFNameObject>(text); }
std::unique_ptr<TIEPDFNumericObject> Number(double value) { return std::make_unique<TIEPDFNumericObject>(value); }

// The rows through the parameter set's LZW coder: one call a row, then the
// call that ends the data.
std::unique_ptr<TMemoryStream> LZWRows(TIEBitmap& bitmap, int64_t rowBytes, bool swapRedBlue,
                                       TIOParamsVals& params) {
  auto out = std::make_unique<TMemoryStream>();
  void* state = nullptr;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  for (int r = 0; r < bitmap.Height(); ++r) {
    std::memcpy(row.data(), bitmap.ScanLine(r), size_t(rowBytes));
    if (swapRedBlue)
      for (int64_t x = 0; x + 2 < rowBytes; x += 3) std::swap(row[size_t(x)], row[size_t(x + 2)]);
    params.TiffLZWEncoder(row.data(), rowBytes, out.get(), state);
  }
  params.TiffLZWEncoder(nullptr, 0, out.get(), state);
  return out;
}

std::vector<uint8_t> PlainRows(TIEBitmap& bitmap, int64_t rowBytes, bool swapRedBlue) {
  std::vector<uint8_t> data(size_t(rowBytes * bitmap.Height()));
  for (int r = 0; r < bitmap.Height(); ++r) {
    uint8_t* row = data.data() + r * rowBytes;
    std::memcpy(row, bitmap.ScanLine(r), size_t(rowBytes));
    if (swapRedBlue)
      for (int64_t x = 0; x + 2 < rowBytes; x += 3) std::swap(row[x], row[x + 2]);
  }
  return data;
}

void FaxParameters(TIEPDFDictionaryObject& dict, int k, int width, int height) {
  auto parms = std::make_unique<TIEPDFDictionaryObject>();
  parms->Add("K", Number(k));
  parms->Add("BlackIs1", std::make_unique<TIEPDFBooleanObject>(true));
  parms->Add("Columns", Number(width));
  parms->Add("Rows", Number(height));
  parms->Add("EndOfLine", std::make_unique<TIEPDFBooleanObject>(false));
  parms->Add("Uncompressed", std::make_unique<TIEPDFBooleanObject>(true));
  parms->Add("EncodedByteAlign", std::make_unique<TIEPDFBooleanObject>(false));
  parms->Add("EndOfBlock", std::make_unique<TIEPDFBooleanObject>(false));
  dict.Add("Filter", Name("CCITTFaxDecode"));
  dict.Add("DecodeParms", std::move(parms));
}

void BilevelImage(TIEPDFStreamObject& image, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  TIEPDFDictionaryObject& dict = image.Dictionary();
  const int width = bitmap.Width(), height = bitmap.Height();
  const int64_t rowBytes = (int64_t(width) + 7) / 8;
  if (params.PdfCompression == 4) params.PdfCompression = 3;
  const uint8_t compression = params.PdfCompression;
  if (compression == 1) {
    std::vector<uint8_t> rows = PlainRows(bitmap, rowBytes, false);
    std::vector<uint8_t> packed(size_t(PackBitsEncodedBound(int64_t(rows.size()))));
    packed.resize(size_t(PackBitsEncode(rows.data(), int64_t(rows.size()), packed.data())));
    image.SetData(std::move(packed));
    auto filters = std::make_unique<TIEPDFArrayObject>();
    filters->Add(Name("RunLengthDecode"));
    dict.Add("Filter", std::move(filters));
  } else if (compression == 2 || compression == 3) {
    // A two-dimensional Group 3 image codes every row after the first in two
    // dimensions, so K names them all.
    const int k = compression == 2 ? -1 : height;
    std::vector<uint8_t> fax = EncodeFaxBitmap(bitmap, k, progress);
    fax.resize((fax.size() + 3) / 4 * 4, 0);
    image.SetData(std::move(fax));
    FaxParameters(dict, k, width, height);
  } else if (compression == 5 && params.TiffLZWEncoder) {
    image.SetData(LZWRows(bitmap, rowBytes, false, params));
    dict.Add("Filter", Name("LZWDecode"));
  } else {
    // No coding (also for codes without one, or LZW without a coder).
    image.SetData(PlainRows(bitmap, rowBytes, false));
  }
  dict.Add("ColorSpace", Name("DeviceGray"));
  dict.Add("BitsPerComponent", Number(1));
}

void JpegImage(TIEPDFStreamObject& image, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  TIEPDFDictionaryObject& dict = image.Dictionary();
  auto jpeg = std::make_unique<TMemoryStream>();
  WriteJpegStream(*jpeg, bitmap, params, progress);
  image.SetData(std::move(jpeg));
  dict.Add("Filter", Name("DCTDecode"));
  if (params.JpegColorSpace == 1) {
    dict.Add("ColorSpace", Name("DeviceGray"));
  } else if (params.JpegColorSpace == 3 || params.JpegColorSpace == 4) {
    // Our CMYK JPEGs hold inverted inks, as Adobe's do (the codec writes its
    // Adobe marker): the decode array turns them back into ink amounts.
    dict.Add("ColorSpace", Name("DeviceCMYK"));
    auto decode = std::make_unique<TIEPDFArrayObject>();
    for (int i = 0; i < 4; ++i) {
      decode->Add(Number(1));
      decode->Add(Number(0));
    }
    dict.Add("Decode", std::move(decode));
  } else {
    dict.Add("ColorSpace", Name("DeviceRGB"));
  }
}

void ColorImage(TIEPDFStreamObject& image, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  TIEPDFDictionaryObject& dict = image.Dictionary();
  const int64_t rowBytes = int64_t(bitmap.Width()) * 3;
  if (params.PdfCompression == 4) {
    JpegImage(image, bitmap, params, progress);
  } else {
    if (params.PdfCompression == 5 && params.TiffLZWEncoder) {
      image.SetData(LZWRows(bitmap, rowBytes, true, params));
      dict.Add("Filter", Name("LZWDecode"));
    } else {
      image.SetData(PlainRows(bitmap, rowBytes, true));
    }
    dict.Add("ColorSpace", Name("DeviceRGB"));
  }
  dict.Add("BitsPerComponent", Number(8));
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

std::string TwoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

}  // namespace

std::unique_ptr<TPDFDocument> CreatePDFDocument() {
  auto document = std::make_unique<TPDFDocument>();
  document->Catalog = AddPDFCatalog(document->Objects);
  document->Resources = std::make_unique<TIEPDFDictionaryObject>();
  document->Resources->OwnedElsewhere = true;
  auto procSet = std::make_unique<TIEPDFArrayObject>();
  procSet->Add(Name("PDF"));
  procSet->Add(Name("ImageB"));
  document->Resources->Add("ProcSet", std::move(procSet));
  auto xobjects = std::make_unique<TIEPDFDictionaryObject>();
  document->XObjects = xobjects.get();
  document->Resources->Add("XObject", std::move(xobjects));
  AddPDFIndirect(document->Objects, document->Resources.get());
  return document;
}

namespace {

// keepInMemory: a one-page document is written straight after its page is
// added, so its image need not wait in a temporary file.
void AddPage(TPDFDocument& document, TIEBitmap& source, TIOParamsVals& params, TProgressRecord& progress,
             bool keepInMemory) {
  std::unique_ptr<TIEBitmap> copy;
  TIEBitmap* bitmap = PageBitmap(source, copy);
  if (!bitmap || bitmap->IsEmpty()) return progress.Abort();
  const int width = bitmap->Width(), height = bitmap->Height();
  const bool bilevel = bitmap->PixelFormat() == ie1g;
  params.BitsPerSample = bilevel ? 1 : 8;
  params.SamplesPerPixel = bilevel ? 1 : 3;

  auto image = std::make_unique<TIEPDFStreamObject>();
  if (bilevel) BilevelImage(*image, *bitmap, params, progress);
  else ColorImage(*image, *bitmap, params, progress);
  TIEPDFDictionaryObject& dict = image->Dictionary();
  dict.Insert(0, "Type", Name("XObject"));
  dict.Insert(1, "Subtype", Name("Image"));
  dict.Add("Width", Number(width));
  dict.Add("Height", Number(height));
  AddPDFIndirect(document.Objects, image.get());
  if (!keepInMemory) image->MoveToTempFile();
  TIEPDFStreamObject& placed = *image;
  document.Images.push_back(std::move(image));

  int scaledWidth = 1, scaledHeight = 1;
  ScaleToFit(width, height, params.PdfPaperWidth, params.PdfPaperHeight, scaledWidth, scaledHeight);
  const std::string n = std::to_string(document.Images.size());
  const std::string text = "q\n" + std::to_string(scaledWidth) + " 0 0 " + std::to_string(scaledHeight) + " 0 " +
                           std::to_string(params.PdfPaperHeight - scaledHeight) + " cm\n/lm" + n + " Do\nQ";
  auto content = std::make_unique<TIEPDFStreamObject>(text.data(), int64_t(text.size()));
  AddPDFIndirect(document.Objects, content.get());
  const int32_t contentNumber = content->ObjectNumber;
  document.Contents.push_back(std::move(content));

  document.XObjects->Add("lm" + n, std::make_unique<TIEPDFRefObject>(placed.ObjectNumber, 0));
  auto mediaBox = std::make_unique<TIEPDFArrayObject>();
  mediaBox->Add(Number(0));
  mediaBox->Add(Number(0));
  mediaBox->Add(Number(params.PdfPaperWidth));
  mediaBox->Add(Number(params.PdfPaperHeight));
  document.PageObjects.push_back(AddPDFPageObject(document.Objects, document.Pages, document.Resources.get(),
                                                  contentNumber, std::move(mediaBox)));
}

}  // namespace

void AddPDFPage(TPDFDocument& document, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  AddPage(document, bitmap, params, progress, false);
}

void WritePDFDocument(std::unique_ptr<TPDFDocument> document, TStream& stream, TIOParamsVals& params) {
  if (!document) return;
  std::unique_ptr<TIEPDFDictionaryObject> pages = AddPDFPages(document->Objects, document->Pages);
  auto info = std::make_unique<TIEPDFDictionaryObject>();
  const std::pair<const char*, const std::string*> texts[] = {
      {"Title", &params.PdfTitle},     {"Author", &params.PdfAuthor},   {"Subject", &params.PdfSubject},
      {"Keywords", &params.PdfKeywords}, {"Creator", &params.PdfCreator}, {"Producer", &params.PdfProducer}};
  for (const auto& [key, text] : texts)
    if (!text->empty()) info->Add(key, std::make_unique<TIEPDFStringObject>(*text));
  const TDateTime now = Now();
  uint16_t y, mo, d, h, mi, s, ms;
  DecodeDate(now, y, mo, d);
  DecodeTime(now, h, mi, s, ms);
  info->Add("CreationDate", std::make_unique<TIEPDFStringObject>("D:" + std::to_string(y) + TwoDigits(mo) +
                                                                 TwoDigits(d) + TwoDigits(h) + TwoDigits(mi) +
                                                                 TwoDigits(s)));
  AddPDFIndirect(document->Objects, info.get());
  WritePDFHeader(stream);
  WritePDFObjects(stream, document->Objects);
  WritePDFTrailer(stream, document->Objects, *info);
}

void WritePDFStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  try {
    if (bitmap.IsEmpty() || bitmap.Width() <= 0 || bitmap.Height() <= 0) return progress.Abort();
    std::unique_ptr<TPDFDocument> document = CreatePDFDocument();
    AddPage(*document, bitmap, params, progress, true);
    if (progress.Aborted()) return;
    WritePDFDocument(std::move(document), stream, params);
  } catch (...) {
    progress.Abort();
  }
}

TIEFormatDescriptor PDFFormat() {
  return {
      .FileType = ioPDF,
      .FullName = "Adobe PDF",
      .Suffixes = "PDF",
      .Access = ieaWrite,
      .Write = [](TIEFormatWriteArgs& a) { WritePDFStream(a.Stream, a.Bitmap, a.Params, a.Progress); },
      .SaveOptions = {iesConvert24},
      .SaveOpenFailure = ieofKeepFlag,
      .SaveOrder = 150,
      .SaveSuffixes = "PDF",
  };
}

namespace {

class TPDFOutput : public TIEOpenOutput {
public:
  explicit TPDFOutput(std::unique_ptr<TPDFDocument> document) : FDocument(std::move(document)) {}
  void Finish(TStream& stream, TIOParamsVals& params) override {
    WritePDFDocument(std::move(FDocument), stream, params);
  }

private:
  std::unique_ptr<TPDFDocument> FDocument;
};

}  // namespace

std::unique_ptr<TIEOpenOutput> PDFOutput(std::unique_ptr<TPDFDocument> document) {
  return std::make_unique<TPDFOutput>(std::move(document));
}
