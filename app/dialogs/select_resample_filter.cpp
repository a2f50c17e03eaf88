#include "app/dialogs/select_resample_filter.h"

#include "base/form_texts.h"
#include "base/ui_windows.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"

namespace {
TfmSelectRF* gOpen = nullptr;

const char* const kFilterNames[10] = {"None",     "Triangle", "Hermite", "Bell",   "BSpline",
                                      "Lanczos3", "Mitchell", "Nearest", "Linear", "Auto"};
}  // namespace

TfmSelectRF::TfmSelectRF(TComponent* owner) : TForm(owner) {
  SetName("fmSelectRF");
  SetCaption("Select Resample Filter ");
  SetBorderStyle(bsDialog);
  SetClientWidth(196);
  SetClientHeight(232);
  Label1 = new TLabel(this);
  Label1->SetParent(this);
  Label1->SetBounds(8, 8, 180, 13);
  Label1->SetCaption("Resample filters");
  ListBox = new TListBox(this);
  ListBox->SetParent(this);
  ListBox->SetBounds(8, 26, 180, 164);
  for (const char* name : kFilterNames) ListBox->Items()->Add(name);
  ListBox->OnClick = [this](TObject* s) { ListBoxClick(s); };
  ListBox->OnDblClick = [this](TObject* s) { ListBoxDblClick(s); };
  btOk = new TButton(this);
  btOk->SetParent(this);
  btOk->SetBounds(24, 200, 75, 25);
  btOk->SetCaption("OK");
  btOk->SetDefault(true);
  btOk->SetModalResult(mrOk);
  btCancel = new TButton(this);
  btCancel->SetParent(this);
  btCancel->SetBounds(108, 200, 75, 25);
  btCancel->SetCaption("Cancel");
  btCancel->SetCancel(true);
  btCancel->SetModalResult(mrCancel);
  OnCloseQuery = [this](TObject* s, bool& can) { FormCloseQuery(s, can); };
}

void TfmSelectRF::ListBoxClick(TObject*) {
  if (OnFilterClick) OnFilterClick(ListBox->ItemIndex());
}

void TfmSelectRF::ListBoxDblClick(TObject*) { SetModalResult(mrOk); }

void TfmSelectRF::FormCloseQuery(TObject*, bool& canClose) {
  if (ModalResult() == mrOk && ListBox->ItemIndex() < 0 && ListBox->Count() > 0) {
    MessageBox(Handle(), "List item not selected", Caption().c_str(), MB_OK | MB_ICONWARNING);
    canClose = false;
  }
}

TfmSelectRF* OpenResampleFilterChooser() { return gOpen; }

int SelectResampleFilter(int index, std::function<void(int)> onClick) {
  InitializeUI();
  TfmSelectRF form(Application);
  TranslateForm(&form);
  form.ListBox->SetItemIndex(index);
  form.OnFilterClick = std::move(onClick);
  PlaceFormLeftOfCursor(&form);
  gOpen = &form;
  TModalResult result = mrCancel;
  try {
    result = form.ShowModal();
  } catch (...) {
    gOpen = nullptr;
    throw;
  }
  gOpen = nullptr;
  return result == mrOk ? form.ListBox->ItemIndex() : -1;
}
