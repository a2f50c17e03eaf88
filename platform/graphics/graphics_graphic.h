#pragma once
// TGraphic, the abstract picture of the framework, and TGraphicClass, the factory
// by which the picture registry makes pictures of a registered class.
#include <functional>
#include <memory>
#include <string>
#include <typeindex>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_types.h"
#include "platform/rtl/object.h"

class TCanvas;
class TStream;

// Stages of a long operation on a picture (loading, saving, rendering).
enum TProgressStage : uint8_t { psStarting, psRunning, psEnding };
// sender, stage, percent done, whether the picture should be redrawn now, the part
// of the picture that changed (empty: unknown), a message for the user.
using TProgressEvent = std::function<void(TObject* sender, TProgressStage stage, uint8_t percentDone,
                                          bool redrawNow, const TRect& rect, const std::string& msg)>;

class TGraphic : public TPersistent {
public:
  TGraphic() = default;

  // Draws the picture stretched into the rectangle of the canvas.
  virtual void Draw(TCanvas* canvas, const TRect& rect) = 0;

  bool Empty() { return GetEmpty(); }
  int Width() { return GetWidth(); }
  int Height() { return GetHeight(); }
  void SetWidth(int value) { DoSetWidth(value); }
  void SetHeight(int value) { DoSetHeight(value); }
  virtual void SetSize(int width, int height);
  HPALETTE Palette() { return GetPalette(); }
  bool Transparent() { return GetTransparent(); }
  bool Modified() const { return FModified; }
  void SetModified(bool value);
  // Set by a picture whose palette had to change for its format, so that whoever
  // shows it realises the palette again; cleared by them.
  bool PaletteModified() const { return FPaletteModified; }
  void SetPaletteModified(bool value) { FPaletteModified = value; }

  virtual bool GetEmpty() = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  virtual HPALETTE GetPalette() { return nullptr; }
  // A graphic takes ownership of a palette it is given.
  virtual void SetPalette(HPALETTE palette) {}
  virtual bool GetTransparent() { return FTransparent; }
  virtual void SetTransparent(bool value);

  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName);
  // Clipboard data: a format number, a handle of that format and a palette. The
  // base class knows no format and raises EInvalidGraphic.
  virtual void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette);
  virtual void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette);

  // Equal when both are empty, or when they are of one class and save to the same bytes.
  virtual bool Equals(TGraphic* other);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;

protected:
  virtual void DoSetWidth(int value) = 0;
  virtual void DoSetHeight(int value) = 0;
  // Marks the picture modified and tells OnChange.
  virtual void Changed(TObject* sender);
  // Tells OnProgress, when set.
  virtual void Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const std::string& msg);

  friend class TPicture;

private:
  bool FModified = false;
  bool FPaletteModified = false;
  bool FTransparent = false;
};

// A class of pictures: makes new instances and knows its members. Made from a
// class with TGraphicClass::Of<TBitmap>(); two values name the same class when
// their types match.
class TGraphicClass {
public:
  TGraphicClass() = default;
  template <class T> static TGraphicClass Of() {
    TGraphicClass c;
    c.FType = std::type_index(typeid(T));
    c.FCreate = [] { return std::unique_ptr<TGraphic>(new T()); };
    c.FIsInstance = [](const TGraphic* g) { return dynamic_cast<const T*>(g) != nullptr; };
    Remember(c);
    return c;
  }

  explicit operator bool() const { return static_cast<bool>(FCreate); }
  std::unique_ptr<TGraphic> Create() const { return FCreate ? FCreate() : nullptr; }
  // The graphic is of this class or of a class derived from it.
  bool IsInstance(const TGraphic* graphic) const { return graphic && FIsInstance && FIsInstance(graphic); }
  // This class is the other one or derives from it.
  bool InheritsFrom(const TGraphicClass& base) const;
  bool operator==(const TGraphicClass& other) const { return FType == other.FType; }
  std::type_index Type() const { return FType; }

private:
  static void Remember(const TGraphicClass& c);

  std::type_index FType = std::type_index(typeid(void));
  std::function<std::unique_ptr<TGraphic>()> FCreate;
  std::function<bool(const TGraphic*)> FIsInstance;
};

// The class of an existing picture, when its class was ever named through
// TGraphicClass::Of (every registered class is); an empty value otherwise.
TGraphicClass GraphicClassOf(const TGraphic* graphic);
