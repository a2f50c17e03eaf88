#include "imaging/io/file_formats.h"
#include "imaging/io/picture_adapters.h"

#include <vector>

#include "imaging/core/ie_proc.h"
#include "imaging/core/ie_startup.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/ie_filters.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/strings.h"
#include "platform/win/clipboard.h"

int32_t IEMetafileSizeLimit = 8000;
bool IEBufferedReadRelative = false;

namespace {

std::vector<std::unique_ptr<TIEFileFormatInfo>>& Formats() {
  static std::vector<std::unique_ptr<TIEFileFormatInfo>> list;
  return list;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// Cuts the text before the first ";" off the working copy.
std::string TakeFirstSuffix(std::string& list) {
  const size_t p = list.find(';');
  std::string first = list.substr(0, p);
  list = p == std::string::npos ? std::string() : list.substr(p + 1);
  return first;
}

struct TBuiltin {
  TImageFileType code;
  const char* name;
  const char* suffix;
  bool read;
  bool write;
  uint16_t page;
};

constexpr TBuiltin kBuiltins[] = {
    {ioTIFF, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F;XIF", true, true, iedpTIFF},
    {ioGIF, "CompuServe Bitmap", "GIF", true, true, iedpGIF},
    {ioJPEG, "JPEG Bitmap", "JPG;JPEG;JPE;JIF", true, true, iedpJPEG},
    {ioPCX, "PaintBrush", "PCX", true, true, iedpPCX},
    {ioBMP, "Windows Bitmap", "BMP;DIB;RLE", true, true, iedpBMP},
    {ioBMPRAW, "Raw Bitmap", "", true, true, 0},
    {ioICO, "Windows Icon", "ICO", true, true, 0},
    {ioCUR, "Windows Cursor", "CUR", true, false, 0},
    {ioPNG, "Portable Network Graphics", "PNG", true, true, iedpPNG},
    {ioDICOM, "DICOM Bitmap", "DCM;DIC;DICOM;V2", true, false, 0},
    {ioWMF, "Windows Metafile", "WMF", true, false, 0},
    {ioEMF, "Enhanced Windows Metafile", "EMF", true, false, 0},
    {ioTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", true, true, iedpTGA},
    {ioPXM, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM", true, true, 0},
    {ioWBMP, "Wireless Bitmap", "WBMP", true, true, 0},
    {ioJP2, "JPEG2000", "JP2", true, true, iedpJ2000},
    {ioJ2K, "JPEG2000 Code Stream", "J2K;JPC;J2C", true, true, iedpJ2000},
    {ioPS, "PostScript Level 2", "PS;EPS", false, true, 0},
    {ioPDF, "Adobe PDF", "PDF", false, true, 0},
    {ioDCX, "Multipage PCX", "DCX", true, true, 0},
    {ioRAW, "Camera RAW", "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2", true, false, 0},
    {ioPSD, "Photoshop PSD", "PSD", true, true, 0},
    {ioIEV, "Vectorial objects", "IEV", true, true, 0},
    {ioLYR, "Layers", "LYR", true, true, 0},
    {ioALL, "Layers and objects", "ALL", true, true, 0},
    {ioHDP, "Microsoft HD Photo", "WDP;HDP", true, true, 0},
};

}  // namespace

void InternalFormatReadHook(TStream&, TIEBitmap&, TIOParamsVals&, bool, TProgressRecord&) {}
void InternalFormatWriteHook(TStream&, TIEBitmap&, TIOParamsVals&, TProgressRecord&) {}
bool InternalFormatTryHook(TStream&, TImageFileType) { return false; }

TIEFileFormatInfo* FindFileFormatByType(TImageFileType code) {
  for (auto& f : Formats())
    if (f->FileType == code) return f.get();
  return nullptr;
}

TIEFileFormatInfo* FindFileFormatByExtension(const std::string& extension) {
  std::string ext = Lower(extension);
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  if (ext.empty()) return nullptr;
  for (auto& f : Formats()) {
    std::string list = f->Suffix;
    while (!list.empty()) {
      if (Lower(TakeFirstSuffix(list)) == ext) return f.get();
    }
  }
  return nullptr;
}

TImageFileType GetFileTypeByExtension(const std::string& extension) {
  TIEFileFormatInfo* f = FindFileFormatByExtension(extension);
  return f != nullptr ? f->FileType : ioUnknown;
}

std::string GetFormatSuffix(TImageFileType code, int index) {
  TIEFileFormatInfo* f = FindFileFormatByType(code);
  if (f == nullptr || index < 0) return {};
  std::string list = f->Suffix;
  std::string s;
  for (int i = 0; i <= index; ++i) {
    if (list.empty()) return {};
    s = TakeFirstSuffix(list);
  }
  return s;
}

int CountFormatSuffixes(TImageFileType code) {
  int n = 0;
  while (!GetFormatSuffix(code, n).empty()) ++n;
  return n;
}

void RegisterFileFormat(std::unique_ptr<TIEFileFormatInfo> entry) {
  if (entry) Formats().push_back(std::move(entry));
}

void UnregisterFileFormat(TImageFileType code) {
  auto& list = Formats();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if ((*it)->FileType == code) {
      list.erase(it);
      return;
    }
  }
}

int FileFormatCount() { return static_cast<int>(Formats().size()); }
TIEFileFormatInfo* FileFormatAt(int index) {
  return index >= 0 && index < FileFormatCount() ? Formats()[size_t(index)].get() : nullptr;
}

void RegisterBuiltinFileFormats() {
  const auto& wic = IEFilters().IsWICAvailable;
  for (const TBuiltin& b : kBuiltins) {
    if (b.code == ioHDP && !(wic && wic())) continue;
    auto f = std::make_unique<TIEFileFormatInfo>();
    f->FileType = b.code;
    f->FullName = b.name;
    f->Suffix = b.suffix;
    f->InternalFormat = true;
    f->DialogPage = b.page;
    if (b.read) f->ReadFunction = InternalFormatReadHook;
    if (b.write) f->WriteFunction = InternalFormatWriteHook;
    f->TryFunction = InternalFormatTryHook;
    RegisterFileFormat(std::move(f));
  }
}

void FreeFileFormats() { Formats().clear(); }

// No format library is ever loaded from outside in this program, so there is
// nothing to unload; the step stays for the order of shutdown.
void UnloadIOPlugins() {}

namespace {

// The processing component pastes PNG data and metafiles through these readers.
bool PastePNG(TIEBitmap& bitmap, const void* data, size_t size) {
  auto io = TImageLibIO::CreateForBitmap(&bitmap);
  io->LoadBuffer(data, int64_t(size), ioPNG);
  return !io->Aborting() && !bitmap.IsEmpty();
}

bool PasteMetafile(TIEBitmap& bitmap, HANDLE handle) {
  // The metafile draws from a copy: the clipboard's handle stays the clipboard's.
  TMetafile metafile;
  metafile.LoadFromClipboardFormat(CF_ENHMETAFILE, handle, nullptr);
  if (metafile.Empty()) return false;
  auto io = TImageLibIO::CreateForBitmap(&bitmap);
  io->RenderMetafile(&metafile, -1, true, -1);
  return !io->Aborting() && !bitmap.IsEmpty();
}

}  // namespace

void InitImageIO() {
  FreeFileFormats();
  RegisterBuiltinFileFormats();
  IEBufferedReadRelative = false;
  IEMetafileSizeLimit = 8000;
  IEPasteLoadPNG = PastePNG;
  IEPasteRenderMetafile = PasteMetafile;
  RegisterPictureAdapters();
}

void DoneImageIO() {
  UnregisterPictureAdapters();
  IEPasteLoadPNG = nullptr;
  IEPasteRenderMetafile = nullptr;
  UnloadIOPlugins();
  FreeFileFormats();
}

void InstallImageIOStartup() { SetLibraryStartupStep(iessImageIO, InitImageIO, DoneImageIO); }
