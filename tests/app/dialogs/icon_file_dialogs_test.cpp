// The icon and cursor dialogs: what the preview shows for files of every kind
// (damaged ones included, which never raise an error box), the icon grid of
// modules, libraries, collections and resource files with its index rules,
// the icon picker, the last-file preset, and the dialog driven as a user
// drives it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/dialogs/icon_file_dialogs.h"
#include "app/dialogs/icon_grid.h"
#include "app/picture_transfer.h"
#include "app/picture_utils.h"
#include "app/program_start.h"
#include "../app_test_util.h"
#include "app_ui_test.h"
#include "dialog_run.h"
#include "icons/advanced_icon.h"
#include "icons/icon_library.h"
#include "imaging/io/image_lib_io.h"
#include "pictures/gif/gif_image.h"
#include "platform/rtl/inifiles.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "tests/icons/icon_collection_util.h"
#include "tests/icons/mingw_samples.h"
#include "tests/icons/ne_test_writer.h"

using namespace headless;
using namespace apptest;

namespace {

using Bytes = std::vector<uint8_t>;

void WriteWithLibrary(const std::string& file, TBitmap& picture) {
  TIEBitmap ie;
  Bitmap32ToIEBitmap(picture, ie);
  if (picture.PixelFormat() != pf32bit) ie.RemoveAlphaChannel();
  auto io = TImageLibIO::CreateForBitmap(&ie);
  io->SaveFile(file);
  ASSERT_FALSE(io->Aborting()) << file;
}

// The sample files, made once for the suite.
class IconDialogs : public AppUiTest {
protected:
  static void SetUpTestSuite() {
    StartLibraries();
    files = std::make_unique<qvtest::TempDir>();
    const qvtest::TempDir& d = *files;
    std::filesystem::create_directories(d.File("folder"));
    qvtest::WriteFileBytes(d.File("tiny.ico"), {0, 0, 1, 0});
    qvtest::WriteFileBytes(d.File("notes.txt"), Bytes(40, 'x'));
    qvtest::WriteFileBytes(d.File("one48.ico"), icontest::IcoFile({{icontest::DibImage(48, 48, 32)}}));
    qvtest::WriteFileBytes(d.File("three.ico"), icontest::IcoFile({{icontest::DibImage(48, 48, 32)},
                                                                    {icontest::DibImage(32, 32, 8)},
                                                                    {icontest::DibImage(16, 16, 4)}}));
    qvtest::WriteFileBytes(d.File("p.cur"), icontest::IcoFile({{icontest::DibImage(32, 32, 1), 0, 0, 3, 4}}, 2));
    // Directory entries pointing far past the end.
    qvtest::WriteFileBytes(d.File("broken.ico"), icontest::IcoFile({{icontest::DibImage(32, 32, 32), 0, 0, 1, 32, 900000, 4000}}));
    auto photo = Bitmap24(640, 480, [](int x, int y) { return uint32_t((x * 255 / 640) << 16 | (y * 255 / 480) << 8 | 0x40); });
    WriteWithLibrary(d.File("photo.jpg"), *photo);
    auto small = Bitmap32(20, 10, [](int x, int) { return x < 10 ? 0x80FF0000u : 0xFF0000FFu; });
    WriteWithLibrary(d.File("small.png"), *small);
    WriteWithLibrary(d.File("small.tga"), *small);
    auto sixteen = Bitmap24(8, 8, [](int x, int) { return x < 4 ? 0x000080u : 0xFFFF00u; });
    sixteen->SetPixelFormat(pf4bit);
    sixteen->SaveToFile(d.File("sixteen.bmp"));
    auto wide = Bitmap24(200, 100, [](int x, int) { return x < 100 ? 0xFF0000u : 0x00FF00u; });
    {
      TGIFImage gif;
      wide->SetPixelFormat(pf8bit);
      gif.Assign(wide.get());
      gif.SaveToFile(d.File("wide.gif"));
    }
    auto icon = std::make_unique<TAdvancedIcon>();
    auto glyph = Bitmap32(32, 32, [](int x, int) { return x < 8 ? 0u : 0xFF3060C0u; });
    icon->Images().AddBitmap(glyph.get(), nullptr, 80);
    std::string project = d.File("icon");
    ExportSubIconAs(icon.get(), nullptr, "icpr", project);
    std::filesystem::copy_file(std::string(QV_FIXTURES_DIR) + "/icns/argb_ic04_ic05.icns", d.File("mac.icns"));
    // An icon library of 16-bit Windows: two groups.
    const Bytes a = icontest::DibImage(32, 32, 4), b = icontest::DibImage(16, 16, 4);
    qvtest::WriteFileBytes(d.File("lib.icl"),
                           netest::Write({{0x8003, {{"", 1, a}, {"", 2, b}}},
                                          {0x800E, {{"SUN", 0, netest::IconGroup({{a, 1}})},
                                                    {"MOON", 0, netest::IconGroup({{b, 2}})}}}})
                               .bytes);
    // Collections: three entries, none, and one claiming 134 million.
    const Bytes three = icctest::Collection({{"one", {icctest::DibRecord(32, 32)}},
                                             {"two", {icctest::DibRecord(16, 8), icctest::DibRecord(48, 32)}},
                                             {"three", {icctest::DibRecord(24, 4)}}});
    qvtest::WriteFileBytes(d.File("three.icc"), three);
    qvtest::WriteFileBytes(d.File("none.icc"), icctest::Collection({}));
    Bytes hostile = three;
    hostile[12] = 0xFF, hostile[13] = 0xFF, hostile[14] = 0xFF, hostile[15] = 0x07;
    qvtest::WriteFileBytes(d.File("hostile.icc"), hostile);
    // The headers of a 64-bit program (PE32+) without sections.
    Bytes x64(64 + 4 + 20 + 240, 0);
    x64[0] = 'M', x64[1] = 'Z', x64[60] = 64;
    x64[64] = 'P', x64[65] = 'E';
    x64[68] = 0x64, x64[69] = 0x86;  // machine: x86-64
    x64[84] = 240;                   // size of the optional header
    x64[88] = 0x0B, x64[89] = 0x02;  // its magic: PE32+
    qvtest::WriteFileBytes(d.File("x64.exe"), x64);
    // Modules and a RES file from the cross tools, when they are there.
    tools = mingwtest::HaveTools();
    if (tools) {
      mingwtest::WriteSamples(d);
      mingwtest::WriteText(d.File("r.rc"), "MAINICON ICON \"a.ico\"\n154 ICON \"b.ico\"\n2 ICON \"c.ico\"\n");
      mingwtest::WriteText(d.File("d.c"), "int __stdcall DllMain(void* h, unsigned r, void* p) { return 1; }\n");
      tools = mingwtest::Build(d, "i686-w64-mingw32-windres r.rc -O coff -o r.o && "
                                  "i686-w64-mingw32-windres r.rc -O res -o r.res && "
                                  "i686-w64-mingw32-gcc -s m.c r.o -o t.exe && "
                                  "i686-w64-mingw32-gcc -s m.c -o plain.exe && "
                                  "i686-w64-mingw32-gcc -s -shared -nostdlib -e _DllMain@12 d.c r.o -o t.dll");
    }
  }
  static void TearDownTestSuite() { files.reset(); }
  static std::string File(const std::string& name) { return files->File(name); }
  static inline std::unique_ptr<qvtest::TempDir> files;
  static inline bool tools = false;
};

struct PreviewCase {
  const char* file;
  TPreviewKind kind;
  const char* caption;
  bool previewButton;
  bool needsTools = false;
};

TEST_F(IconDialogs, ThePreviewOfEveryKindOfFile) {
  const PreviewCase cases[] = {
      {"folder", pkNothing, "Picture", false},
      {"tiny.ico", pkNothing, "Picture", false},
      {"missing.ico", pkNothing, "Picture", false},
      {"notes.txt", pkNothing, "Picture", false},
      {"one48.ico", pkPicture, "ICO 48x48x32bpp", true},
      {"three.ico", pkPicture, "ICO, formats: 3", true},
      {"p.cur", pkPicture, "CUR 32x32x2", true},
      {"broken.ico", pkNothing, "Picture", false},  // loads without images
      {"photo.jpg", pkPicture, "JPEG 640x480", true},
      {"small.png", pkPicture, "PNG 20x10", true},
      {"small.tga", pkPicture, "TGA 20x10", true},  // through the registry's Targa picture
      {"sixteen.bmp", pkPicture, "Picture 8x8x16", true},  // the alpha-keeping bitmap class
      {"wide.gif", pkPicture, "GIF 200x100", true},
      {"icon.icpr", pkPicture, "ICPR 32x32x32bpp", true},
      {"mac.icns", pkPicture, "Mac Icon, formats: 2", true},
      {"lib.icl", pkGrid, "Icons: 2", false},
      {"three.icc", pkGrid, "Icons: 3", false},
      {"none.icc", pkGrid, "Icons: 0", false},
      {"hostile.icc", pkNothing, "cannot preview", false},
      {"t.exe", pkGrid, "Icons: 3", false, true},
      {"t.dll", pkGrid, "Icons: 3", false, true},
      {"plain.exe", pkNothing, "Picture", false, true},
      {"r.res", pkGrid, "Icons: 3", false, true},
      // A 64-bit program: the module reader's own words, not an empty box.
      {"x64.exe", pkNothing, "Invalid Windows Image", false},
  };
  TOpenIcoDialog dialog(nullptr);
  for (const PreviewCase& c : cases) {
    if (c.needsTools && !tools) continue;
    SCOPED_TRACE(c.file);
    dialog.PreviewFile(File(c.file));
    EXPECT_EQ(dialog.Shown(), c.kind);
    EXPECT_EQ(dialog.Caption(), c.caption);
    EXPECT_EQ(dialog.PreviewButton->Enabled(), c.previewButton);
    EXPECT_EQ(dialog.Grid->Visible(), c.kind == pkGrid);
    EXPECT_EQ(dialog.PaintPanel->Visible(), c.kind != pkGrid);
    if (c.kind == pkNothing) { EXPECT_TRUE(dialog.PaintBox->Picture()->Graphic() == nullptr); }
  }
}

TEST_F(IconDialogs, PicturesAreFittedShrunkOrCentred) {
  TOpenIcoDialog dialog(nullptr);
  // The single 48-pixel image, the best for the 32-pixel system icon size,
  // shows at its own size, centred.
  dialog.PreviewFile(File("one48.ico"));
  EXPECT_EQ(dialog.PaintBox->Width(), 48);
  EXPECT_EQ(dialog.PaintBox->Height(), 48);
  EXPECT_EQ(dialog.PaintBox->Left(), (dialog.PaintPanel->ClientWidth() - 48) / 2);
  // A large JPEG is shrunk into the box (resampled there), a GIF handed over as it is.
  dialog.PreviewFile(File("photo.jpg"));
  TGraphic* shown = dialog.PaintBox->Picture()->Graphic();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->Width(), dialog.PaintBox->Width());
  EXPECT_LT(shown->Width(), 640);
  EXPECT_NEAR(dialog.PaintBox->Width() * 480.0 / 640, dialog.PaintBox->Height(), 1);
  dialog.PreviewFile(File("wide.gif"));
  EXPECT_NE(dynamic_cast<TGIFImage*>(dialog.PaintBox->Picture()->Graphic()), nullptr);
  // A 16-colour bitmap becomes 24-bit before it shows.
  dialog.PreviewFile(File("sixteen.bmp"));
  auto* bmp = dynamic_cast<TBitmap*>(dialog.PaintBox->Picture()->Graphic());
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->PixelFormat(), pf24bit);
}

