#pragma once
// PDF 1.4 output: one picture a page as an image XObject scaled to fit the
// page at its top left. A document collects pages across several saves; each
// image's data waits in a temporary file until the document is written.
#include <memory>
#include <vector>

#include "imaging/io/pdf_objects.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

struct TPDFDocument {
  TIEPDFObjectList Objects;  // every indirect object, in numbering order
  std::vector<TIEPDFDictionaryObject*> Pages;
  std::vector<std::unique_ptr<TIEPDFDictionaryObject>> PageObjects;
  std::vector<std::unique_ptr<TIEPDFStreamObject>> Images;
  std::vector<std::unique_ptr<TIEPDFStreamObject>> Contents;
  std::unique_ptr<TIEPDFDictionaryObject> Resources;  // shared by every page
  TIEPDFDictionaryObject* XObjects = nullptr;          // inside Resources
  std::unique_ptr<TIEPDFDictionaryObject> Catalog;
};

// A document holding its catalog (object 1) and shared resources (object 2).
std::unique_ptr<TPDFDocument> CreatePDFDocument();
void AddPDFPage(TPDFDocument& document, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);
// Completes and writes the document; the handle goes with the call. Nothing
// for a nil handle.
void WritePDFDocument(std::unique_ptr<TPDFDocument> document, TStream& stream, TIOParamsVals& params);
// A document of one page. Never throws: failures set the abort flag.
void WritePDFStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

#include "imaging/io/format_descriptor.h"
#include "imaging/io/image_lib_io.h"

TIEFormatDescriptor PDFFormat();
// An open document that TImageLibIO can hold across saves and write on ClosePDFFile.
std::unique_ptr<TIEOpenOutput> PDFOutput(std::unique_ptr<TPDFDocument> document);
