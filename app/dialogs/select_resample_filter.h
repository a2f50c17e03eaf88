#pragma once
// The resample-filter chooser "Select Resample Filter ": a modal list of the
// icon side's ten filters. Each click already hands the filter to the caller,
// which rebuilds the icon while the dialog stays open, so the previews follow
// the choice live; the caller puts its previous filter back on Cancel.
#include <functional>

#include "platform/ui/forms.h"

class TLabel;
class TListBox;
class TButton;

class TfmSelectRF : public TForm {
public:
  explicit TfmSelectRF(TComponent* owner);

  TLabel* Label1 = nullptr;
  TListBox* ListBox = nullptr;
  TButton* btOk = nullptr;
  TButton* btCancel = nullptr;

  // Called with the list's item index on every click in the list.
  std::function<void(int index)> OnFilterClick;

  void ListBoxClick(TObject* sender);
  void ListBoxDblClick(TObject* sender);
  void FormCloseQuery(TObject* sender, bool& canClose);
};

// Shows the chooser with index selected; the chosen position on OK, -1 on
// Cancel. onClick runs for every click in the list while the dialog is open.
int SelectResampleFilter(int index, std::function<void(int index)> onClick = nullptr);
// The chooser while it is open (for tests), else nullptr.
TfmSelectRF* OpenResampleFilterChooser();
