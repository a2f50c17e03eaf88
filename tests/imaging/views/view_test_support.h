#pragma once
// A view on a shown headless form, and ways to read back what it shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/views/image_view.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/ui_test_support.h"

class ViewTest : public UiTest {
protected:
  TForm* form = nullptr;
  TImageLibView* view = nullptr;

  // A view of the given size at the form's top-left corner.
  void MakeView(int width = 200, int height = 150, int formWidth = 0, int formHeight = 0) {
    form = MakeForm(formWidth ? formWidth : width + 20, formHeight ? formHeight : height + 20);
    view = new TImageLibView(form);
    view->SetParent(form);
    view->SetBorderStyle(bsNone);
    view->SetBounds(0, 0, width, height);
    form->Show();
    headless::ProcessMessages();
  }
  void Paint() {
    view->Invalidate();
    headless::ProcessMessages();
  }
  // The colour the form shows at a point of the view (0x00BBGGRR).
  TColor Shown(int x, int y) { return form->Backing()->Canvas()->Pixels(view->Left() + x, view->Top() + y); }

  // A 24-bit picture whose pixel (x, y) has a colour of its own.
  static void Pattern(TIEBitmap& b, int w, int h) {
    b.Allocate(w, h, ie24RGB);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.SetPixelRGB(x, y, PatternPixel(x, y));
  }
  static TRGB PatternPixel(int x, int y) {
    return MakeRGB(uint8_t(x * 7 + y), uint8_t(y * 5 + 3), uint8_t((x * 13) ^ (y * 3)));
  }
  static TColor ColorOf(const TRGB& p) { return TColor(p.r | (p.g << 8) | (p.b << 16)); }
  void ShowPattern(int w, int h) {
    Pattern(*view->GetIEBitmap(), w, h);
    view->Update();
    view->ImageChange();
  }
};

// Where tests leave the pictures a person looks at.
std::string ViewTestOutput(const std::string& name);
