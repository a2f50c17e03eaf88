#include "platform/win/clipboard.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/win/global_memory.h"
#include "platform/win/utf16_text.h"

namespace {

constexpr UINT kFirstRegistered = 0xC000;
constexpr UINT kLastRegistered = 0xFFFF;
// What GetOpenClipboardWindow reports while the test switch says another
// program holds the clipboard.
const HWND kOtherWindow = reinterpret_cast<HWND>(uintptr_t{0xC11B0A2D});

struct TEntry {
  UINT Format = 0;
  HANDLE Data = nullptr;
  bool Synthesized = false;
};

struct TSynthesis {
  UINT Target;
  UINT Source;
  TClipboardSynthesizer Maker;
};

struct TState {
  bool Open = false;
  std::thread::id Opener;
  HWND OpenWindow = nullptr;
  HWND Owner = nullptr;
  bool Changed = false;
  bool HeldByOther = false;
  DWORD Sequence = 0;
  std::vector<TEntry> Entries;
  std::vector<std::string> Names;  // format 0xC000 + i
  std::map<UINT, std::function<void(HANDLE)>> Releasers;
  std::vector<TSynthesis> Syntheses;
  TClipboardMirror* Mirror = nullptr;
};

std::mutex gLock;

bool IsObjectFormat(UINT format) {
  return format == CF_BITMAP || format == CF_PALETTE || format == CF_ENHMETAFILE || format == CF_DSPBITMAP ||
         format == CF_DSPENHMETAFILE || (format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST);
}

// The text of a block up to its first terminator, never past its end.
std::string BlockText(HANDLE block) {
  auto* p = static_cast<const char*>(GlobalLock(block));
  if (!p) return std::string();
  std::string text(p, strnlen(p, GlobalSize(block)));
  GlobalUnlock(block);
  return text;
}

HANDLE NewBlock(const void* data, size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return nullptr;
  if (size > 0) {
    std::memcpy(GlobalLock(block), data, size);
    GlobalUnlock(block);
  }
  return block;
}

HANDLE TextFromUnicode(HANDLE source) {
  auto* p = static_cast<const uint8_t*>(GlobalLock(source));
  if (!p) return nullptr;
  size_t size = GlobalSize(source) & ~size_t{1};
  size_t end = 0;
  while (end < size && (p[end] || p[end + 1])) end += 2;
  std::string text = Utf16LEToUtf8(p, end);
  GlobalUnlock(source);
  return NewBlock(text.c_str(), text.size() + 1);
}

HANDLE UnicodeFromText(HANDLE source) {
  std::vector<uint8_t> wide = Utf8ToUtf16LE(BlockText(source));
  wide.push_back(0);
  wide.push_back(0);
  return NewBlock(wide.data(), wide.size());
}

HANDLE CopyText(HANDLE source) {
  std::string text = BlockText(source);
  return NewBlock(text.c_str(), text.size() + 1);
}

TState& State() {
  static TState state = [] {
    TState s;
    // Text in our single-byte code page is UTF-8, so text formats convert freely.
    s.Syntheses.push_back({CF_UNICODETEXT, CF_TEXT, UnicodeFromText});
    s.Syntheses.push_back({CF_TEXT, CF_UNICODETEXT, TextFromUnicode});
    s.Syntheses.push_back({CF_OEMTEXT, CF_TEXT, CopyText});
    s.Syntheses.push_back({CF_OEMTEXT, CF_UNICODETEXT, TextFromUnicode});
    return s;
  }();
  return state;
}

bool OpenedHere(const TState& s) { return s.Open && s.Opener == std::this_thread::get_id(); }

TEntry* FindEntry(TState& s, UINT format) {
  auto it = std::find_if(s.Entries.begin(), s.Entries.end(), [&](const TEntry& e) { return e.Format == format; });
  return it == s.Entries.end() ? nullptr : &*it;
}

void ReleaseData(TState& s, UINT format, HANDLE data) {
  if (!data) return;
  auto it = s.Releasers.find(format);
  bool released = it != s.Releasers.end() && it->second;
  if (released) it->second(data);
  // A block that holds a handle of its own (CF_METAFILEPICT) has its releaser
  // free the handle; the block itself is always the clipboard's to free.
  if (!IsObjectFormat(format)) FreeClipboardOwnedBlock(data);
}

void ReleaseAll(TState& s) {
  for (const auto& e : s.Entries) ReleaseData(s, e.Format, e.Data);
  s.Entries.clear();
}

// Made formats go stale when a real one changes.
void DropSynthesized(TState& s) {
  for (const auto& e : s.Entries)
    if (e.Synthesized) ReleaseData(s, e.Format, e.Data);
  s.Entries.erase(std::remove_if(s.Entries.begin(), s.Entries.end(), [](const TEntry& e) { return e.Synthesized; }),
                  s.Entries.end());
}

const TSynthesis* SynthesisFor(TState& s, UINT target) {
  for (const auto& syn : s.Syntheses) {
    const TEntry* source = FindEntry(s, syn.Source);
    if (syn.Target == target && source && !source->Synthesized && source->Data) return &syn;
  }
  return nullptr;
}

// Formats in the order they were put, then those that could be made from them.
std::vector<UINT> AvailableFormats(TState& s) {
  std::vector<UINT> formats;
  for (const auto& e : s.Entries) formats.push_back(e.Format);
  for (const auto& syn : s.Syntheses)
    if (std::find(formats.begin(), formats.end(), syn.Target) == formats.end() && SynthesisFor(s, syn.Target))
      formats.push_back(syn.Target);
  return formats;
}

bool RequireOpen(const TState& s) {
  if (OpenedHere(s)) return true;
  SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
  return false;
}

}  // namespace

