// The dispatch of TImageLibIO: which per-format operation a file name, a
// stream's content or a format code leads to, and the hook path of formats
// registered from outside.
#include <algorithm>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_utils.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/ie_io_thread.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_target_file.h"

namespace {

struct TFinishOnExit {
  TImageLibIO& io;
  ~TFinishOnExit() { io.NotifyFinishWork(); }
};

}  // namespace

// ---- loads ----

void TImageLibIO::LoadFile(const std::string& name, TImageFileType type) { LoadFile(UTF8ToWide(name), type); }

void TImageLibIO::LoadFile(const std::wstring& name, TImageFileType type) {
  if (FIEBitmap == nullptr) return;
  if (name.empty()) {
    FAborting = true;
    NotifyFinishWork();
    return;
  }
  if (IsURLW(name) != 0) {
    LoadURL(name);
    return;
  }
  const std::string ext = LowerExtension(name);
  if (ext == ".avi") {
    // Open, read and close belong together: deferring the read alone would
    // let the file close before the worker reads from it.
    if (DeferCall()) {
      TIEIOThread::CreateNameType(this, name, type, IEIODynamicNameType(ieioLoadFile));
      return;
    }
    OpenAVIFile(name);
    if (FAborting) {
      // The open notifies nothing; a load by name always ends with its finish.
      NotifyFinishWork();
      return;
    }
    ReadAVIFrame(FParams->ImageIndex);
    CloseAVIFile();
    FParams->FileName = name;
    FParams->FileType = ioAVI;
    return;
  }
  if (type >= 1) {
    LoadFileAsType(name, type);
    return;
  }
  TIEFileFormatInfo* entry = FindFileFormatByExtension(ext);
  if (entry == nullptr && ext == ".win") entry = FindFileFormatByType(ioTGA);  // saved as Targa, so read as Targa
  if (entry == nullptr && (ext == ".mpe" || ext == ".mpg" || ext == ".mpeg" || ext == ".wmv")) {
    OpenVideoFile(name);
    if (!FAborting) {
      ReadVideoFrame(FParams->ImageIndex);
      CloseVideoFile();
      FParams->FileName = name;
      FParams->FileType = ext == ".wmv" ? ioWMV : ioMPEG;
    }
    NotifyFinishWork();
    return;
  }
  if (entry == nullptr) {
    FAborting = true;
    NotifyFinishWork();
    return;
  }
  if (entry->InternalFormat && LoadByCode(entry->FileType, &name, nullptr)) return;
  FParams->FileName.clear();
  FParams->FileType = ioUnknown;
  FParams->ResetMetadata();
  if (entry->ReadFunction && DeferCall()) {
    TIEIOThread::CreateNameType(this, name, type, IEIODynamicNameType(ieioLoadFile));
    return;
  }
  HookLoad(*entry, &name, nullptr, true, false);
}

void TImageLibIO::LoadFileAsType(const std::wstring& name, TImageFileType type) {
  TIEFileFormatInfo* entry = FindFileFormatByType(type);
  if (entry == nullptr) return;
  if (entry->InternalFormat) {
    if (!LoadByCode(type, &name, nullptr)) LoadFile(name, -1);
    return;
  }
  if (entry->ReadFunction && DeferCall()) {
    TIEIOThread::CreateNameTypeDyn(this, name, type, IEIODynamicNameType(ieioLoadFileAsType));
    return;
  }
  HookLoad(*entry, &name, nullptr, false, true);
}

void TImageLibIO::LoadFileDetected(const std::wstring& name) {
  const TImageFileType code = DetectFileTypeByName(name, false);
  if (code != ioUnknown)
    LoadFileAsType(name, code);
  else
    LoadFile(name, -1);
}

void TImageLibIO::LoadStream(TStream& stream) {
  const int64_t start = stream.Position();
  const TImageFileType code = DetectStreamFileType(stream);
  TIEFileFormatInfo* entry = FindFileFormatByType(code);
  if (entry == nullptr) {
    FAborting = true;
    return;
  }
  stream.SetPosition(start);
  if (entry->InternalFormat) {
    if (code == ioWBMP || code == ioBMPRAW) return;
    LoadByCode(code, nullptr, &stream);
    return;
  }
  if (entry->ReadFunction && DeferCall()) {
    TIEIOThread::CreateStream(this, stream, IEIODynamicStream(ieioLoadStream));
    return;
  }
  HookLoad(*entry, nullptr, &stream, false, true);
}

void TImageLibIO::LoadStreamAsType(TStream& stream, TImageFileType type) {
  if (type == ioUnknown) {
    LoadStream(stream);
    return;
  }
  TIEFileFormatInfo* entry = FindFileFormatByType(type);
  if (entry == nullptr) return;
  if (entry->InternalFormat) {
    if (type == ioWMF || type == ioEMF)
      LoadStream(stream);
    else
      LoadByCode(type, nullptr, &stream);
    return;
  }
  if (entry->ReadFunction && DeferCall()) {
    TIEIOThread::CreateStreamType(this, stream, type, IEIODynamicStreamType(ieioLoadStreamAsType));
    return;
  }
  HookLoad(*entry, nullptr, &stream, false, true);
}

