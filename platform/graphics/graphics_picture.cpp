#include "platform/graphics/graphics_picture.h"

#include <algorithm>
#include <mutex>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/clipboard.h"

namespace {

struct ClipboardFormat {
  WORD format = 0;
  TGraphicClass graphicClass;
};

// The registry is one per process. It is filled on first use rather than by a
// static initialiser, which a static library would not be sure to run.
struct Registry {
  std::mutex lock;
  std::vector<TFileFormat> files;           // latest first
  std::vector<ClipboardFormat> clipboard;   // latest first

  Registry() {
    files.push_back({"wmf", "Metafiles", TGraphicClass::Of<TMetafile>()});
    files.insert(files.begin(), {"emf", "Enhanced Metafiles", TGraphicClass::Of<TMetafile>()});
    files.insert(files.begin(), {"ico", "Icons", TGraphicClass::Of<TIcon>()});
    files.insert(files.begin(), {"bmp", "Bitmaps", TGraphicClass::Of<TBitmap>()});
    clipboard.push_back({static_cast<WORD>(CF_METAFILEPICT), TGraphicClass::Of<TMetafile>()});
    clipboard.insert(clipboard.begin(), {static_cast<WORD>(CF_ENHMETAFILE), TGraphicClass::Of<TMetafile>()});
    clipboard.insert(clipboard.begin(), {static_cast<WORD>(CF_BITMAP), TGraphicClass::Of<TBitmap>()});
    RegisterMetafileClipboardSupport();
    RegisterBitmapClipboardSupport();
  }
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

std::string NormalExtension(std::string ext) {
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  return LowerCase(ext);
}

}  // namespace

std::vector<TFileFormat> RegisteredFileFormats() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.lock);
  return r.files;
}

TGraphicClass FileFormatClass(const std::string& extension) {
  const std::string ext = NormalExtension(extension);
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.lock);
  for (const auto& f : r.files)
    if (f.extension == ext) return f.graphicClass;
  return {};
}

std::string GraphicFileMask(const TGraphicClass& graphicClass) {
  std::vector<std::string> items;
  for (const auto& f : RegisteredFileFormats()) {
    if (!f.graphicClass.InheritsFrom(graphicClass)) continue;
    const std::string item = "*." + f.extension;
    if (std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
  }
  std::string mask;
  for (const auto& item : items) mask += (mask.empty() ? "" : ";") + item;
  return mask;
}

std::string GraphicFilter(const TGraphicClass& graphicClass) {
  std::string all = GraphicFileMask(graphicClass);
  std::string filter = "All (" + all + ")|" + all;
  for (const auto& f : RegisteredFileFormats()) {
    if (!f.graphicClass.InheritsFrom(graphicClass)) continue;
    filter += "|" + f.description + " (*." + f.extension + ")|*." + f.extension;
  }
  return filter;
}

std::string GraphicExtension(const TGraphicClass& graphicClass) {
  for (const auto& f : RegisteredFileFormats())
    if (f.graphicClass == graphicClass) return f.extension;
  return {};
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TGraphicClass& graphicClass) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.lock);
  r.files.insert(r.files.begin(), TFileFormat{NormalExtension(extension), description, graphicClass});
}

void TPicture::RegisterClipboardFormat(WORD format, const TGraphicClass& graphicClass) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.lock);
  r.clipboard.insert(r.clipboard.begin(), ClipboardFormat{format, graphicClass});
}

void TPicture::UnregisterGraphicClass(const TGraphicClass& graphicClass) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.lock);
  std::erase_if(r.files, [&](const TFileFormat& f) { return f.graphicClass.InheritsFrom(graphicClass); });
  std::erase_if(r.clipboard, [&](const ClipboardFormat& f) { return f.graphicClass.InheritsFrom(graphicClass); });
}

bool TPicture::SupportsClipboardFormat(WORD format) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.lock);
  return std::any_of(r.clipboard.begin(), r.clipboard.end(), [&](const ClipboardFormat& f) { return f.format == format; });
}

TPicture::~TPicture() = default;

void TPicture::Changed(TObject* sender) {
  if (OnChange) OnChange(this);
}

void TPicture::Adopt(std::unique_ptr<TGraphic> graphic) {
  FGraphic = std::move(graphic);
  if (FGraphic) FGraphic->OnChange = [this](TObject* sender) { Changed(sender); };
  Changed(this);
}

void TPicture::SetGraphic(TGraphic* value) {
  if (!value) {
    Adopt(nullptr);
    return;
  }
  if (value == FGraphic.get()) return;
  // The registry names the built-in classes; before its first use TBitmap and TIcon are unknown.
  TheRegistry();
  const TGraphicClass cls = GraphicClassOf(value);
  if (!cls) throw EInvalidGraphicOperation("Cannot assign a " + value->ClassName() + " to a TPicture");
  std::unique_ptr<TGraphic> copy = cls.Create();
  copy->Assign(value);
  Adopt(std::move(copy));
}

TBitmap* TPicture::Bitmap() {
  if (!dynamic_cast<TBitmap*>(FGraphic.get())) Adopt(std::make_unique<TBitmap>());
  return static_cast<TBitmap*>(FGraphic.get());
}

TIcon* TPicture::Icon() {
  if (!dynamic_cast<TIcon*>(FGraphic.get())) Adopt(std::make_unique<TIcon>());
  return static_cast<TIcon*>(FGraphic.get());
}

int TPicture::Width() const { return FGraphic ? FGraphic->Width() : 0; }
int TPicture::Height() const { return FGraphic ? FGraphic->Height() : 0; }

void TPicture::LoadFromFile(const std::string& fileName) {
  const std::string ext = NormalExtension(ExtractFileExt(fileName));
  const TGraphicClass cls = FileFormatClass(ext);
  if (!cls) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> graphic = cls.Create();
  graphic->LoadFromFile(fileName);
  Adopt(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) {
  if (FGraphic) FGraphic->SaveToFile(fileName);
}

void TPicture::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  TGraphicClass cls;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.lock);
    for (const auto& f : r.clipboard) {
      if (f.format == format) {
        cls = f.graphicClass;
        break;
      }
    }
  }
  if (!cls) throw EInvalidGraphic("Unsupported clipboard format");
  std::unique_ptr<TGraphic> graphic = cls.Create();
  graphic->LoadFromClipboardFormat(format, data, palette);
  Adopt(std::move(graphic));
}

void TPicture::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  format = 0;
  data = nullptr;
  palette = nullptr;
  if (FGraphic) FGraphic->SaveToClipboardFormat(format, data, palette);
}

void TPicture::Assign(TPersistent* source) {
  if (!source) {
    SetGraphic(nullptr);
  } else if (auto* p = dynamic_cast<TPicture*>(source)) {
    SetGraphic(p->Graphic());
  } else if (auto* g = dynamic_cast<TGraphic*>(source)) {
    SetGraphic(g);
  } else {
    TPersistent::Assign(source);
  }
}

void TPicture::AssignTo(TPersistent* dest) {
  if (auto* g = dynamic_cast<TGraphic*>(dest); g && FGraphic) {
    g->Assign(FGraphic.get());
    return;
  }
  TPersistent::AssignTo(dest);
}
