#pragma once
// TPicture holds one picture of any registered class, and the process-wide
// picture registry maps file extensions and clipboard formats onto classes. At
// start "bmp" is TBitmap, "ico" TIcon and CF_BITMAP TBitmap; later registrations
// of an extension come first, and a class can be unregistered again.
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics_graphic.h"

class TBitmap;
class TIcon;

struct TFileFormat {
  std::string extension;    // lower case, without the dot
  std::string description;
  TGraphicClass graphicClass;
};

class TPicture : public TPersistent {
public:
  TPicture() = default;
  ~TPicture() override;

  void Assign(TPersistent* source) override;

  TGraphic* Graphic() const { return FGraphic.get(); }
  // Holds a copy of the graphic (a new picture of its class, assigned from it);
  // nullptr empties the picture.
  void SetGraphic(TGraphic* value);
  // The picture as a bitmap or an icon; a picture of another class is replaced by
  // an empty one of the asked class.
  TBitmap* Bitmap();
  TIcon* Icon();
  int Width() const;
  int Height() const;

  // Picks the class by the file's extension (lower-cased, latest registration
  // first); EInvalidGraphic "Unknown picture file extension (.xyz)" when none.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette);
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette);

  static bool SupportsClipboardFormat(WORD format);
  static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                 const TGraphicClass& graphicClass);
  static void RegisterClipboardFormat(WORD format, const TGraphicClass& graphicClass);
  // Removes every file and clipboard registration of the class and of classes derived from it.
  static void UnregisterGraphicClass(const TGraphicClass& graphicClass);

  TNotifyEvent OnChange;

protected:
  void AssignTo(TPersistent* dest) override;
  virtual void Changed(TObject* sender);

private:
  void Adopt(std::unique_ptr<TGraphic> graphic);
  std::unique_ptr<TGraphic> FGraphic;
};

// The registered file formats, latest registration first.
std::vector<TFileFormat> RegisteredFileFormats();
// The class registered for an extension ("bmp" or ".BMP"); empty when none.
TGraphicClass FileFormatClass(const std::string& extension);
// Open-dialog filter of the formats of a class and its descendants:
// "All (*.bmp;*.ico)|*.bmp;*.ico|Bitmaps (*.bmp)|*.bmp|...".
std::string GraphicFilter(const TGraphicClass& graphicClass);
// The first registered extension of the class ("bmp").
std::string GraphicExtension(const TGraphicClass& graphicClass);
// "*.bmp;*.ico" for the class and its descendants.
std::string GraphicFileMask(const TGraphicClass& graphicClass);