void TImageLibIO::LoadBuffer(const void* buffer, int64_t size, TImageFileType type) {
  if (buffer == nullptr || size <= 0) {
    FAborting = true;
    return;
  }
  TIEMemStream stream(buffer, size);
  if (type != ioUnknown)
    LoadStreamAsType(stream, type);
  else
    LoadStream(stream);
}

void TImageLibIO::HookLoad(TIEFileFormatInfo& entry, const std::wstring* name, TStream* stream, bool inLoadFile,
                           bool notifyWithoutBitmap) {
  if (!entry.ReadFunction) {
    FAborting = true;
    NotifyFinishWork();
    return;
  }
  std::unique_ptr<TIEWideFileStream> file;
  if (name != nullptr) {
    FAborting = true;
    if (!PrepareBitmap()) {
      if (notifyWithoutBitmap) NotifyFinishWork();
      return;
    }
    file = std::make_unique<TIEWideFileStream>(*name, 0x20);
    stream = file.get();
  } else {
    FAborting = false;
    if (!PrepareBitmap()) {
      NotifyFinishWork();
      return;
    }
  }
  FAborting = false;
  TFinishOnExit finish{*this};
  TProgressRecord progress = MakeProgress();
  if (name != nullptr) FParams->FileName = *name;
  FParams->FileType = entry.FileType;
  try {
    entry.ReadFunction(*stream, *FIEBitmap, *FParams, false, progress);
  } catch (const std::exception&) {
    FAborting = true;
  }
  if (!inLoadFile || !FAborting) {
    if (AutoAdjustDPI) AdjustDPI();
    SyncViewDPI();
  }
  UpdateAttached();
}

// ---- saves ----

void TImageLibIO::SaveFile(const std::string& name, TImageFileType type) { SaveFile(UTF8ToWide(name), type); }

void TImageLibIO::SaveFile(const std::wstring& name, TImageFileType type) {
  if (name.empty()) return;
  const std::string ext = LowerExtension(name);
  // The order decides: an earlier extension wins over a later type.
  std::vector<const TIEFormatDescriptor*> savers;
  for (const TIEFormatDescriptor& d : FormatDescriptors())
    if (d.SaveOrder > 0) savers.push_back(&d);
  std::stable_sort(savers.begin(), savers.end(),
                   [](const TIEFormatDescriptor* x, const TIEFormatDescriptor* y) { return x->SaveOrder < y->SaveOrder; });
  for (const TIEFormatDescriptor* d : savers) {
    if (d->FileType == type || SuffixListHas(d->SaveSuffixes, ext)) {
      SaveByCode(d->FileType, &name, nullptr);
      return;
    }
  }
  if (FAttachedView != nullptr && (type == ioALL || ext == ".all")) {
    if (FAttachedView->ViewKind() != ievkVectView) throw EInvalidCast("Invalid class typecast");
    FAttachedView->SaveAllToFile(WideToUTF8(name));
    return;
  }
  if (FAttachedView != nullptr && (type == ioLYR || ext == ".lyr")) {
    if (FAttachedView->ViewKind() != ievkImageView && FAttachedView->ViewKind() != ievkVectView)
      throw EInvalidCast("Invalid class typecast");
    FAttachedView->SaveLayersToFile(WideToUTF8(name));
    return;
  }
  TIEFileFormatInfo* entry = type < 0 ? FindFileFormatByExtension(ext) : FindFileFormatByType(type);
  if (entry == nullptr || !entry->WriteFunction) {
    FAborting = true;
    return;
  }
  if (!entry->InternalFormat && DeferCall()) {
    TIEIOThread::CreateNameType(this, name, type, IEIODynamicNameType(ieioSaveFile));
    return;
  }
  HookSaveFile(*entry, name);
}

void TImageLibIO::HookSaveFile(TIEFileFormatInfo& entry, const std::wstring& name) {
  if (entry.InternalFormat) {
    // A built-in format is written by its own writer (".pix" is Targa, ".xif"
    // TIFF); one without a writer here (raw pixels, layers without a view)
    // fails and leaves the disk alone.
    if (!SaveByCode(entry.FileType, &name, nullptr)) FAborting = true;
    return;
  }
  FAborting = true;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TIETargetFile target(name);
  TFinishOnExit finish{*this};
  FAborting = false;
  std::unique_ptr<TIEBitmap> converted;
  TIEBitmap* bitmap = WriterBitmap(converted);
  if (bitmap == nullptr) {
    FAborting = true;
    return;
  }
  FParams->FileName = name;
  FParams->FileType = entry.FileType;
  TProgressRecord progress = MakeProgress();
  try {
    entry.WriteFunction(target.Stream(), *bitmap, *FParams, progress);
  } catch (const std::exception&) {
    FAborting = true;
  }
  if (FAborting || !target.Commit()) FAborting = true;
}

