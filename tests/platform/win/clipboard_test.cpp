#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

using Bytes = std::vector<uint8_t>;

HGLOBAL Block(const Bytes& bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!bytes.empty()) {
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
  }
  return h;
}

HGLOBAL TextBlock(const std::string& text) { return Block(Bytes(text.c_str(), text.c_str() + text.size() + 1)); }

Bytes Contents(HANDLE h) {
  auto* p = static_cast<const uint8_t*>(GlobalLock(h));
  Bytes out(p, p + GlobalSize(h));
  GlobalUnlock(h);
  return out;
}

std::vector<UINT> Formats() {
  std::vector<UINT> out;
  for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) out.push_back(f);
  return out;
}

class Clipboard : public ::testing::Test {
protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    SetClipboardHeldByOtherWindow(false);
    SetClipboardMirror(nullptr);
    while (CloseClipboard()) {
    }
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
  }
};

const HWND kWindow = reinterpret_cast<HWND>(uintptr_t{0x1234});

}  // namespace

TEST(ClipboardFormats, RegisteredNamesGetOneNumberEachFromC000) {
  UINT a = RegisterClipboardFormat("Quorvane Test Format A");
  UINT b = RegisterClipboardFormat("Quorvane Test Format B");
  EXPECT_GE(a, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterClipboardFormat("QUORVANE test format a"), a);
  char name[64];
  EXPECT_EQ(GetClipboardFormatName(a, name, sizeof name), 22);
  EXPECT_STREQ(name, "Quorvane Test Format A");  // the first spelling stays
  EXPECT_EQ(GetClipboardFormatNameA(a, name, 5), 4);
  EXPECT_STREQ(name, "Quor");
  EXPECT_EQ(GetClipboardFormatName(CF_DIB, name, sizeof name), 0);
  EXPECT_EQ(GetClipboardFormatName(0xFFFF, name, sizeof name), 0);
  EXPECT_EQ(RegisterClipboardFormat(""), 0u);
  EXPECT_EQ(RegisterClipboardFormat(nullptr), 0u);
}

TEST(ClipboardFormats, PredefinedNumbersAreTheDocumentedOnes) {
  const std::pair<UINT, UINT> table[] = {{CF_TEXT, 1},         {CF_BITMAP, 2},      {CF_METAFILEPICT, 3},
                                         {CF_DIB, 8},          {CF_PALETTE, 9},     {CF_UNICODETEXT, 13},
                                         {CF_ENHMETAFILE, 14}, {CF_HDROP, 15},      {CF_LOCALE, 16},
                                         {CF_DIBV5, 17}};
  for (auto [value, documented] : table) EXPECT_EQ(value, documented);
}

// Once on the clipboard a block is the clipboard's: the caller cannot free it,
// and emptying or replacing frees it without anyone's help.
TEST_F(Clipboard, SetBlocksBelongToTheClipboard) {
  size_t baseline = GlobalBlockCount();
  ASSERT_TRUE(OpenClipboard(kWindow));
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_EQ(GetClipboardOwner(), kWindow);
  HGLOBAL first = Block({1, 2, 3});
  EXPECT_EQ(SetClipboardData(CF_DIB, first), first);
  EXPECT_EQ(GlobalFree(first), first);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GlobalReAlloc(first, 100, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalSize(first), 3u);
  EXPECT_EQ(Contents(GetClipboardData(CF_DIB)), (Bytes{1, 2, 3}));

  HGLOBAL second = Block({4});
  EXPECT_EQ(SetClipboardData(CF_DIB, second), second);
  EXPECT_EQ(GlobalBlockCount(), baseline + 1);  // the first one went
  EXPECT_EQ(GetClipboardData(CF_DIB), second);
  // The same block under a second format would be freed twice.
  EXPECT_EQ(SetClipboardData(CF_RIFF, second), nullptr);
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_EQ(GlobalBlockCount(), baseline);
  EXPECT_TRUE(CloseClipboard());
}

