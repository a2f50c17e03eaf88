#pragma once
// The font dialog: the installed families (fontconfig's list), a size in
// points, the four styles and a colour, with a sample of the choice.
#include <memory>

#include "platform/graphics/graphics_canvas.h"
#include "platform/ui/file_dialogs.h"

class TFontDialog : public TCommonDialog {
public:
  explicit TFontDialog(TComponent* owner);
  ~TFontDialog() override;
  // The font shown first, and the one chosen after OK.
  TFont* Font() { return FFont.get(); }
  void SetFont(TFont* value) { FFont->Assign(value); }
  bool Execute() override;

private:
  std::unique_ptr<TFont> FFont;
};