void TImageLibIO::SaveStream(TStream& stream, TImageFileType type) {
  if (SaveByCode(type, nullptr, &stream)) return;
  FAborting = false;
  TIEFileFormatInfo* entry = FindFileFormatByType(type);
  if (entry == nullptr || !entry->WriteFunction || entry->InternalFormat) {
    FAborting = true;
    return;
  }
  if (DeferCall()) {
    TIEIOThread::CreateStreamType(this, stream, type, IEIODynamicStreamType(ieioSaveStream));
    return;
  }
  HookSaveStream(*entry, stream);
}

void TImageLibIO::HookSaveStream(TIEFileFormatInfo& entry, TStream& stream) {
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TFinishOnExit finish{*this};
  std::unique_ptr<TIEBitmap> converted;
  TIEBitmap* bitmap = WriterBitmap(converted);
  if (bitmap == nullptr) {
    FAborting = true;
    return;
  }
  TProgressRecord progress = MakeProgress();
  try {
    entry.WriteFunction(stream, *bitmap, *FParams, progress);
  } catch (const std::exception&) {
    FAborting = true;
  }
}

// ---- parameters only ----

void TImageLibIO::ReadParamsBody(TStream& s, TImageFileType type) {
  TIOParamsVals& p = *FParams;
  TProgressRecord progress;
  progress.Sender = this;
  progress.AbortFlag = &FAborting;
  TIEBitmap scratch;
  TIEMaskOut mask;
  auto missing = [&] { FAborting = true; };
  const TIEFormatDescriptor* format = FindFormatDescriptor(type);
  if (format != nullptr && format->Frame == ieffMetafile) {
    ReadMetafileParams(s);
    return;
  }
  if (format != nullptr) {
    if (!format->ReadParams) return missing();
    TIEFormatReadArgs args{s, &scratch, p, progress, mask, true, s.Size(), true};
    format->ReadParams(args);
    return;
  }
  // A format from outside reads through its hook.
  TIEFileFormatInfo* entry = FindFileFormatByType(type);
  if (entry == nullptr || !entry->ReadFunction || entry->InternalFormat) return missing();
  entry->ReadFunction(s, scratch, p, true, progress);
}

TImageFileType TImageLibIO::ReadParamsFromFileAsType(const std::wstring& name, TImageFileType type) {
  FParams->FileType = type;
  FParams->ResetMetadata();
  FAborting = true;
  try {
    TIEWideFileStream file(name, 0x20);
    TIEBufferedReadStream buffered(&file, 8192, IEBufferedReadRelative);
    FAborting = false;
    ReadParamsBody(buffered, type);
  } catch (...) {
    FAborting = true;
  }
  if (FAborting) FParams->FileType = ioUnknown;
  FParams->FileName = name;
  NotifyFinishWork();
  return FParams->FileType;
}

TImageFileType TImageLibIO::ReadParamsFromFile(const std::wstring& name) {
  return ReadParamsFromFileAsType(name, DetectFileTypeByName(name, true));
}

TImageFileType TImageLibIO::ReadParamsFromStreamAsType(TStream& stream, TImageFileType type) {
  FParams->FileType = type;
  FParams->ResetMetadata();
  FAborting = false;
  try {
    TIEBufferedReadStream buffered(&stream, 8192, IEBufferedReadRelative);
    ReadParamsBody(buffered, type);
  } catch (...) {
    FAborting = true;
  }
  if (FAborting) FParams->FileType = ioUnknown;
  NotifyFinishWork();
  return FParams->FileType;
}

TImageFileType TImageLibIO::ReadParamsFromStream(TStream& stream) {
  return ReadParamsFromStreamAsType(stream, DetectStreamFileType(stream));
}

TImageFileType TImageLibIO::ReadParamsFromBuffer(const void* buffer, int64_t size, TImageFileType type) {
  if (buffer == nullptr || size <= 0) {
    FAborting = true;
    return ioUnknown;
  }
  TIEMemStream stream(buffer, size);
  return type != ioUnknown ? ReadParamsFromStreamAsType(stream, type) : ReadParamsFromStream(stream);
}

int TImageLibIO::SeekPage(int kind, const std::wstring& name) {
  const int index = FParams->ImageIndex;
  const int count = FParams->ImageCount;
  int next = 0;
  switch (kind) {
    case 1: next = std::max(0, index - 1); break;
    case 2: next = std::min(count - 1, index + 1); break;
    case 3: next = count - 1; break;
    default: next = 0;
  }
  const std::wstring file = name.empty() ? FParams->FileName : name;
  if (!name.empty() || next != index) {
    FParams->SetImageIndex(next);
    LoadFile(file, -1);
  }
  return next;
}
