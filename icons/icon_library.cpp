#include "icons/icon_library.h"

#include <cstring>

#include "base/file_mapping_stream.h"
#include "base/file_type_sniffer.h"
#include "base/toolbox/bitmap_utils.h"
#include "icons/module_readers.h"
#include "icons/pe_module.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/resources.h"
#include "platform/win/shell.h"
#include "platform/rtl/byte_order.h"

namespace {


}  // namespace

bool IsExecutableImage(const std::string& fileName, bool& isPE) {
  isPE = false;
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  const int64_t size = file.Size();
  if (size < 64) return false;
  uint8_t dos[64];
  file.ReadBuffer(dos, 64);
  if (ReadLE16(dos) != 0x5A4D) return false;
  // e_lfanew is a 32-bit field.
  const uint32_t e = ReadLE32(dos + 60);
  if (int64_t{e} > size - 2) return false;
  uint8_t sig[2];
  file.SetPosition(e);
  file.ReadBuffer(sig, 2);
  isPE = sig[0] == 'P' && sig[1] == 'E';
  return isPE || (sig[0] == 'N' && sig[1] == 'E');
}

// ---- icon library ------------------------------------------------------------

bool TIconLibrary::LoadFromFile(const std::string& fileName) {
  FFileName = fileName;
  FIcons.Clear();
  FIconGroupCount = -1;
  FIsMZ = IsExecutableImage(fileName, FIsPE);
  if (FIsMZ && !FileHasIconGroups(fileName)) {
    FIconGroupCount = 0;
    return false;
  }
  bool is64Bit = false;
  FIconGroupCount = CountIconGroupsInFile(fileName, is64Bit);
  if (!FIsMZ || FIconGroupCount == 0) return false;
  if (FIsPE) {
    LoadFromPEResources(fileName);
  } else {
    T16BitReader reader(fileName);
    if (reader.ReadLibrary()) FIcons.TakeEntries(reader.Result());
  }
  if (FIcons.Count() == 0) ScanForImages(fileName);
  // Say whether icons were found, wherever they came from.
  return FIcons.Count() > 0;
}

bool TIconLibrary::LoadWithReaders(const std::string& fileName) {
  FFileName = fileName;
  FIcons.Clear();
  FIsMZ = IsExecutableImage(fileName, FIsPE);
  FIconGroupCount = static_cast<int32_t>(ExtractIconExA(fileName.c_str(), -1, nullptr, nullptr, 0));
  if (!FIsMZ) return false;
  std::unique_ptr<TICLReader> reader;
  if (FIsPE)
    reader = std::make_unique<T32BitReader>(fileName);
  else
    reader = std::make_unique<T16BitReader>(fileName);
  if (!reader->ReadNames()) return false;
  FIcons.TakeEntries(reader->Result());
  return true;
}

void TIconLibrary::LoadFromPEResources(const std::string& fileName) {
  TPEResourceModule module;
  try {
    module.LoadFromFile(fileName);
  } catch (const Exception&) {
    // A damaged image still lists the groups read before the fault; an image
    // that is no PE32 file lists none, and the scan has its turn.
  }
  ReadPEIconGroups(module, FIcons);
}

namespace {


bool IsScanWidth(uint32_t w) { return w == 16 || w == 24 || w == 32 || w == 48 || w == 64 || w == 128; }
bool IsScanDepth(uint16_t b) { return b == 1 || b == 4 || b == 8 || b == 24 || b == 32; }

// The bytes of an icon image of width w (square) at a depth: colour rows, mask
// rows and the header with its palette.
uint32_t ScannedImageSize(uint32_t w, uint16_t bits) {
  const uint32_t palette = bits == 1 ? 48 : bits == 4 ? 104 : bits == 8 ? 1064 : 40;
  return uint32_t(DwordRowSize(int(w), bits)) * w + uint32_t(DwordRowSize(int(w), 1)) * w + palette;
}

// A DIB of an icon at p: the head its directory entry would have, when the
// header looks like one and the image fits in the file.
bool DIBCandidate(const uint8_t* data, uint64_t size, uint64_t p, TIconEntryHead& head) {
  const uint8_t* h = data + p;
  const uint32_t w = ReadLE32(h + 4);
  const uint16_t bits = ReadLE16(h + 14);
  if (ReadLE32(h) != 40 || !IsScanWidth(w) || ReadLE32(h + 8) != 2 * w || ReadLE16(h + 12) != 1 || !IsScanDepth(bits) ||
      ReadLE32(h + 16) != 0 || ReadLE32(h + 20) >= size - p || ReadLE32(h + 36) > ReadLE32(h + 32))
    return false;
  head = TIconEntryHead{};
  head.bWidth = head.bHeight = static_cast<uint8_t>(w);
  head.bColorCount = static_cast<uint8_t>(ReadLE32(h + 32));
  head.wPlanes = 1;
  head.wBitCount = static_cast<int16_t>(bits);
  head.dwBytesInRes = ScannedImageSize(w, bits);
  return true;
}

}  // namespace