TEST_F(Clipboard, CallsOnAClosedClipboardFailAndLeaveTheBlockToTheCaller) {
  HGLOBAL block = Block({1});
  EXPECT_EQ(SetClipboardData(CF_DIB, block), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  EXPECT_EQ(GetClipboardData(CF_DIB), nullptr);
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_EQ(EnumClipboardFormats(0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  EXPECT_FALSE(CloseClipboard());
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  EXPECT_EQ(GlobalFree(block), nullptr);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_EQ(SetClipboardData(CF_DIB, reinterpret_cast<HANDLE>(uintptr_t{0x99})), nullptr);  // no block
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseClipboard();
}

TEST_F(Clipboard, HeldByAnotherWindowRefusesToOpen) {
  SetClipboardHeldByOtherWindow(true);
  EXPECT_FALSE(OpenClipboard(kWindow));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_NE(GetOpenClipboardWindow(), nullptr);
  SetClipboardHeldByOtherWindow(false);
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
  EXPECT_TRUE(OpenClipboard(kWindow));
  EXPECT_EQ(GetOpenClipboardWindow(), kWindow);
  EXPECT_TRUE(CloseClipboard());
}

TEST_F(Clipboard, AnotherThreadCannotOpenWhileItIsOpen) {
  ASSERT_TRUE(OpenClipboard(kWindow));
  EXPECT_TRUE(OpenClipboard(kWindow));  // the same thread again is fine
  BOOL otherResult = TRUE;
  std::thread([&] { otherResult = OpenClipboard(nullptr); }).join();
  EXPECT_FALSE(otherResult);
  EXPECT_TRUE(CloseClipboard());
  std::thread([&] {
    otherResult = OpenClipboard(nullptr);
    CloseClipboard();
  }).join();
  EXPECT_TRUE(otherResult);
}

TEST_F(Clipboard, FormatsEnumerateInTheOrderTheyWerePut) {
  UINT png = RegisterClipboardFormat("PNG");
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  SetClipboardData(png, Block({0x89}));
  SetClipboardData(CF_DIB, Block({1}));
  SetClipboardData(CF_LOCALE, Block({0x19, 0x04, 0, 0}));
  SetClipboardData(png, Block({0x90}));  // replacing keeps the place
  EXPECT_EQ(Formats(), (std::vector<UINT>{png, CF_DIB, CF_LOCALE}));
  EXPECT_EQ(EnumClipboardFormats(CF_LOCALE), 0u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseClipboard();
  // Availability needs no open clipboard.
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_BITMAP));
  EXPECT_EQ(CountClipboardFormats(), 3);
}

// Text put as CF_TEXT (UTF-8 here) can be read as CF_UNICODETEXT and the other
// way round, and the made copy is freed with the rest.
TEST_F(Clipboard, TextFormatsAreMadeFromEachOther) {
  size_t baseline = GlobalBlockCount();
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  SetClipboardData(CF_TEXT, TextBlock("Gr\xC3\xBC\xC3\x9F"));
  EXPECT_EQ(Formats(), (std::vector<UINT>{CF_TEXT, CF_UNICODETEXT, CF_OEMTEXT}));
  HANDLE wide = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(Contents(wide), (Bytes{'G', 0, 'r', 0, 0xFC, 0, 0xDF, 0, 0, 0}));
  EXPECT_EQ(GlobalFree(wide), wide);  // the clipboard's, like any other
  EmptyClipboard();
  EXPECT_EQ(GlobalBlockCount(), baseline);

  SetClipboardData(CF_UNICODETEXT, Block({'h', 0, 'i', 0, 0, 0, 'x', 0}));
  EXPECT_EQ(Contents(GetClipboardData(CF_TEXT)), (Bytes{'h', 'i', 0}));
  CloseClipboard();
}

TEST_F(Clipboard, ObjectFormatsAreReleasedThroughTheDrawingLayer) {
  std::vector<HANDLE> released;
  SetClipboardObjectReleaser(CF_BITMAP, [&](HANDLE h) { released.push_back(h); });
  HANDLE bitmap = reinterpret_cast<HANDLE>(uintptr_t{0x5000});
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  EXPECT_EQ(SetClipboardData(CF_BITMAP, bitmap), bitmap);
  EXPECT_EQ(GetClipboardData(CF_BITMAP), bitmap);
  EmptyClipboard();
  CloseClipboard();
  SetClipboardObjectReleaser(CF_BITMAP, nullptr);
  EXPECT_EQ(released, std::vector<HANDLE>{bitmap});
}

TEST_F(Clipboard, SynthesizersRegisteredLaterAreOffered) {
  SetClipboardSynthesizer(CF_DIB, CF_BITMAP, [](HANDLE) { return Block({7, 7}); });
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  SetClipboardData(CF_BITMAP, reinterpret_cast<HANDLE>(uintptr_t{0x5000}));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
  EXPECT_EQ(Contents(GetClipboardData(CF_DIB)), (Bytes{7, 7}));
  EmptyClipboard();
  CloseClipboard();
  SetClipboardSynthesizer(CF_DIB, CF_BITMAP, nullptr);
}

namespace {
struct CountingMirror : TClipboardMirror {
  int opens = 0;
  int changes = 0;
  void BeforeOpen() override { ++opens; }
  void ContentsChanged() override { ++changes; }
};
}  // namespace

TEST_F(Clipboard, MirrorHearsOfChangesAndCanPutContentsIn) {
  CountingMirror mirror;
  SetClipboardMirror(&mirror);
  ASSERT_TRUE(OpenClipboard(nullptr));
  CloseClipboard();
  EXPECT_EQ(mirror.opens, 1);
  EXPECT_EQ(mirror.changes, 0);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  SetClipboardData(CF_DIB, Block({1, 2}));
  EXPECT_FALSE(ReplaceClipboardContents({}));  // not while open
  CloseClipboard();
  EXPECT_EQ(mirror.changes, 1);
  auto snapshot = ClipboardSnapshot();
  ASSERT_EQ(snapshot.size(), 1u);
  EXPECT_EQ(snapshot[0].Format, CF_DIB);
  EXPECT_EQ(snapshot[0].Data, (Bytes{1, 2}));

  DWORD sequence = GetClipboardSequenceNumber();
  EXPECT_TRUE(ReplaceClipboardContents({{CF_TEXT, {'x', 0}}, {CF_TEXT, {'y', 0}}}));
  EXPECT_NE(GetClipboardSequenceNumber(), sequence);
  EXPECT_EQ(GetClipboardOwner(), nullptr);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_EQ(Contents(GetClipboardData(CF_TEXT)), (Bytes{'x', 0}));
  CloseClipboard();
}

TEST(GlobalMemory, LockCountsSizesAndFlags) {
  HGLOBAL h = GlobalAlloc(GHND, 16);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 16u);
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Bytes(p, p + 16), Bytes(16, 0));
  EXPECT_EQ(GlobalLock(h), p);
  EXPECT_TRUE(GlobalUnlock(h));   // still locked once
  EXPECT_FALSE(GlobalUnlock(h));  // last lock
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);

  HGLOBAL grown = GlobalReAlloc(h, 32, GMEM_ZEROINIT);
  EXPECT_EQ(grown, h);  // a moveable block keeps its handle
  EXPECT_EQ(GlobalSize(h), 32u);
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(GlobalSize(h), 0u);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GlobalFree(h), h);

  // A fixed block's handle is its address.
  HGLOBAL fixed = GlobalAlloc(GPTR, 4);
  EXPECT_EQ(GlobalLock(fixed), fixed);
  EXPECT_EQ(GlobalReAlloc(fixed, 64, 0), nullptr);  // may not move
  EXPECT_EQ(GlobalSize(fixed), 4u);
  HGLOBAL moved = GlobalReAlloc(fixed, 64, GMEM_MOVEABLE);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(GlobalSize(moved), 64u);
  EXPECT_EQ(GlobalFree(moved), nullptr);

  EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, SIZE_T{0x80000000}), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  EXPECT_EQ(GlobalLock(empty), nullptr);
  EXPECT_EQ(GlobalFree(empty), nullptr);
}
