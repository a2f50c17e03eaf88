#pragma once
// Icon projects: a multi-image icon whose images may each carry a stack of
// 32-bit layers with simple effects (transparency, a drop shadow), so that an
// image can be rebuilt from its layers. TIconProject is a picture class of the
// framework, registered for "ICPR" files.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icons/advanced_icon.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_graphic.h"

// The first four bytes of a project file.
inline constexpr uint8_t kIconProjectMagic[4] = {0xB7, 0x49, 0x43, 0x50};
// The only layer record version there is.
inline constexpr uint8_t kIconLayerVersion = 0;
// Layer sides beyond this are refused when read, whatever the stream holds.
inline constexpr int32_t kMaxLayerSide = 32768;

// One layer of one image.
class TIconLayer : public TPersistent {
public:
  TIconLayer();
  ~TIconLayer() override;

  // From a TSubIcon: its picture with alpha (a 32-bit image's colour part, any
  // other image's colour part with alpha from its mask). From another layer:
  // the bitmap and the stored fields, then the effects are rendered.
  void Assign(TPersistent* source) override;

  // The effect bitmap when the layer has effects, else the bitmap.
  TBitmap* GetDisplayBitmap();
  // Renders transparency and drop shadow into the effect bitmap (or frees it
  // when there are none) and clears the modified flag.
  void ApplyEffects();
  bool HasEffects() const;

  // Reads one layer record. A record of another version than 0 raises an
  // exception without consuming it; sizes are checked against the stream.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream);

  TBitmap* Bitmap() { return FBitmap.get(); }
  TBitmap* EffectBitmap() { return FEffectBitmap.get(); }

  uint8_t Transparency() const { return FTransparency; }
  void SetTransparency(uint8_t value) { FTransparency = value; }
  uint8_t ShadowStrength() const { return FShadowStrength; }
  void SetShadowStrength(uint8_t value) { FShadowStrength = value; }
  // Shadow offsets are in hundredths of a pixel.
  int32_t ShadowXOffset() const { return FShadowXOffset; }
  void SetShadowXOffset(int32_t value) { FShadowXOffset = value; }
  int32_t ShadowYOffset() const { return FShadowYOffset; }
  void SetShadowYOffset(int32_t value) { FShadowYOffset = value; }
  uint8_t ShadowRadius() const { return FShadowRadius; }
  void SetShadowRadius(uint8_t value) { FShadowRadius = value; }
  // Neither copied by Assign nor stored in files.
  TColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(TColor value) { FShadowColor = value; }
  int32_t XOffset() const { return FXOffset; }
  void SetXOffset(int32_t value) { FXOffset = value; }
  int32_t YOffset() const { return FYOffset; }
  void SetYOffset(int32_t value) { FYOffset = value; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& value) { FName = value; }
  // Stored and copied, never interpreted.
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t value) { FTag = value; }
  bool Hidden() const { return FHidden; }
  void SetHidden(bool value) { FHidden = value; }
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }
  bool Edited() const { return FEdited; }
  void SetEdited(bool value) { FEdited = value; }

protected:
  // Into a TSubIcon: the image made from the display bitmap (mask where alpha is 0).
  void AssignTo(TPersistent* dest) override;

private:
  void AssignFromImage(TSubIcon& image);

  std::unique_ptr<TBitmap> FBitmap;
  std::unique_ptr<TBitmap> FEffectBitmap;
  uint8_t FTransparency = 0;
  uint8_t FShadowStrength = 0;
  int32_t FShadowYOffset = 0;
  int32_t FShadowXOffset = 0;
  uint8_t FShadowRadius = 0;
  TColor FShadowColor = 0;
  int32_t FXOffset = 0;
  int32_t FYOffset = 0;
  std::string FName;
  int32_t FTag = 0;
  bool FHidden = false;
  bool FModified = false;
  bool FEdited = false;
};

// The layers of one image in stacking order: index 0 on top, the last at the bottom.
class TIconLayersList : public TPersistent {
public:
  TIconLayersList() = default;
  ~TIconLayersList() override;

