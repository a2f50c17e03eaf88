#pragma once
// TIcon: a Windows icon held as its ICO file bytes and, once asked for, an icon
// handle made from the image that fits the requested size best. Width and Height
// are that image's own size.
#include <cstdint>
#include <vector>

#include "platform/graphics/graphics_graphic.h"

class TIcon : public TGraphic {
public:
  TIcon() = default;
  ~TIcon() override;

  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return !FHandle && FData.empty(); }
  int GetWidth() override { return FWidth; }
  int GetHeight() override { return FHeight; }
  bool GetTransparent() override { return true; }

  // ICO in and out: raises EInvalidGraphic "Icon image is not valid" for a bad
  // file; saves the file it was loaded from, or a one-image file made from the handle.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;

  // The icon handle (made on first use; nullptr while empty).
  HICON Handle();
  // Takes over an icon handle; the icon then owns it.
  void SetHandle(HICON icon);
  // Gives the handle away (the caller destroys it); the icon keeps its file bytes.
  HICON ReleaseHandle();
  bool HandleAllocated() const { return FHandle != nullptr; }

  // The size an icon file's image is chosen for (0: the system icon size, 32).
  void SetRequestedSize(int width, int height);

protected:
  // A loaded icon cannot change its size: EInvalidGraphicOperation "Cannot change
  // the size of an icon"; an empty one takes it as the requested size.
  void DoSetWidth(int value) override;
  void DoSetHeight(int value) override;

private:
  struct Entry {
    uint32_t offset = 0;
    uint32_t size = 0;
    int width = 0;
    int height = 0;
    int bitCount = 0;
  };
  void ChooseImage();
  void DestroyHandle();

  std::vector<uint8_t> FData;  // the ICO file as loaded
  std::vector<Entry> FEntries;
  int FChosen = -1;
  HICON FHandle = nullptr;
  int FWidth = 0;
  int FHeight = 0;
  int FRequestedWidth = 0;
  int FRequestedHeight = 0;
};