BOOL OpenClipboard(HWND newOwner) {
  TClipboardMirror* mirror = nullptr;
  {
    std::lock_guard<std::mutex> lock(gLock);
    mirror = State().Mirror;
  }
  if (mirror) mirror->BeforeOpen();
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (s.HeldByOther || (s.Open && s.Opener != std::this_thread::get_id())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!s.Open) s.Changed = false;
  s.Open = true;
  s.Opener = std::this_thread::get_id();
  s.OpenWindow = newOwner;
  return TRUE;
}

BOOL CloseClipboard() {
  TClipboardMirror* mirror = nullptr;
  {
    std::lock_guard<std::mutex> lock(gLock);
    TState& s = State();
    if (!RequireOpen(s)) return FALSE;
    s.Open = false;
    s.OpenWindow = nullptr;
    if (s.Changed) mirror = s.Mirror;
    s.Changed = false;
  }
  if (mirror) mirror->ContentsChanged();
  return TRUE;
}

BOOL EmptyClipboard() {
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (!RequireOpen(s)) return FALSE;
  ReleaseAll(s);
  s.Owner = s.OpenWindow;
  s.Changed = true;
  ++s.Sequence;
  return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (!RequireOpen(s)) return nullptr;
  if (format == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (data) {
    bool sameEntry = false;
    for (const auto& e : s.Entries) {
      if (e.Data != data) continue;
      if (e.Format != format) {  // one block cannot be owned twice
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      sameEntry = true;
    }
    if (sameEntry) return data;
    if (!IsObjectFormat(format) && !IsGlobalBlock(data)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  DropSynthesized(s);
  if (TEntry* old = FindEntry(s, format)) {
    ReleaseData(s, format, old->Data);
    old->Data = data;
  } else {
    s.Entries.push_back(TEntry{format, data, false});
  }
  if (data && !IsObjectFormat(format)) SetGlobalBlockOwnedByClipboard(data, true);
  s.Changed = true;
  ++s.Sequence;
  return data;
}

HANDLE GetClipboardData(UINT format) {
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (!RequireOpen(s)) return nullptr;
  if (TEntry* e = FindEntry(s, format)) return e->Data;
  const TSynthesis* syn = SynthesisFor(s, format);
  if (!syn) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  HANDLE made = syn->Maker(FindEntry(s, syn->Source)->Data);
  if (!made) return nullptr;
  if (!IsObjectFormat(format)) SetGlobalBlockOwnedByClipboard(made, true);
  s.Entries.push_back(TEntry{format, made, true});
  return made;
}

UINT EnumClipboardFormats(UINT format) {
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (!RequireOpen(s)) return 0;
  std::vector<UINT> formats = AvailableFormats(s);
  SetLastError(ERROR_SUCCESS);
  if (format == 0) return formats.empty() ? 0 : formats.front();
  auto it = std::find(formats.begin(), formats.end(), format);
  if (it == formats.end() || ++it == formats.end()) return 0;
  return *it;
}

int CountClipboardFormats() {
  std::lock_guard<std::mutex> lock(gLock);
  return static_cast<int>(AvailableFormats(State()).size());
}

BOOL IsClipboardFormatAvailable(UINT format) {
  std::lock_guard<std::mutex> lock(gLock);
  std::vector<UINT> formats = AvailableFormats(State());
  return std::find(formats.begin(), formats.end(), format) != formats.end() ? TRUE : FALSE;
}

UINT RegisterClipboardFormat(const char* formatName) {
  if (!formatName || !*formatName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string name(formatName);
  auto upper = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
  };
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  for (size_t i = 0; i < s.Names.size(); ++i)
    if (upper(s.Names[i]) == upper(name)) return kFirstRegistered + static_cast<UINT>(i);
  if (kFirstRegistered + s.Names.size() > kLastRegistered) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  s.Names.push_back(name);
  return kFirstRegistered + static_cast<UINT>(s.Names.size() - 1);
}

int GetClipboardFormatName(UINT format, char* formatName, int maxCount) {
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (format < kFirstRegistered || format - kFirstRegistered >= s.Names.size() || !formatName || maxCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string& name = s.Names[format - kFirstRegistered];
  size_t n = std::min(name.size(), static_cast<size_t>(maxCount - 1));
  std::memcpy(formatName, name.data(), n);
  formatName[n] = 0;
  return static_cast<int>(n);
}

HWND GetClipboardOwner() {
  std::lock_guard<std::mutex> lock(gLock);
  return State().Owner;
}

HWND GetOpenClipboardWindow() {
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (s.HeldByOther) return kOtherWindow;
  return s.Open ? s.OpenWindow : nullptr;
}

DWORD GetClipboardSequenceNumber() {
  std::lock_guard<std::mutex> lock(gLock);
  return State().Sequence;
}

void SetClipboardHeldByOtherWindow(bool held) {
  std::lock_guard<std::mutex> lock(gLock);
  State().HeldByOther = held;
}

void SetClipboardObjectReleaser(UINT format, std::function<void(HANDLE)> releaser) {
  std::lock_guard<std::mutex> lock(gLock);
  State().Releasers[format] = std::move(releaser);
}

void SetClipboardSynthesizer(UINT target, UINT source, TClipboardSynthesizer maker) {
  std::lock_guard<std::mutex> lock(gLock);
  auto& list = State().Syntheses;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const TSynthesis& s) { return s.Target == target && s.Source == source; }),
             list.end());
  if (maker) list.push_back({target, source, std::move(maker)});
}

void SetClipboardMirror(TClipboardMirror* mirror) {
  std::lock_guard<std::mutex> lock(gLock);
  State().Mirror = mirror;
}

std::vector<TClipboardItem> ClipboardSnapshot() {
  std::lock_guard<std::mutex> lock(gLock);
  std::vector<TClipboardItem> items;
  for (const auto& e : State().Entries) {
    if (e.Synthesized || !e.Data || IsObjectFormat(e.Format)) continue;
    TClipboardItem item;
    item.Format = e.Format;
    SIZE_T size = GlobalSize(e.Data);
    if (auto* p = static_cast<const uint8_t*>(GlobalLock(e.Data))) {
      item.Data.assign(p, p + size);
      GlobalUnlock(e.Data);
    }
    items.push_back(std::move(item));
  }
  return items;
}

bool ReplaceClipboardContents(const std::vector<TClipboardItem>& items) {
  std::lock_guard<std::mutex> lock(gLock);
  TState& s = State();
  if (s.Open) return false;
  std::vector<TEntry> entries;
  for (const auto& item : items) {
    if (IsObjectFormat(item.Format) || item.Format == 0) continue;
    bool seen = std::any_of(entries.begin(), entries.end(), [&](const TEntry& e) { return e.Format == item.Format; });
    if (seen) continue;
    HANDLE block = NewBlock(item.Data.data(), item.Data.size());
    if (!block) {
      for (const auto& e : entries) GlobalFree(e.Data);
      return false;
    }
    entries.push_back(TEntry{item.Format, block, false});
  }
  ReleaseAll(s);
  for (const auto& e : entries) SetGlobalBlockOwnedByClipboard(e.Data, true);
  s.Entries = std::move(entries);
  s.Owner = nullptr;
  ++s.Sequence;
  return true;
}