  // From a TSubIcon: one layer made from it. From another list: a copy of every
  // layer. The old layers go first.
  void Assign(TPersistent* source) override;

  int Count() const { return static_cast<int>(FItems.size()); }
  TIconLayer* GetItem(int index) const;
  TIconLayer* operator[](int index) const { return GetItem(index); }
  TIconLayer* Add(std::unique_ptr<TIconLayer> layer);
  TIconLayer* Insert(int index, std::unique_ptr<TIconLayer> layer);
  void Delete(int index);
  void Clear();
  bool IsModified() const;

  // The visible layers composited bottom to top into the bitmap (pf32bit; an
  // empty one takes the size of the first layer). With a background colour other
  // than clNone the result is flattened onto that colour made opaque.
  void Flatten(TBitmap* bitmap, TColor background);

protected:
  // Into a TSubIcon: the image made from the flattened layers.
  void AssignTo(TPersistent* dest) override;

private:
  std::vector<std::unique_ptr<TIconLayer>> FItems;
};

class TIconProject : public TGraphic {
public:
  TIconProject();
  ~TIconProject() override;

  // From a TAdvancedIcon: a deep copy with one empty layer list per image. From
  // the clipboard object (SharedClipboard): the clipboard's picture, each image
  // with an empty layer list; nothing changes when the clipboard holds none.
  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  // True when the project holds neither a layer list nor an image.
  bool GetEmpty() override;
  int GetWidth() override;
  int GetHeight() override;
  HPALETTE GetPalette() override { return nullptr; }
  bool GetTransparent() override { return false; }
  // Reads a project file, or ICO or CUR data when the magic is missing. The
  // project is left as it was when the data is refused.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override {}
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override {}

  virtual void Clear();
  virtual void MoveImage(int from, int to);
  virtual void DeleteImage(int index);
  // Appends the image (taken over) with a layer list of one layer made from it;
  // returns the new image count.
  virtual int AddImage(std::unique_ptr<TSubIcon> image);
  virtual void InsertImage(int index, std::unique_ptr<TSubIcon> image);
  virtual TSubIcon* AddGraphic(TBitmap* bitmap, TBitmap* mask, uint8_t byte);
  virtual TSubIcon* AddBitmap(TBitmap* bitmap, TBitmap* mask, uint8_t byte);
  virtual void TakeImagesFrom(TAdvancedIcon* icon);
  virtual void AppendProject(TPersistent* project);
  // Writes the picture into the edited layer of image index (a new top layer
  // when there is none), hides every other layer and names it when name is not empty.
  virtual void PutEditedLayer(int index, TPersistent* picture, const std::string& name);

  TIconLayersList* AddLayerList();
  void ClearLayerLists();
  void ResetLayerLists();
  void SyncLayerLists();
  // Rebuilds the images of modified layer lists (every non-empty one when forced).
  void FlattenLayers(bool force);

  TAdvancedIcon& Icon() { return *FIcon; }
  int LayerListCount() const { return static_cast<int>(FLayerLists.size()); }
  TIconLayersList* LayerList(int index) const;

protected:
  void AssignTo(TPersistent* dest) override;
  void DoSetWidth(int) override {}
  void DoSetHeight(int) override {}

private:
  void PasteFromClipboard();

  std::unique_ptr<TAdvancedIcon> FIcon;
  std::vector<std::unique_ptr<TIconLayersList>> FLayerLists;
};

// Draws an image stretched into the rectangle: a 32-bit image blended with its
// alpha (onto the background colour unless it is clNone), any other through its
// mask.
void DrawSubIconStretched(TCanvas* canvas, int x, int y, int width, int height, TSubIcon& image, TColor background);

// Makes the icon a copy of the stored images of a project file, without flattening.
void LoadProjectIcon(TAdvancedIcon* icon, const std::string& fileName);

// Registers "ICPR" for TIconProject in the picture registry, and removes it again.
void RegisterIconProjectClass();
void UnregisterIconProjectClass();
