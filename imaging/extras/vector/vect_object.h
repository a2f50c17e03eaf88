#pragma once
// The record of one vector object, its kinds, the special ids, the measure
// units and the extended-object classes. The vector view keeps these records;
// its streams, drawing and painters all work on them.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_types.h"
#include "platform/win/win_types.h"

class TBitmap;
class TImageLibVect;
class TStream;

enum TIEVKind : uint8_t {
  ievkNone = 0,
  ievkLine = 1,
  ievkBox = 2,
  ievkEllipse = 3,
  ievkArc = 4,
  ievkBitmap = 5,
  ievkText = 6,
  ievkRuler = 7,
  ievkPolyline = 8,
  ievkAngle = 9,
  ievkMemo = 10,
  ievkLineLabel = 11,
  ievkExtended = 12,
};

enum TIEUnits : uint8_t {
  ieuPIXELS, ieuINCHES, ieuKM, ieuMETERS, ieuCENTIMETERS, ieuMILLIMETERS, ieuMICRONS, ieuNANOMETERS,
  ieuFEET, ieuYARDS, ieuMILES
};
constexpr int kIEUnitCount = 11;
// "pixels", "inches", ...: the unit words of the measure texts.
const char* IEUnitName(int unit);
// One image pixel in the unit at dpi (before any measure scale); 1 for pixels.
double IEUnitFactor(int unit, double dpi);

// Special object ids.
constexpr int32_t IEV_DEFAULT_OBJECT = -1;
constexpr int32_t IEV_PREVIOUS_INSERTED_OBJECT = -2;
constexpr int32_t IEV_ALL_OBJECTS = -3;
constexpr int32_t IEV_NO_OBJECT = -4;
constexpr int32_t IEV_ALL_SELECTED_OBJECTS = -9;

// Flags of an object.
constexpr uint8_t ievfSelectable = 1, ievfMoveable = 2, ievfSizeable = 4, ievfVisible = 8, ievfHideGrips = 16;

// x of an angle point not placed yet.
constexpr int32_t kIEVUnsetPoint = -1000000;

// The memo's character format record, as the text control lays it out. The
// model keeps it as bytes; the text control reads them.
constexpr int kIECharFormatSize = 280;
using TIECharFormatBytes = std::array<uint8_t, kIECharFormatSize>;

struct TIEDPoint {
  double x = 0, y = 0;
};

struct TIEVSoftShadow {
  bool Enabled = false;
  double Radius = 3.0;
  int32_t OffsetX = 0, OffsetY = 0;
  int32_t Intensity = 100;
  // blue, green, red as stored
  uint8_t ShadowB = 0, ShadowG = 0, ShadowR = 0;
};

// The font quality byte of the LOGFONT for FontQuality 0..6.
uint8_t IEVFontQualityValue(int fontQuality);

class TIEVCustomObject;

// The fields of an object that copy as values. Owned parts sit in TIEVObject.
struct TIEVObjectFields {
  int32_t X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  TIEVKind Kind = ievkNone;
  int32_t Transparency = 255;
  bool KeepAspectRatio = false;
  uint8_t BlendMode = 0;
  int32_t Layer = 0;
  uint8_t BeginShape = 0, EndShape = 0;
  int32_t ShapeWidth = 10, ShapeHeight = 20;
  TColor LabelBrushColor = 0xFFFFFF;
  uint8_t LabelBrushStyle = bsSolid;
  uint8_t LabelPosition = 1;
  uint8_t LabelBorder = 1;
  TRect LabelRect{};
  TColor PenColor = 0;
  uint8_t PenStyle = psSolid;
  int32_t PenWidth = 1;
  TColor BrushColor = 0xFFFFFF;
  uint8_t BrushStyle = bsClear;
  bool AndFill = false;
  double StartAngle = 0, EndAngle = 6.283185307179586;
  int32_t BitmapIndex = -1;
  bool BitmapOption = false;
  uint8_t FontQuality = 0;
  uint8_t TextAlign = 0;
  bool TextAutoSize = false;
  bool MemoFixedFont = true;
  int32_t CurveCharAngle = -10;
  bool TextEditable = true;
  int32_t MemoLineSpacing = 0;
  TColor MemoBorderColor = 0xFFFFFF;
  uint8_t MemoBorderStyle = psSolid;
  int32_t MemoDefaultLineHeight = 0;
  bool MemoHasBitmap = false;
  double MemoFrame[4] = {0, 0, 0, 0};
  uint8_t MemoBackBrushStyle = bsSolid;
  int32_t UserValue = 0;
  uint8_t Flags = ievfSelectable | ievfMoveable | ievfSizeable | ievfVisible;
  uint8_t RulerUnit = ieuPIXELS;
  uint8_t RulerType = 2;
  int32_t PointCapacity = 0;
  TRect PointsBase{};
  bool Closed = false;
  TPoint AnglePoints[3] = {{0, 0}, {50, 0}, {50, 50}};
  TRect DownRect{};
  TRect DrawnRect{};
  int32_t DrawnPenWidth = 0;
  TIEVSoftShadow SoftShadow;
  // The caller's buffer (not owned) or the record's own one (UserDataStore).
  void* UserData = nullptr;
  int32_t UserDataLen = 0;
};