TEST_F(IconDialogs, CollectionCellsReadTheFileInOrderAndOnlyWhenPainted) {
  TOpenIcoDialog dialog(nullptr);
  dialog.PreviewFile(File("three.icc"));
  ASSERT_EQ(dialog.Grid->CellCount(), 3);
  EXPECT_EQ(dialog.Grid->RowCount(), 1);
  for (HICON h : dialog.Grid->Handles) EXPECT_EQ(h, nullptr);  // nothing read yet
  // The panel on a form of its own: painting fills the cells in order.
  auto* form = new TForm(Application);
  form->SetBounds(100, 100, 200, 220);
  dialog.PicturePanel->SetParent(form);
  dialog.PicturePanel->SetBounds(0, 0, 180, 200);
  form->Show();
  ProcessMessages();
  form->SaveToPng(OutputFile("icon_grid_collection.png"));
  EXPECT_EQ(dialog.CollectionReader().LastEntry(), 2);
  EXPECT_EQ(dialog.CollectionReader().EntriesWalked(), 1);  // straight on from entry 1
  for (HICON h : dialog.Grid->Handles) EXPECT_NE(h, nullptr);
  dialog.PicturePanel->SetParent(nullptr);
}

TEST_F(IconDialogs, GridCellsBeyondTheLastIconCannotBeChosen) {
  TOpenIcoDialog dialog(nullptr);
  dialog.Grid->SizeFor(5);
  EXPECT_EQ(dialog.Grid->ColCount(), 4);
  EXPECT_EQ(dialog.Grid->RowCount(), 2);
  bool can = true;
  dialog.GridSelectCell(dialog.Grid, 1, 1, can);
  EXPECT_FALSE(can);
  dialog.GridSelectCell(dialog.Grid, 0, 1, can);
  EXPECT_TRUE(can);
  dialog.Grid->SetRow(1);
  dialog.Grid->SetCol(1);  // refused: cell 5 holds no icon
  EXPECT_EQ(dialog.Grid->CurrentIndex(), 4);
  FreeIconHandles(dialog.Grid->Handles);
}


