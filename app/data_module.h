#pragma once
// The data module: the file dialogs the main window shares with the rest of
// the program, and the transparent work bitmap.
#include <memory>

#include "app/dialogs/icon_file_dialogs.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/forms.h"

class Tdm : public TDataModule {
public:
  explicit Tdm(TComponent* owner);
  ~Tdm() override;

  // Components of the module.
  TColorDialog* cd = nullptr;
  TOpenDialog* odPal = nullptr;
  TSaveDialog* sdPal = nullptr;
  TSaveDialog* sdLib = nullptr;
  // Made by the constructor, in this order after TransparentBitmap.
  TSaveIcoDialog* SaveImageDialog = nullptr;
  TOpenIcoDialog* OpenAnyDialog = nullptr;
  TSaveIcoDialog* SaveIconDialog = nullptr;
  TSaveCurDialog* SaveCursorDialog = nullptr;
  TOpenIcoDialog* OpenDialog = nullptr;
  std::unique_ptr<TBitmap> TransparentBitmap;

  // The overwrite check of the save dialogs: asks before a file that exists
  // under the name that will really be written is replaced.
  void SaveDialogCanClose(TObject* sender, bool& canClose);
  void sdLibCanClose(TObject* sender, bool& canClose) { SaveDialogCanClose(sender, canClose); }
  void sdPalTypeChange(TObject* sender);
};

// The module of the running program (made after the main window).
extern Tdm* dm;

// The classes the module's unit makes known to the class registry at start-up
// (TIconListHolder, which streamed forms may hold).
void RegisterDataModuleClasses();