struct TIEVObject : TIEVObjectFields {
  TIEVObject();
  ~TIEVObject();
  TIEVObject(const TIEVObject&) = delete;
  TIEVObject& operator=(const TIEVObject&) = delete;

  // Empty text stands for none.
  std::string Text;
  std::string AuxText;
  std::unique_ptr<LOGFONTA> Font;
  std::vector<TIEDPoint> CurvePoints;
  std::vector<int32_t> CharFormatIndex;
  std::vector<TIECharFormatBytes> CharFormats;
  std::vector<TPoint> Points;
  std::vector<TPoint> ViewPoints;
  std::unique_ptr<TIEVCustomObject> Extended;
  std::vector<uint8_t> UserDataStore;
  // False once FreeObjectRec released the record: its id names nothing.
  bool Live = true;

  int CurvePointCount() const { return static_cast<int>(CurvePoints.size()); }
  int PointCount() const { return static_cast<int>(Points.size()); }
  bool HasCharFormatIndex() const { return !CharFormatIndex.empty(); }
};

// The base of extended object classes, registered by name.
class TIEVCustomObject {
public:
  TIEVCustomObject() = default;
  virtual ~TIEVCustomObject() = default;
  virtual void Init() {}
  virtual void Reserved() {}
  virtual void SetId(int32_t id) { FId = id; }
  virtual void SaveToStream(TStream& stream) {}
  virtual void LoadFromStream(TStream& stream) {}
  virtual std::unique_ptr<TIEVCustomObject> Clone() = 0;
  virtual void MouseDown(int button, uint16_t shift, int x, int y) {}
  virtual void MouseUp(int button, uint16_t shift, int x, int y) {}
  virtual void MouseMove(uint16_t shift, int x, int y) {}
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  virtual void KeyDown(uint16_t charCode, uint16_t shift) {}
  virtual void Draw(TBitmap* destination, int x1, int y1, int x2, int y2, bool drawingAlpha, double zx, double zy) {}

  TImageLibVect* Owner = nullptr;
  TIEVObject* Record = nullptr;
  int32_t Id() const { return FId; }
  int32_t Value = 0;

protected:
  int32_t FId = -1;
};

using TIEVCustomObjectFactory = std::function<std::unique_ptr<TIEVCustomObject>()>;

// The registry of extended-object classes: created empty by the vector unit's
// start-up and freed by its shutdown. Names compare exactly.
void RegisterExtendedObjectClass(const std::string& name, const std::type_info& type, TIEVCustomObjectFactory factory);
template <class T>
void RegisterExtendedObjectClass(const std::string& name) {
  RegisterExtendedObjectClass(name, typeid(T), [] { return std::unique_ptr<TIEVCustomObject>(new T()); });
}
std::unique_ptr<TIEVCustomObject> CreateExtendedObject(const std::string& name);
// The name the class of object was registered with; empty when none.
std::string GetExtendedObjectClassName(const TIEVCustomObject& object);

// The vector unit's start-up step: the clipboard format "IMAGELIB VECT", the
// twelve Ctrl shortcuts of the text editor and the empty class registry.
void InitVectUnit();
void DoneVectUnit();
UINT VectClipboardFormat();
// The shortcuts (key code plus the Ctrl flag 0x4000) in the order of their
// editor actions: left, centre, right, justify, copy, cut, paste, font, bold,
// italic, underline, background.
const std::array<uint16_t, 12>& VectEditorShortcuts();
