#include "imaging/io/file_formats.h"
#include "imaging/io/picture_adapters.h"

#include <vector>

#include "imaging/core/ie_proc.h"
#include "imaging/core/ie_startup.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/io/url_download.h"
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
  // The formats layer installed its descriptors, in the registry's order.
  for (const TIEFormatDescriptor& d : FormatDescriptors()) {
    if (d.Available && !d.Available()) continue;
    auto f = std::make_unique<TIEFileFormatInfo>();
    f->FileType = d.FileType;
    f->FullName = d.FullName;
    f->Suffix = d.Suffixes;
    f->InternalFormat = true;
    f->DialogPage = d.DialogPage;
    if (d.Access == ieaRead || d.Access == ieaReadWrite) f->ReadFunction = InternalFormatReadHook;
    if (d.Access == ieaWrite || d.Access == ieaReadWrite) f->WriteFunction = InternalFormatWriteHook;
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
  UnbindWinInet();
}

void InstallImageIOStartup() { SetLibraryStartupStep(iessImageIO, InitImageIO, DoneImageIO); }
