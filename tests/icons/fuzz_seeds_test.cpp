// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from the
// same builders the tests use. It runs only when asked:
//   QV_WRITE_FUZZ_SEEDS=fuzz/corpus build/tests/icons_tests --gtest_filter=FuzzSeeds.*
// and otherwise checks that every committed corpus folder holds seeds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/typed_lists.h"
#include "icon_collection_util.h"
#include "icon_test_util.h"
#include "icons/advanced_icon.h"
#include "icons/icon_library.h"
#include "icons/icon_project.h"
#include "mac_icons_test_util.h"
#include "mingw_samples.h"
#include "ne_test_writer.h"
#include "pictures/jpeg2000/jpeg2000_bitmap.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/filer.h"
#include "platform/win/reg_file.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using icontest::DibImage;
using icontest::Entry;
using icontest::IcoFile;

Bytes BytesOf(TMemoryStream& s) { return Bytes(s.Memory(), s.Memory() + s.Size()); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::unique_ptr<TBitmap> Picture(TPixelFormat pf, int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Canvas()->SetPixels(x, y, TColor((x * 40) | (y * 60) << 8 | ((x + y) * 30) << 16));
  return b;
}

Bytes Saved(TGraphic& g) {
  TMemoryStream s;
  g.SaveToStream(s);
  return BytesOf(s);
}

Bytes Bmp(TPixelFormat pf) {
  auto b = Picture(pf, 5, 3);
  return Saved(*b);
}

// A BMP file with the 12-byte header of OS/2 bitmaps, 2 x 2 at 4 bits.
Bytes CoreBmp() {
  Bytes f(14 + 12 + 16 * 3 + 8, 0);
  f[0] = 'B', f[1] = 'M';
  icontest::Put32(f, 2, uint32_t(f.size()));
  icontest::Put32(f, 10, 14 + 12 + 48);
  icontest::Put32(f, 14, 12);
  icontest::Put16(f, 18, 2), icontest::Put16(f, 20, 2), icontest::Put16(f, 22, 1), icontest::Put16(f, 24, 4);
  for (int i = 0; i < 48; ++i) f[26 + i] = uint8_t(i * 5);
  f[74] = 0x12, f[78] = 0x34;
  return f;
}

Bytes Png(TPixelFormat pf, int side, uint8_t interlace = 0) {
  auto b = Picture(pf, side, side);
  if (pf == pf32bit)
    for (int y = 0; y < side; ++y) {
      auto* row = static_cast<uint32_t*>(b->ScanLine(y));
      for (int x = 0; x < side; ++x) row[x] = (row[x] & 0xFFFFFF) | uint32_t(x * 255 / side) << 24;
    }
  TPNGImage png;
  png.Assign(b.get());
  png.SetInterlaceMode(interlace);
  return Saved(png);
}

Bytes Jp2() {
  auto b = Picture(pf24bit, 8, 8);
  TJpeg2000Bitmap j;
  j.Assign(b.get());
  j.SetLossless(true);
  return Saved(j);
}

Bytes Icon() { return IcoFile({Entry{DibImage(16, 16, 4)}, Entry{DibImage(32, 32, 32)}}); }
Bytes PngIcon() { return IcoFile({Entry{Png(pf32bit, 16)}}); }
Bytes Cursor() { return IcoFile({{DibImage(32, 32, 1), 0, 0, 3, 4}}, 2); }

// A packed DIB as the clipboard holds one: a BMP file without its file header.
Bytes PackedDib() {
  Bytes f = Bmp(pf8bit);
  return Bytes(f.begin() + 14, f.end());
}

Bytes Icns() {
  using mactest::Element;
  Bytes runs;
  for (uint8_t v : {10, 20, 30}) mactest::RepeatRun(runs, 256, v);
  return mactest::Icns({Element("is32", runs), Element("s8mk", Bytes(256, 0x80)), Element("ic07", Png(pf32bit, 16)),
                        Element("ic08", Jp2())});
}

Bytes NeFile() {
  const Bytes small = DibImage(16, 16, 4), cursor = DibImage(32, 32, 1);
  Bytes cursorRes = {3, 0, 4, 0};
  cursorRes.insert(cursorRes.end(), cursor.begin(), cursor.end());
  return netest::Write({{0x8003, {{"", 1, small}}},
                        {0x800E, {{"MAIN", 0, netest::IconGroup({{small, 1}})}}},
                        {0x8001, {{"", 2, cursorRes}}},
                        {0x800C, {{"", 5, netest::IconGroup({{cursor, 2}}, 2)}}}})
      .bytes;
}

// A 16-bit DCR: name, memory flags, data size, then a 16 x 16 bitmap at 4 bits.
Bytes Dcr() {
  Bytes d = {0xFF, 2, 0, 'T', 'B', 'T', 'N', 0, 0x30, 0x10};
  const Bytes dib = DibImage(16, 32, 4);  // doubled height: the colour rows and as much again
  Bytes info(dib.begin(), dib.begin() + 40 + 64 + 128);
  icontest::Put32(info, 8, 16);
  for (int i = 0; i < 4; ++i) d.push_back(uint8_t(info.size() >> (8 * i)));
  d.insert(d.end(), info.begin(), info.end());
  return d;
}

Bytes Project() {
  TIconProject project;
  const Bytes dib = DibImage(16, 16, 32);
  TCustomMemoryStream bits(dib.data(), int64_t(dib.size()));
  project.AddImage(TSubIcon::CreateFromBitsStream(bits));
  return Saved(project);
}

Bytes HolderStream() {
  TIconListHolder holder(nullptr);
  auto icon = std::make_unique<TAdvancedIcon>();
  const Bytes d = DibImage(16, 16, 8);
  TCustomMemoryStream bits(d.data(), int64_t(d.size()));
  icon->Images().Add(TSubIcon::CreateFromBitsStream(bits));
  holder.IconList()->AddIcon("MAIN", std::move(icon));
  TMemoryStream stream;
  {
    TWriter writer(&stream);
    writer.WriteProperties(&holder);
  }
  return BytesOf(stream);
}

Bytes TypedListStream() {
  TListLongint longs;
  for (int v : {1, -2, 70000}) longs.Add(v);
  TMemoryStream stream;
  {
    TWriter writer(&stream);
    writer.WriteProperties(&longs);
  }
  return BytesOf(stream);
}

Bytes Store() {
  TRegStoreTree tree;
  TRegStoreKey& key = tree.Roots[RegStoreRootIndex("HKCU")].AddSubKey("Software").AddSubKey("Quorvane");
  key.SetValue("", REG_SZ, Text(std::string("default\0", 8)));
  key.SetValue("Count", REG_DWORD, {7, 0, 0, 0});
  key.SetValue("Path", REG_EXPAND_SZ, Text(std::string("%HOME%\\x\0", 10)));
  key.SetValue("List", REG_MULTI_SZ, Text(std::string("a\0b\0\0", 5)));
  key.SetValue("Blob", REG_BINARY, Bytes(40, 0xA5));
  key.SetValue("Odd", 0x2A, {1, 2, 3});
  return Text(FormatRegExport(tree));
}

struct TSeed {
  const char* target;
  const char* name;
  Bytes bytes;
};

std::vector<TSeed> Seeds() {
  const Bytes icon = Icon(), pngIcon = PngIcon(), cursor = Cursor(), png = Png(pf24bit, 5), jp2 = Jp2();
  const Bytes bmp8 = Bmp(pf8bit), ne = NeFile(), dcr = Dcr();
  std::vector<TSeed> seeds = {
      {"ico_reader", "two.ico", icon},
      {"ico_reader", "png.ico", pngIcon},
      {"ico_reader", "one.cur", cursor},
      {"icon_graphic", "two.ico", icon},
      {"icon_graphic", "png.ico", pngIcon},
      {"clipboard_formats", "two.ico", icon},
      {"clipboard_formats", "packed.dib", PackedDib()},
      {"clipboard_formats", "small.png", png},
      {"bmp_reader", "1.bmp", Bmp(pf1bit)},
      {"bmp_reader", "4.bmp", Bmp(pf4bit)},
      {"bmp_reader", "8.bmp", bmp8},
      {"bmp_reader", "16.bmp", Bmp(pf16bit)},
      {"bmp_reader", "24.bmp", Bmp(pf24bit)},
      {"bmp_reader", "32.bmp", Bmp(pf32bit)},
      {"bmp_reader", "core.bmp", CoreBmp()},
      {"picture_loading", "8.bmp", bmp8},
      {"picture_loading", "core.bmp", CoreBmp()},
      {"picture_loading", "two.ico", icon},
      {"picture_loading", "small.png", png},
      {"picture_loading", "small.jp2", jp2},
      {"png_picture", "rgb.png", png},
      {"png_picture", "rgba.png", Png(pf32bit, 6)},
      {"png_picture", "palette.png", Png(pf4bit, 4)},
      {"png_picture", "interlaced.png", Png(pf24bit, 9, 1)},
      {"jpeg2000", "small.jp2", jp2},
      {"icns_reader", "mixed.icns", Icns()},
      {"ne_resources", "groups.icl", ne},
      {"icon_libraries", "groups.icl", ne},
      {"icon_libraries", "button.dcr", dcr},
      {"res_resources", "button.dcr", dcr},
      {"icon_project", "one.icpr", Project()},
      {"icon_filer", "holder.dfm", HolderStream()},
      {"component_stream", "holder.dfm", HolderStream()},
      {"component_stream", "longs.dfm", TypedListStream()},
      {"registry_store", "store.reg", Store()},
      {"registry_store", "old.reg", Text("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n\"Name\"=\"value\"\r\n"
                                         "\"Hex\"=hex(1):41,00,42,00,00,00\r\n\"Num\"=dword:0000ffff\r\n")},
      {"text_readers", "lines.txt", Text("first\r\nname=value\r\n\"quoted, text\",b c\r\n\r\nlast")},
      {"text_readers", "settings.ini", Text("[Main]\r\nWidth=640\r\nHex=$1F\r\nScale=1.5\r\n\r\n[Other]\r\nName=x\r\n")},
      {"text_readers", "texts.lng",
       Text("[FuzzForm]\r\nCaption=Window\r\nButton1=OK|Press it\r\nRadioGroup1=one!two!||Pick|Choose one\r\n"
            "ComboBox1=a!b\r\nLabel1=Text|Hint\r\n")},
      {"file_sniffer", "two.ico", icon},
      {"file_sniffer", "8.bmp", bmp8},
      {"file_sniffer", "small.png", png},
      {"file_sniffer", "small.jp2", jp2},
      {"file_sniffer", "groups.icl", ne},
      {"file_sniffer", "mixed.icns", Icns()},
      {"icon_collection", "three.icc",
       icctest::Collection({{"one", {icctest::DibRecord(32, 32)}},
                            {"two", {icctest::DibRecord(16, 8), Bytes{0}, icctest::DibRecord(48, 4)}},
                            {"three", {icctest::DibRecord(24, 1)}}})},
      {"icon_collection", "empty.icc", icctest::Collection({})},
      {"icon_collection", "png.icc",
       icctest::Collection({{"png", {icctest::Record(png, 0, 0, 32)}}})},
  };
  return seeds;
}

// The PE and RES seeds come from the mingw-w64 tools, when they are there.
void AddToolSeeds(std::vector<TSeed>& seeds) {
  if (!mingwtest::HaveTools()) return;
  qvtest::TempDir dir;
  mingwtest::WriteSamples(dir);
  mingwtest::WriteText(dir.File("r.rc"),
                       "MAIN ICON \"c.ico\"\nPOINTER CURSOR \"p.cur\"\n1 RCDATA { \"abc\" }\n");
  // A DLL without the C runtime stays small: a few sections and the resources.
  mingwtest::WriteText(dir.File("d.c"), "int __stdcall DllMain(void* h, unsigned r, void* p) { return 1; }\n");
  if (!mingwtest::Build(dir, "i686-w64-mingw32-windres r.rc -O coff -o r.o && "
                             "i686-w64-mingw32-windres r.rc -O res -o r.res && "
                             "i686-w64-mingw32-gcc -s -shared -nostdlib -e _DllMain@12 d.c r.o -o t.dll"))
    return;
  const Bytes dll = qvtest::ReadFileBytes(dir.File("t.dll")), res = qvtest::ReadFileBytes(dir.File("r.res"));
  seeds.push_back({"pe_resources", "small.dll", dll});
  seeds.push_back({"icon_libraries", "small.dll", dll});
  seeds.push_back({"file_sniffer", "small.dll", dll});
  seeds.push_back({"res_resources", "small.res", res});
  seeds.push_back({"icon_libraries", "small.res", res});
}

TEST(FuzzSeeds, WrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  if (out && *out) {
    std::vector<TSeed> seeds = Seeds();
    AddToolSeeds(seeds);
    for (const TSeed& s : seeds) {
      const std::filesystem::path dir = std::filesystem::path(out) / s.target;
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / s.name).string(), s.bytes);
    }
    return;
  }
  // Every seed the builders make is committed, and each is small.
  const std::filesystem::path corpus = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus";
  for (const TSeed& s : Seeds()) {
    const std::filesystem::path file = corpus / s.target / s.name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
    EXPECT_LT(s.bytes.size(), 20000u) << s.target << "/" << s.name;
  }
}

}  // namespace