TEST_F(IconDialogs, BrowsingShowsPreviewsAndTheChosenIndexFollowsTheRules) {
  TOpenIcoDialog dialog(nullptr);
  dialog.SetFilter("All files (*.*)|*.*");
  dialog.SetInitialDir(files->Path().string());
  std::string caption;
  bool panelPlaced = false;
  Headless().Then([&] { DialogRun::Select("broken.ico"); });  // no error box: the next step runs
  Headless().Then([&] { DialogRun::Select("small.png"); });
  Headless().Then([&] {
    caption = dialog.Caption();
    panelPlaced = dialog.PicturePanel->Parent() == dialog.TemplateParent() && dialog.PicturePanel->Visible();
    dialog.DialogForm()->SaveToPng(OutputFile("open_dialog_preview.png"));
    DialogRun::Select("small.tga");
  });
  Headless().Then([&] {
    dialog.DialogForm()->SaveToPng(OutputFile("open_dialog_preview_tga.png"));
    DialogRun::Open("[folder]");
  });
  // Another folder: the caption of the file left behind goes with its picture.
  std::string captionInFolder;
  Headless().Then([&] {
    captionInFolder = dialog.Caption();
    DialogRun::Press("Up");
  });
  Headless().Then([&] { DialogRun::Select("one48.ico"); });
  Headless().Then([&] { DialogRun::Press("&Open"); });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(caption, "PNG 20x10");
  EXPECT_EQ(captionInFolder, "Picture");
  EXPECT_TRUE(panelPlaced);
  EXPECT_EQ(dialog.IconIndex, 0);  // a single icon
  EXPECT_EQ(dialog.InitialDir(), "");
  EXPECT_TRUE(dialog.Grid->Handles.empty());
  EXPECT_EQ(dialog.PreviewPicture()->Graphic(), nullptr);

  // An empty collection closes with -1.
  Headless().Then([&] { DialogRun::Select("none.icc"); });
  Headless().Then([&] { DialogRun::Press("&Open"); });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.IconIndex, -1);

  // A cell chosen in a collection.
  Headless().Then([&] { DialogRun::Select("three.icc"); });
  Headless().Then([&] {
    dialog.Grid->SetCol(2);
    dialog.DialogForm()->SaveToPng(OutputFile("open_dialog_grid.png"));
    DialogRun::Press("&Open");
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.IconIndex, 2);
}

