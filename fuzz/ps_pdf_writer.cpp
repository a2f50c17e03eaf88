// Small pictures and parameter sets made from the input (any sizes, codings
// and bytes in the texts) through the PostScript and PDF writers. Each written
// document must hold together: every cross-reference offset at its object,
// every /Length its stream's, every %%BeginData count reaching %%EndData.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/pdf_filter.h"
#include "imaging/formats/ps_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"
#include "tests/imaging/formats/ps_pdf_check.h"

namespace {

struct TInput {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  std::string Text() {
    const size_t n = Byte();
    std::string out;
    for (size_t i = 0; i < n && pos < size; ++i) out += char(data[pos++]);
    return out;
  }
};

std::string Bytes(TMemoryStream& s) { return std::string(reinterpret_cast<char*>(s.Memory()), size_t(s.Size())); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TInput in{data, size};
  const bool bilevel = in.Byte() & 1;
  const int width = 1 + in.Byte() % 96, height = 1 + in.Byte() % 96;
  TIOParamsVals params(nullptr);
  params.PsCompression = in.Byte();
  params.PdfCompression = in.Byte();
  params.JpegColorSpace = in.Byte() % 5;
  const int pages = 1 + in.Byte() % 3;
  params.PsPaperWidth = 1 + in.Byte() * 4;
  params.PsPaperHeight = 1 + in.Byte() * 4;
  params.PdfPaperWidth = 1 + in.Byte() * 4;
  params.PdfPaperHeight = 1 + in.Byte() * 4;
  params.PsTitle = in.Text();
  params.PdfTitle = in.Text();
  params.PdfAuthor = in.Text();
  TIEBitmap bitmap(width, height, bilevel ? ie1g : ie24RGB);
  const size_t pixelsAt = in.pos;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int64_t x = 0; x < bitmap.RowLen(); ++x) row[x] = size > pixelsAt ? data[pixelsAt + size_t(y * 7 + x) % (size - pixelsAt)] : 0;
  }

  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  TMemoryStream ps;
  auto psDoc = BeginPSDocument(ps, params);
  for (int i = 0; i < pages; ++i) AddPSPage(*psDoc, ps, bitmap, progress, params);
  EndPSDocument(std::move(psDoc), ps);
  if (!qvtest::CheckDSCDataCounts(Bytes(ps)).empty()) qvfuzz::Finding("a %%BeginData count is wrong");

  TMemoryStream pdf;
  auto pdfDoc = CreatePDFDocument();
  for (int i = 0; i < pages; ++i) AddPDFPage(*pdfDoc, bitmap, params, progress);
  WritePDFDocument(std::move(pdfDoc), pdf, params);
  if (!qvtest::CheckPDFStructure(Bytes(pdf)).empty()) qvfuzz::Finding("the PDF does not hold together");
  return 0;
}
