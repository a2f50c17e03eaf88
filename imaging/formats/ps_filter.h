#pragma once
// PostScript Level 2 output with document-structuring comments: one picture a
// page, scaled to fit the page, ASCII85 data that is run-length, fax or JPEG
// coded. A document can stay open across several pages.
#include <cstdint>
#include <memory>
#include <string>

class TIEBitmap;
class TIOParamsVals;
class TMemoryStream;
class TStream;
struct TProgressRecord;

// Where the "%%Pages: " line starts and where the next page (or the trailer) goes.
struct TPSDocument {
  int64_t PagesLine = 0;
  int64_t NextPage = 0;
};

std::unique_ptr<TPSDocument> BeginPSDocument(TStream& stream, TIOParamsVals& params);
void AddPSPage(TPSDocument& document, TStream& stream, TIEBitmap& bitmap, TProgressRecord& progress,
               TIOParamsVals& params);
// Writes the trailer; the handle goes with the call. Nothing for a nil handle.
void EndPSDocument(std::unique_ptr<TPSDocument> document, TStream& stream);
// A document of one page. Never throws: failures set the abort flag.
void WritePSStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

void WritePSPage(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, int pageHeight, int pageWidth,
                 int pageNumber, TProgressRecord& progress);
// The page's encoded data into data; returns the ASCII85 data characters
// (line ends and end markers not counted).
int64_t EncodePSImageData(TMemoryStream& data, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);
std::string FormatPSPageCount(int number, int width);
// A PostScript string's text with line breaks, parentheses, backslashes and
// bytes outside printable ASCII as escapes, so a header stays 7-bit clean.
std::string PSEscapeText(const std::string& text);
// "ddd mmm dd hh:nn:ss yyyy" with English day and month names in any locale.
std::string PSDateText(int year, int month, int day, int dayOfWeek, int hour, int minute, int second);

#include "imaging/io/format_descriptor.h"
#include "imaging/io/image_lib_io.h"

TIEFormatDescriptor PSFormat();
// An open document that TImageLibIO can hold across saves and end on ClosePSFile.
std::unique_ptr<TIEOpenOutput> PSOutput(std::unique_ptr<TPSDocument> document);