// A RES file is imported once when it is opened: every cell has its handle,
// and a handle given up (as a grid above 2000 cells does after painting) is
// made again from that import.
TEST_F(IconDialogs, AResourceFileIsImportedOnceForItsCells) {
  if (!tools) GTEST_SKIP() << "mingw-w64 cross tools missing";
  TOpenIcoDialog dialog(nullptr);
  dialog.PreviewFile(File("r.res"));
  ASSERT_EQ(dialog.Grid->CellCount(), 3);
  for (HICON h : dialog.Grid->Handles) EXPECT_NE(h, nullptr);
  DestroyIcon(dialog.Grid->Handles[1]);
  dialog.Grid->Handles[1] = nullptr;
  auto* form = new TForm(Application);
  form->SetBounds(100, 100, 200, 220);
  dialog.PicturePanel->SetParent(form);
  dialog.PicturePanel->SetBounds(0, 0, 180, 200);
  form->Show();
  ProcessMessages();
  form->SaveToPng(OutputFile("icon_grid_res.png"));
  EXPECT_NE(dialog.Grid->Handles[1], nullptr);
  dialog.PicturePanel->SetParent(nullptr);
}

TEST_F(IconDialogs, OldStyleDialogsRunWithoutPreview) {
  TOpenIcoDialog dialog(nullptr);
  dialog.SetOptions({ofOldStyleDialog});
  dialog.SetInitialDir(files->Path().string());
  bool area = true;
  Headless().Then([&] {
    area = dialog.TemplateParent() != nullptr;
    DialogRun::Press("Cancel");
  });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_FALSE(area);
}

TEST_F(IconDialogs, ThePreviewWindowShowsTheIconStripAtItsOwnSize) {
  TOpenIcoDialog dialog(nullptr);
  dialog.PreviewFile(File("three.ico"));
  int w = 0, h = 0;
  dialog.PreviewButton->SetEnabled(true);
  Headless().Then([&] {
    TForm* f = dialog.PreviewForm();
    ASSERT_NE(f, nullptr);
    w = dialog.PreviewPicture()->Graphic()->Width();
    h = dialog.PreviewPicture()->Graphic()->Height();
    f->SaveToPng(OutputFile("preview_window.png"));
    TypeText("\x1b");  // Esc closes it
  });
  dialog.PreviewClick(nullptr);
  // 48 + 32 + 16 side by side with 2 pixels between them.
  EXPECT_EQ(w, 48 + 32 + 16 + 2 * 3 - 1);
  EXPECT_EQ(h, 48);
}

