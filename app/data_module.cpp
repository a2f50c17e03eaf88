#include "app/data_module.h"

#include "app/config_file.h"
#include "app/program_start.h"
#include "base/ui_windows.h"
#include "icons/icon_library.h"
#include "platform/ui/dialogs.h"

Tdm* dm = nullptr;

namespace {

const char* const kOpenAnyFilter =
    "All (*.ico;*.gif;*.bmp;*.jpg;*.psd;*.wmf;*.cur;*.ani)|*.ico;*.cur;*.ani;*.jpg;*.jpeg;*.bmp;*.png;*.wbmp;*.psd;"
    "*.pdd;*.gif;*.xpm;*.xbm;*.wmf;*.emf;*.tga;*.pcx;*.tif;*.tiff;*.jpe;*.jp2;*.j2k;*.jpc;*.j2c|Icons (*.ico)|*.ico|"
    "Cursors (*.cur;*.ani)|*.cur;*.ani|Images (*.bmp;*.jpeg;*.png;*.psd;*.wbmp;*.gif;*.xpm)|*.jpg;*.jpeg;*.bmp;*.png;"
    "*.wbmp;*.psd;*.pdd;*.gif;*.xpm;*.xbm;*.wmf;*.emf;*.tga;*.pcx;*.tif;*.tiff;*.jpe;*.jp2;*.j2k;*.jpc;*.j2c|"
    "Windows bitmaps (*.bmp)|*.bmp|GIF images (*.gif)|*.gif|JPEG images (*.jpg;*.jpeg;*.jp2)|*.jpg;*.jpeg;*.jpe;*.jp2;"
    "*.j2k;*.jpc;*.j2c|PCX images (*.pcx)|*.pcx|Photoshop images (*.psd;*.pdd)|*.psd;*.pdd|PNG images (*.png)|*.png|"
    "Metafiles (*.wmf;*.emf)|*.wmf;*.emf|Targa  (*.tga)|*.tga|WAP bitmaps (*.wbmp)|*.wbmp|X pixmaps and bitmaps"
    "(*.xpm;*.xbm)|*.xpm;*.xbm|Icon projects (*.icpr)|*.icpr|All files(*.*)|*.*";

}  // namespace

void RegisterDataModuleClasses() { RegisterClass<TIconListHolder>(); }

Tdm::Tdm(TComponent* owner) : TDataModule(owner) {
  // The components the module holds by design.
  cd = new TColorDialog(this);
  cd->SetOptions({cdFullOpen, cdAnyColor});
  odPal = new TOpenDialog(this);
  odPal->SetFilter(
      "Palettes and images (*.pal;*.act;*.bmp;*.rc)|*.pal;*.act;*.bmp;*.rc|Palettes (*.pal)|*.pal|"
      "Photoshop palettes (*.act)|*.act|Windows bitmaps (*.bmp)|*.bmp|Resource scripts (*.rc)|*.rc|All files (*.*)|*.*");
  sdPal = new TSaveDialog(this);
  sdPal->SetDefaultExt("pal");
  sdPal->SetOptions({ofOverwritePrompt, ofHideReadOnly, ofEnableSizing});
  sdPal->OnTypeChange = [this](TObject* s) { sdPalTypeChange(s); };
  sdPal->SetFilter(
      "Palette (*.pal)|*.pal|Windows bitmap (*.bmp)|*.bmp|Photoshop palette (*.act)|*.act|Resource script (*.rc)|*.rc|"
      "Pascal source (*.pas)|*.pas");
  sdLib = new TSaveDialog(this);
  sdLib->SetOptions({ofHideReadOnly});
  sdLib->OnCanClose = [this](TObject* s, bool& can) { sdLibCanClose(s, can); };
  sdLib->SetFilter(
      "Icon Library (*.icl)|*.icl|Icon Collection (*.icc)|*.icc|Image List (*.bmp)|*.bmp|Image List (*.png)|*.png");

  TransparentBitmap = std::make_unique<TBitmap>();
  TransparentBitmap->SetTransparent(true);
  TransparentBitmap->SetTransparentColor(0xFFFFFF);
  TransparentBitmap->SetTransparentMode(tmFixed);

  auto saveOptions = [this](TOpenDialog* d, const char* filter) {
    d->SetFilter(filter);
    d->SetOptions({ofHideReadOnly});
    d->OnCanClose = [this](TObject* s, bool& can) { SaveDialogCanClose(s, can); };
  };
  SaveImageDialog = new TSaveIcoDialog(this);
  saveOptions(SaveImageDialog, "Windows Bitmap (*.bmp)|*.bmp|PNG Image (*.png)|*.png");
  OpenAnyDialog = new TOpenIcoDialog(this);
  OpenAnyDialog->SetFilter(kOpenAnyFilter);
  SaveIconDialog = new TSaveIcoDialog(this);
  saveOptions(SaveIconDialog, "Icon (*.ico)|*.ico");
  SaveCursorDialog = new TSaveCurDialog(this);
  saveOptions(SaveCursorDialog,
              "Animated Cursor (*.ani)|*.ani|Animated GIF (*.gif)|*.gif|Image List (*.bmp)|*.bmp|Image List (*.png)|*.png|"
              "Icon Project (*.icpr)|*.icpr");

  OpenDialog = new TOpenIcoDialog(this);
  OpenDialog->SetGridDefaultDrawing(false);
  TOpenOptions options = OpenDialog->Options();
  options.Include(ofFileMustExist);
  OpenDialog->SetOptions(options);
  // The last file opened, as the settings file remembers it.
  OpenDialog->LoadLastFile(GetConfigFileName(), "Last", "Open");
}

Tdm::~Tdm() {
  if (dm == this) dm = nullptr;
}

void Tdm::SaveDialogCanClose(TObject* sender, bool& canClose) {
  auto* dialog = dynamic_cast<TOpenDialog*>(sender);
  if (!dialog) return;
  canClose = ::SaveDialogCanClose(dialog->FileName(), GetSelectedFilterExt(dialog), [](const std::string& question) {
    return MessageBox(nullptr, question.c_str(), "Warning", MB_YESNO | MB_ICONWARNING) == IDYES;
  });
}

void Tdm::sdPalTypeChange(TObject* sender) {
  if (auto* dialog = dynamic_cast<TOpenDialog*>(sender)) dialog->SetDefaultExt(GetSelectedFilterExt(dialog));
}
