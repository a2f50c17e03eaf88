// RES files from windres and from the test's own bytes, and DCR files, read
// into resource modules and icon and cursor libraries.
#include "icons/res_module.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "icons/icon_library.h"
#include "icon_test_util.h"
#include "mingw_samples.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using icontest::DibImage;
using icontest::IcoFile;

Bytes ModuleBytes(TResModule& m) {
  TMemoryStream s;
  m.SaveToStream(s);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

void LoadBytes(TResModule& m, const Bytes& b) {
  TCustomMemoryStream s(b.data(), int64_t(b.size()));
  m.LoadFromStream(s);
}

std::vector<std::string> Names(const TIconList& list) {
  std::vector<std::string> n;
  for (int i = 0; i < list.Count(); ++i) n.push_back(list.Strings(i));
  return n;
}

std::vector<int> Counts(TIconList& list) {
  std::vector<int> n;
  for (int i = 0; i < list.Count(); ++i) n.push_back(list.GetIconObject(i)->Count());
  return n;
}

// A RES and an EXE compiled from the same script: icon groups named and
// numbered, in two languages, cursors and a bitmap.
class ResFixture : public mingwtest::SampleSuite<ResFixture> {
protected:
  static void SetUpTestSuite() {
    RegisterExecutableLoaders();
    Make(
        [](const qvtest::TempDir& d) {
          Bytes bmp = {'B', 'M'};
          const Bytes dib = DibImage(24, 24, 8, 0x55, icontest::kKeep, 24);
          bmp.resize(14, 0);
          icontest::Put32(bmp, 2, uint32_t(14 + dib.size()));
          icontest::Put32(bmp, 10, 14 + 40 + 1024);
          bmp.insert(bmp.end(), dib.begin(), dib.begin() + 40 + 1024 + 24 * 24);
          qvtest::WriteFileBytes(d.File("l.bmp"), bmp);
          mingwtest::WriteText(d.File("r.rc"),
                               "MAINICON ICON \"a.ico\"\n2 ICON \"b.ico\"\nPOINTER CURSOR \"p.cur\"\nLOGO BITMAP \"l.bmp\"\n"
                               "LANGUAGE 7, 1\nGERMAN ICON \"c.ico\"\n");
        },
        "i686-w64-mingw32-windres r.rc -O res -o r.res && i686-w64-mingw32-windres r.rc -O coff -o r.o && "
        "i686-w64-mingw32-gcc -s m.c r.o -o t.exe");
    if (built) res = dir->File("r.res"), exe = dir->File("t.exe");
  }
  static inline std::string res, exe;
};

TEST_F(ResFixture, OracleImportsEveryGroupAsTheExecutableHoldsIt) {
  TIconLibrary fromRes, fromExe;
  ImportResIcons(res, fromRes);
  fromExe.LoadFromFile(exe);
  // windres sorts by type, so every image stands before every group. Each
  // group is listed with the images the executable gives it (checked against
  // wrestool elsewhere); the cursor group is listed as an icon, the bitmap as
  // a one-image icon.
  EXPECT_EQ(Names(fromRes.Icons()), (std::vector<std::string>{"LOGO", "POINTER", "GERMAN", "MAINICON", "2"}));
  for (int i = 0; i < fromExe.Icons().Count(); ++i) {
    const int at = fromRes.Icons().IndexOf(fromExe.Icons().Strings(i));
    ASSERT_GE(at, 0);
    TAdvancedIcon* a = fromExe.GetIcon(i);
    TAdvancedIcon* b = fromRes.GetIcon(at);
    ASSERT_EQ(a->Count(), b->Count());
    for (int k = 0; k < a->Count(); ++k) EXPECT_EQ(a->Images()[k]->Bits(), b->Images()[k]->Bits());
  }
  TAdvancedIcon* logo = fromRes.GetIcon(0);
  ASSERT_EQ(logo->Count(), 1);
  EXPECT_EQ(logo->Images()[0]->GetWidth(), 24);

  TCursorLibrary cursors;
  ImportResCursors(res, cursors);
  ASSERT_EQ(Names(cursors.Cursors()), std::vector<std::string>{"POINTER"});
  TSubIcon* c = cursors.GetCursor(0)->Images()[0];
  EXPECT_EQ(c->HotspotX(), 3);
  EXPECT_EQ(c->HotspotY(), 4);
  EXPECT_NE(dynamic_cast<TAdvancedCursor*>(cursors.GetCursor(0)), nullptr);
}

TEST_F(ResFixture, ReadAndWrittenBackByteForByte) {
  const Bytes original = qvtest::ReadFileBytes(res);
  TResModule m;
  LoadBytes(m, original);
  EXPECT_FALSE(m.NoLeadingEntry());
  EXPECT_EQ(ModuleBytes(m), original);
  TResourceDetails* german = m.FindByTypeAndName("14", "GERMAN");
  ASSERT_NE(german, nullptr);
  EXPECT_EQ(german->Language(), 0x407u);
}

TEST_F(ResFixture, GroupsBeforeTheirImagesKeepThem) {
  // The same resources in the opposite order: every group before its images.
  TResModule m, reversed;
  LoadBytes(m, qvtest::ReadFileBytes(res));
  for (int i = m.GetResourceCount() - 1; i >= 0; --i) {
    TResourceDetails* r = m.GetResource(i);
    reversed.AddResource(CreateResourceDetailsByType(&reversed, r->Language(), r->Name(), r->ResourceType(),
                                                     size_t(r->Data().Size()), r->Data().Memory()));
  }
  const std::string file = dir->File("reversed.res");
  qvtest::WriteFileBytes(file, ModuleBytes(reversed));
  TIconLibrary library;
  ImportResIcons(file, library);
  EXPECT_EQ(Names(library.Icons()), (std::vector<std::string>{"2", "MAINICON", "GERMAN", "POINTER", "LOGO"}));
  EXPECT_EQ(Counts(library.Icons()), (std::vector<int>{2, 2, 1, 1, 1}));
}

// ---- RES files made here -------------------------------------------------------------

struct Res {
  Bytes bytes = Bytes(32, 0);
  Res() {
    icontest::Put32(bytes, 4, 32);
    icontest::Put32(bytes, 8, 0xFFFF);
    icontest::Put32(bytes, 12, 0xFFFF);
  }
  void Add(uint16_t type, uint16_t id, const std::string& name, const Bytes& data) {
    Bytes h;
    auto put16 = [&](uint16_t v) { h.push_back(uint8_t(v)), h.push_back(uint8_t(v >> 8)); };
    put16(0xFFFF), put16(type);
    if (name.empty()) {
      put16(0xFFFF), put16(id);
    } else {
      for (char ch : name) put16(uint8_t(ch));
      put16(0);
    }
    while ((h.size() + 8) % 4) h.push_back(0);
    h.resize(h.size() + 16, 0);
    icontest::Put16(h, h.size() - 10, 0x409);
    Bytes e(8, 0);
    icontest::Put32(e, 0, uint32_t(data.size()));
    icontest::Put32(e, 4, uint32_t(h.size() + 8));
    bytes.insert(bytes.end(), e.begin(), e.end());
    bytes.insert(bytes.end(), h.begin(), h.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
  }
};

Bytes Group(const std::vector<uint16_t>& ids, const std::vector<Bytes>& images, uint16_t type = 1) {
  Bytes g(6 + 14 * ids.size(), 0);
  icontest::Put16(g, 2, type);
  icontest::Put16(g, 4, uint32_t(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i) {
    g[6 + 14 * i] = uint8_t(icontest::Get32(images[i], 4));
    icontest::Put32(g, 6 + 14 * i + 8, uint32_t(images[i].size()));
    icontest::Put16(g, 6 + 14 * i + 12, ids[i]);
  }
  return g;
}

std::string WriteTemp(qvtest::TempDir& dir, const std::string& name, const Bytes& b) {
  qvtest::WriteFileBytes(dir.File(name), b);
  return dir.File(name);
}

TEST(ResImport, StrayImagesAndBitmaps) {
  const Bytes a = DibImage(32, 32, 8), b = DibImage(16, 16, 8), c = DibImage(16, 16, 4);
  Res r;
  r.Add(3, 1, "", a);
  r.Add(3, 2, "", b);
  r.Add(14, 0, "MAINICON", Group({1, 2}, {a, b}));
  r.Add(3, 3, "", c);
  qvtest::TempDir dir;
  TIconLibrary library;
  ImportResIcons(WriteTemp(dir, "a.res", r.bytes), library);
  EXPECT_EQ(Names(library.Icons()), (std::vector<std::string>{"MAINICON", "Icon 2"}));
  EXPECT_EQ(Counts(library.Icons()), (std::vector<int>{2, 1}));

  // A bitmap after a group is an entry of its own, under its name.
  const Bytes dib = DibImage(20, 20, 8, 0x33, icontest::kKeep, 20);
  r.Add(2, 0, "LOGO", Bytes(dib.begin(), dib.begin() + 40 + 1024 + 20 * 20));
  TIconLibrary more;
  ImportResIcons(WriteTemp(dir, "b.res", r.bytes), more);
  EXPECT_EQ(Names(more.Icons()), (std::vector<std::string>{"MAINICON", "Icon 2", "LOGO"}));
}

TEST(ResImport, HandScanTakesDIBEntriesTheModuleIgnores) {
  Res r;
  r.Add(10, 0, "PIC", DibImage(32, 32, 8, 0x44, icontest::kKeep, 32));
  qvtest::TempDir dir;
  TIconLibrary library;
  ImportResIcons(WriteTemp(dir, "raw.res", r.bytes), library);
  ASSERT_EQ(Names(library.Icons()), std::vector<std::string>{"PIC"});
  EXPECT_EQ(library.GetIcon(0)->Images()[0]->GetWidth(), 32);
}

TEST(ResModule, NamesThatAreNoOrdinalsStayNames) {
  TResModule m;
  const Bytes data = {1, 2, 3};
  for (const char* name : {"70000", "NAME", "123", "65535"})
    m.AddResource(std::make_unique<TResourceDetails>(&m, 0x409, name, "10", data.size(), data.data()));
  m.AddResource(std::make_unique<TResourceDetails>(&m, 0x409, "X", "99999", data.size(), data.data()));
  const Bytes written = ModuleBytes(m);
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 32), Res().bytes);  // the empty entry first
  TResModule back;
  LoadBytes(back, written);
  ASSERT_EQ(back.GetResourceCount(), 5);
  EXPECT_EQ(back.GetResource(0)->Name(), "70000");
  EXPECT_EQ(back.GetResource(2)->Name(), "123");
  EXPECT_EQ(back.GetResource(3)->Name(), "65535");
  EXPECT_EQ(back.GetResource(4)->ResourceType(), "99999");
  EXPECT_EQ(back.GetResource(4)->Data().Size(), 3);
  // "70000" went out as text, "123" as an ordinal.
  EXPECT_EQ(ModuleBytes(back), written);
}

TEST(ResModule, HostileFilesFailCleanly) {
  const Bytes a = DibImage(16, 16, 4);
  Res good;
  good.Add(3, 1, "", a);
  good.Add(14, 0, "G", Group({1}, {a}));
  const size_t e1 = 32;  // the first real entry
  struct Case {
    const char* what;
    std::function<void(Bytes&)> mutate;
    const char* reason;  // the rule that fired, as the refusal names it
  } cases[] = {
      {"data size past the end", [](Bytes& b) { icontest::Put32(b, e1, 0xFFFFFFF0u); }, "the data runs past the end"},
      {"header size past the end", [](Bytes& b) { icontest::Put32(b, e1 + 4, 0x7FFFFFFF); },
       "a header runs past the end"},
      {"header too small to move on", [](Bytes& b) { icontest::Put32(b, e1 + 4, 0); },
       "a header shorter than 32 bytes"},
      {"unterminated name",
       [](Bytes& b) {
         icontest::Put32(b, e1 + 4, 32);
         for (size_t k = e1 + 8; k < e1 + 32; k += 4) icontest::Put32(b, k, 0x00410041);
       },
       "a type or name runs past its header"},
      {"cut inside an entry", [](Bytes& b) { b.resize(e1 + 20); }, "a header runs past the end"},
  };
  qvtest::TempDir dir;
  for (const Case& c : cases) {
    Bytes b = good.bytes;
    c.mutate(b);
    TResModule m;
    try {
      LoadBytes(m, b);
      ADD_FAILURE() << c.what;
    } catch (const EResEntryRefused& e) {
      EXPECT_STREQ(e.Reason(), c.reason) << c.what;
      EXPECT_STREQ(e.what(), "RES entry lies outside the file") << c.what;
    }
    TIconLibrary library;
    EXPECT_NO_THROW(ImportResIcons(WriteTemp(dir, "h.res", b), library)) << c.what;
    TCursorLibrary cursors;
    EXPECT_NO_THROW(ImportResCursors(dir.File("h.res"), cursors)) << c.what;
  }
  // A group that claims 65535 images names only those its data holds.
  Bytes g = Group({1}, {a});
  icontest::Put16(g, 4, 0xFFFF);
  Res big;
  big.Add(3, 1, "", a);
  big.Add(14, 0, "G", g);
  TIconLibrary library;
  ImportResIcons(WriteTemp(dir, "g.res", big.bytes), library);
  EXPECT_EQ(Counts(library.Icons()), std::vector<int>{1});
}

// ---- DCR -------------------------------------------------------------------------------

Bytes Dcr(const std::string& name, uint16_t bits, uint32_t sizeImage, int side = 16) {
  Bytes d;
  d.reserve(2048);
  d.insert(d.end(), {0xFF, 2, 0});
  d.insert(d.end(), name.begin(), name.end());
  d.push_back(0);
  const size_t colours = size_t(1) << bits;
  const size_t rows = size_t((side * bits + 31) / 32 * 4) * size_t(side);
  const Bytes sizes = {0x30, 0x10, uint8_t(40 + colours * 4 + rows), uint8_t((40 + colours * 4 + rows) >> 8), 0, 0};
  d.insert(d.end(), sizes.begin(), sizes.end());
  Bytes bih(40, 0);
  icontest::Put32(bih, 0, 40);
  icontest::Put32(bih, 4, uint32_t(side));
  icontest::Put32(bih, 8, uint32_t(side));
  icontest::Put16(bih, 12, 1);
  icontest::Put16(bih, 14, bits);
  icontest::Put32(bih, 20, sizeImage);
  d.insert(d.end(), bih.begin(), bih.end());
  for (size_t i = 0; i < colours; ++i) d.insert(d.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  for (size_t i = 0; i < rows; ++i) d.push_back(uint8_t(i % 7 + 1));
  return d;
}

TEST(DcrImport, BitmapBecomesOneNamedIcon) {
  qvtest::TempDir dir;
  // biSizeImage 0, as many writers leave it: the rows still count.
  TIconLibrary library;
  ImportResIcons(WriteTemp(dir, "c.dcr", Dcr("TMYBUTTON", 8, 0)), library);
  ASSERT_EQ(Names(library.Icons()), std::vector<std::string>{"TMYBUTTON"});
  TSubIcon* image = library.GetIcon(0)->Images()[0];
  EXPECT_EQ(image->GetWidth(), 16);
  EXPECT_EQ(image->GetBitsPerPixel(), 8);
  // The pixels arrived: the colour rows follow the header and its palette.
  const Bytes& bits = image->Bits();
  ASSERT_GE(bits.size(), 40u + 1024 + 256);
  EXPECT_EQ(bits[40 + 1024], 1);
  EXPECT_EQ(bits[40 + 1024 + 1], 2);
}

TEST(DcrImport, BadFilesSayWhy) {
  struct Case {
    Bytes file;
    std::string message;
  } cases[] = {
      {Dcr("T", 24, 0), "Bad biBitCount"},
      {Dcr(std::string(65, 'N'), 8, 0), "DCR name is unrecoverable"},
      {Dcr("", 8, 0), "DCR name is unrecoverable"},
  };
  cases[0].file.resize(200);
  qvtest::TempDir dir;
  for (const Case& c : cases) {
    Bytes f = c.file;
    if (f.size() < 200) f.resize(200, 0);
    TIconLibrary library;
    try {
      ImportResIcons(WriteTemp(dir, "bad.dcr", f), library);
      ADD_FAILURE() << c.message;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  // An image size field of 48 MB in a small file: the rows count, and a file
  // that holds less than half its rows is refused, not padded to their size.
  {
    Bytes big = Dcr("T", 1, 48u << 20);
    TMemoryStream res;
    TCustomMemoryStream in(big.data(), int64_t(big.size()));
    ConvertDcrToRes(in, res);
    EXPECT_EQ(res.Size(), int64_t(big.size()));
    Bytes wide = Dcr("T", 8, 0, 3000);
    wide.resize(85);
    TCustomMemoryStream win(wide.data(), int64_t(wide.size()));
    try {
      ConvertDcrToRes(win, res);
      ADD_FAILURE() << "85 bytes of a 3000 x 3000 bitmap converted";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "DCR bitmap is cut short");
    }
    Bytes compressed = Dcr("T", 8, 48u << 20);
    icontest::Put32(compressed, 3 + 2 + 6 + 16, 1);  // RLE8
    TCustomMemoryStream cin(compressed.data(), int64_t(compressed.size()));
    ConvertDcrToRes(cin, res);
    EXPECT_EQ(res.Size(), int64_t(compressed.size()));
  }
  // The size field of the info header must be 40.
  Bytes f = Dcr("T", 8, 0);
  f[3 + 2 + 6] = 12;
  TIconLibrary library;
  try {
    ImportResIcons(WriteTemp(dir, "bad.dcr", f), library);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Bad TBITMAPINFOHEADER biSize: 12");
  }
}

}  // namespace