TEST_F(IconDialogs, TheIconPickerPreselectsByIndexOrResourceName) {
  if (!tools) GTEST_SKIP() << "mingw-w64 cross tools missing";
  TOpenIcoDialog dialog(nullptr);
  dialog.SetFileName(File("t.exe"));
  int shownIndex = -9;
  Headless().Then([&] { DialogRun::Select("t.exe"); });
  Headless().Then([&] {
    shownIndex = dialog.Grid->Row() * dialog.Grid->ColCount() + dialog.Grid->Col();
    DialogRun::Press("&Open");
  });
  ASSERT_TRUE(dialog.ExecuteIconIndex(-154));
  TIconLibrary library;
  library.LoadFromFile(File("t.exe"));
  const int named = library.Icons().IndexOf("154");
  ASSERT_GE(named, 0);
  EXPECT_EQ(shownIndex, named);
  EXPECT_EQ(dialog.IconIndex, named);

  // A name that does not exist starts at -1 and preselects nothing.
  dialog.SetFileName(File("gone.exe"));
  Headless().Then([&] { DialogRun::Press("Cancel"); });
  EXPECT_FALSE(dialog.ExecuteIconIndex(-154));
  EXPECT_EQ(dialog.IconIndex, -1);
  // A position past the icons leaves -1 when the dialog closes on that file.
  dialog.SetFileName(File("t.exe"));
  Headless().Then([&] { DialogRun::Select("t.exe"); });
  Headless().Then([&] { DialogRun::Press("&Open"); });
  ASSERT_TRUE(dialog.ExecuteIconIndex(7));
  // Nothing preselected: the row starts at 0 and the column stays from the run before.
  EXPECT_EQ(dialog.IconIndex, named % dialog.Grid->ColCount());
}

TEST_F(IconDialogs, LastFilePresetTakesAnExistingFileOrItsNearestFolder) {
  const std::string ini = dir.File("config.ini");
  TOpenIcoDialog dialog(nullptr);
  {
    TIniFile f(ini);
    f.WriteString("Last", "Open", File("one48.ico"));
  }
  dialog.LoadLastFile(ini, "Last", "Open");
  EXPECT_EQ(dialog.FileName(), File("one48.ico"));
  {
    TIniFile f(ini);
    f.WriteString("Last", "Open", File("folder/deeper/gone.ico"));
  }
  TOpenIcoDialog other(nullptr);
  other.LoadLastFile(ini, "Last", "Open");
  EXPECT_EQ(other.FileName(), "");
  EXPECT_EQ(other.InitialDir(), File("folder"));
}

TEST_F(IconDialogs, TheCursorDialogCaptionsItsOwnKinds) {
  TOpenCurDialog dialog(nullptr);
  dialog.PreviewFile(File("three.icc"));
  EXPECT_EQ(dialog.Caption(), "Items: 3");
  dialog.PreviewFile(File("p.cur"));
  EXPECT_EQ(dialog.Caption(), "CUR 32x32x2");
  dialog.PreviewFile(File("icon.icpr"));  // no row of its own: a picture
  EXPECT_EQ(dialog.Shown(), pkPicture);
  EXPECT_EQ(dialog.Caption(), "ICPR 32x32");
  EXPECT_EQ(std::string(TOpenCurDialog::kDefaultFilter).substr(0, 13), "Cursor files ");
}

TEST(IconDialogTexts, DepthNamesAndPictureCaptions) {
  EXPECT_EQ(PixelFormatName(pf1bit), "2");
  EXPECT_EQ(PixelFormatName(pf4bit), "16");
  EXPECT_EQ(PixelFormatName(pf8bit), "256");
  EXPECT_EQ(PixelFormatName(pf16bit), "65k");
  EXPECT_EQ(PixelFormatName(pf24bit), "16M");
  EXPECT_EQ(PixelFormatName(pf32bit), "32bpp");
  TBitmap plain;
  plain.SetPixelFormat(pf24bit);
  plain.SetSize(16, 16);
  EXPECT_EQ(DescribePicture(&plain), "BMP 16x16x16M");
  EXPECT_EQ(IconKindText(1), "ICO");
  EXPECT_EQ(IconKindText(2), "CUR");
  EXPECT_EQ(IconKindText(4), "");
}

}  // namespace
