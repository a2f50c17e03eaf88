#pragma once
// Runs a file dialog as a user does: selects a file in its list, lets the test
// look, then presses the button with the caption.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"

class DialogRun {
public:
  static TListBox* List() {
    std::vector<TWinControl*> all;
    Screen->ActiveForm()->GetTabOrderList(all);
    for (TWinControl* c : all)
      if (auto* l = dynamic_cast<TListBox*>(c)) return l;
    return nullptr;
  }
  static void Select(const std::string& name) { ClickItem(name, false); }
  // A double click on a list entry ("[folder]" opens that folder).
  static void Open(const std::string& name) { ClickItem(name, true); }
  static void Press(const std::string& caption) {
    std::vector<TWinControl*> all;
    Screen->ActiveForm()->GetTabOrderList(all);
    for (TWinControl* c : all)
      if (auto* b = dynamic_cast<TButton*>(c); b && b->Caption() == caption) {
        headless::Click(b);
        return;
      }
    ADD_FAILURE() << "no button " << caption;
  }

private:
  static void ClickItem(const std::string& name, bool twice) {
    TListBox* list = List();
    ASSERT_NE(list, nullptr);
    const int i = list->Items()->IndexOf(name);
    ASSERT_GE(i, 0) << name;
    list->SetTopIndex(i);
    const TRect r = list->ItemRect(i);
    if (twice) headless::DoubleClick(list, r.left + 4, r.top + 2);
    else headless::Click(list, r.left + 4, r.top + 2);
  }
};