void TIconLibrary::ScanForImages(const std::string& fileName) {
  TMemoryStream file;
  file.LoadFromFile(fileName);
  const uint8_t* data = file.Memory();
  const uint64_t size = static_cast<uint64_t>(file.Size());
  const int n = FIcons.Count();
  TCustomMemoryStream view(data, file.Size());
  uint64_t p = 0;
  while (size > 500 && p < size - 500) {
    TIconEntryHead head;
    if (DIBCandidate(data, size, p, head)) {
      // A candidate that would reach past the end of the file is no image.
      if (head.dwBytesInRes > size - p) {
        ++p;
        continue;
      }
      try {
        view.SetPosition(static_cast<int64_t>(p));
        auto icon = std::make_unique<TAdvancedIcon>();
        icon->Images().Add(TSubIcon::CreateFromEntryAndStream<TSubIcon>(view, head));
        FIcons.AddIcon("", std::move(icon));
      } catch (const Exception&) {
      }
      p += head.dwBytesInRes;
    } else if (std::memcmp(data + p, kPngSignature, 8) == 0) {
      try {
        view.SetPosition(static_cast<int64_t>(p));
        TPNGImage png;
        png.LoadFromStream(view);
        const uint64_t end = static_cast<uint64_t>(view.Position());
        TBitmap bitmap, mask;
        png.ExtractBitmapAndMask(&bitmap, &mask, 80);
        auto icon = std::make_unique<TAdvancedIcon>();
        icon->Images().AddBitmap(&bitmap, &mask, 80);
        FIcons.AddIcon("", std::move(icon));
        p = std::max(end + 3, p + 8);
      } catch (const Exception&) {
        // Bytes that only look like a PNG are skipped like a bad DIB.
        p += 8;
      }
    } else if (std::memcmp(data + p, kPngSignature, 4) == 0) {
      p += 4;
    } else {
      ++p;
    }
  }
  MergeScannedIcons(n);
}

void TIconLibrary::MergeScannedIcons(int n) {
  bool merged = false;
  for (int i = FIcons.Count() - 1; i >= n + 1; --i) {
    TAdvancedIcon* later = FIcons.GetIconObject(i);
    TAdvancedIcon* earlier = FIcons.GetIconObject(i - 1);
    if (!later || !earlier || later->Count() < 1 || earlier->Count() != 1) continue;
    TSubIcon* l = later->Images()[0];
    TSubIcon* e = earlier->Images()[0];
    if (l->GetWidth() != l->GetHeight() || e->GetWidth() != e->GetHeight()) continue;
    if (l->GetWidth() == e->GetWidth()) continue;
    const int ld = l->GetBitsPerPixel(), ed = e->GetBitsPerPixel();
    const bool smallerSameDepth = l->GetWidth() < e->GetWidth() && ld == ed;
    const bool largerDeeper = l->GetWidth() > e->GetWidth() && ld > ed;
    if (!smallerSameDepth && !largerDeeper) continue;
    later->Images().Insert(0, earlier->Images().RemoveAt(0, false));
    FIcons.Delete(i - 1);
    merged = true;
  }
  if (merged)
    for (int i = n; i < FIcons.Count(); ++i) FIcons.SetStrings(i, "Icon " + std::to_string(i + 1));
}

// ---- cursor library -----------------------------------------------------------

bool TCursorLibrary::LoadFromFile(const std::string& fileName) {
  FFileName = fileName;
  FCursors.Clear();
  FIsMZ = IsExecutableImage(fileName, FIsPE);
  if (!FIsMZ) return false;
  std::unique_ptr<TICLReaderC> reader;
  if (FIsPE)
    reader = std::make_unique<T32BitReaderC>(fileName);
  else
    reader = std::make_unique<T16BitReaderC>(fileName);
  if (!reader->ReadLibrary()) return false;
  FCursors.TakeEntries(reader->Result());
  return true;
}

// ---- holder and helpers ---------------------------------------------------------

TIconListHolder::TIconListHolder(TComponent* owner) : TComponent(owner), FIconList(std::make_unique<TIconList>()) {}
TIconListHolder::~TIconListHolder() = default;

void TIconListHolder::DefineProperties(TFiler* filer) {
  TComponent::DefineProperties(filer);
  FIconList->DefineProperties(filer);
}

int IndexOfLibraryIcon(const std::string& fileName, const std::string& iconName) {
  TIconLibrary library;
  library.LoadWithReaders(fileName);
  for (int i = 0; i < library.Icons().Count(); ++i)
    if (library.Icons().Strings(i) == iconName) return i;
  return -1;
}

HICON GetLibraryIconHandle(const std::string& fileName, int index, int size, int bitsPerPixel) {
  TIconLibrary library;
  library.LoadFromFile(fileName);
  if (index < 0 || index >= library.Icons().Count()) return nullptr;
  TAdvancedIcon* icon = library.GetIcon(index);
  HICON handle = icon ? icon->GetBestHandle(size, size, bitsPerPixel) : nullptr;
  return handle ? CopyIcon(handle) : nullptr;
}

// ---- the platform's module loader and shell icons -------------------------------

namespace {

TResourceId ResourceIdOf(const std::string& text, bool isText) {
  const int64_t v = ResourceNameToNumber(text);
  if (!isText && v >= 0 && v <= 0xFFFF && std::to_string(v) == text) return TResourceId::FromInteger(WORD(v));
  TResourceId id;
  id.Name = text;
  return id;
}

std::unique_ptr<TModuleResources> LoadExecutableResources(const std::string& path) {
  TPEResourceModule module;
  module.LoadFromFile(path);  // a file that is no PE32 image is no module
  auto table = std::make_unique<TResourceTable>();
  for (int i = 0; i < module.GetResourceCount(); ++i) {
    TResourceDetails* r = module.GetResource(i);
    TMemoryStream& d = r->Data();
    table->Add(ResourceIdOf(r->ResourceType(), false), ResourceIdOf(r->Name(), r->NameIsText()),
               static_cast<WORD>(r->Language()), std::vector<uint8_t>(d.Memory(), d.Memory() + d.Size()));
  }
  return table;
}

bool IsIconFile(const std::string& path) {
  try {
    TFileStream f(path, fmOpenRead | fmShareDenyNone);
    uint8_t head[4] = {};
    if (f.Read(head, 4) != 4) return false;
    return head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0;
  } catch (const Exception&) {
    return false;
  }
}

// The shell's view of icons in files: executables and icon libraries hold one
// icon per group, icon and cursor files one.
class TExecutableIconSource : public TShellIconSource {
public:
  int IconCount(const std::string& path) override {
    bool is64Bit = false;
    const int n = CountIconGroupsInFile(path, is64Bit);
    if (n >= 0) return n;
    return IsIconFile(path) ? 1 : -1;
  }

  HICON Icon(const std::string& path, int index, int size) override {
    try {
      if (IsIconFile(path)) {
        if (index != 0) return nullptr;
        TAdvancedIcon icon;
        if (!icon.LoadFromFile(path)) return nullptr;
        HICON h = icon.GetBestHandle(size, size, 32);
        return h ? CopyIcon(h) : nullptr;
      }
      TIconLibrary library;
      library.LoadFromFile(path);
      int at = index;
      if (index < 0) at = library.Icons().IndexOf(std::to_string(-static_cast<int64_t>(index)));
      if (at < 0 || at >= library.Icons().Count()) return nullptr;
      HICON h = library.GetIcon(at)->GetBestHandle(size, size, 32);
      return h ? CopyIcon(h) : nullptr;
    } catch (const Exception&) {
      return nullptr;
    }
  }
};

}  // namespace

void RegisterExecutableLoaders() {
  static TExecutableIconSource source;
  SetDataFileLoader(&LoadExecutableResources);
  SetShellIconSource(&source);
}
