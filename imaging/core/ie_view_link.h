#pragma once
// What the library's non-visual components ask of the view they are attached
// to. The image views implement it; the input/output and processing components
// see a view only through it, so they do not depend on the view code.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TBitmap;
class TComponent;
class TIEBitmap;
class TObject;
class TStream;

// The resolution a picture gets when its file tells none, and the one every new
// view starts with. The views may change it at start-up.
extern int32_t gDefaultDPIX;
extern int32_t gDefaultDPIY;

// The messages background work posts to a view's window, handled on the
// user-interface thread: refresh (wParam 1: the image-changed hook follows),
// progress (wParam the percentage) and finish.
constexpr uint32_t kIEViewMsgUpdate = 0x0400 + 7000;
constexpr uint32_t kIEViewMsgProgress = 0x0400 + 7003;
constexpr uint32_t kIEViewMsgFinish = 0x0400 + 7004;

class TIEViewLink;
// (data, view, code): code 0 the view's bitmap changed, 1 the view is going away.
using TIEBitmapChangeEvent = std::function<void(TObject* data, TIEViewLink* view, int code)>;

// Which class of view stands behind the interface, where the components treat
// them differently (only a single-image view takes resolutions and layers, a
// thumbnail grid keeps its own background).
enum TIEViewKind : uint8_t { ievkBase, ievkImageView, ievkMultiView, ievkVectView };

class TIEViewLink {
public:
  virtual ~TIEViewLink() = default;
  virtual TComponent* ViewComponent() = 0;
  virtual TIEViewKind ViewKind() const = 0;

  virtual TBitmap* GetBitmap() = 0;
  virtual TIEBitmap* GetIEBitmap() = 0;
  // The returned handle stays valid until removed or until the view ends.
  virtual void* AddBitmapChangeHandler(TIEBitmapChangeEvent callback, TObject* data) = 0;
  virtual void RemoveBitmapChangeHandler(void* handle) = 0;

  virtual void Update() = 0;
  virtual void ImageChange() = 0;
  // Posts message to the view's window from any thread; false when the view
  // has no parent window to receive it.
  virtual bool PostToWindow(uint32_t message, uintptr_t wParam) { return false; }

  virtual int32_t DpiX() const = 0;
  virtual int32_t DpiY() const = 0;
  // 0 leaves the value as it was.
  virtual void SetDpiX(int32_t value) = 0;
  virtual void SetDpiY(int32_t value) = 0;
  virtual void SetDPI(int32_t x, int32_t y) {
    SetDpiX(x);
    SetDpiY(y);
  }
  // The update lock of a single-image view: held while the resolution is passed
  // on, released without a repaint.
  virtual void LockUpdate() = 0;
  virtual void UnlockUpdateNoRefresh() = 0;

  virtual uint32_t Background() const = 0;
  virtual void SetBackground(uint32_t color) = 0;

  // Layer files of a single-image view and of a vector view.
  virtual void SaveLayersToFile(const std::string& fileName) = 0;
  virtual void SaveAllToFile(const std::string& fileName) = 0;

  // Layered files and streams a view reads itself (code 25 vector objects, 26
  // layers, 27 layers and objects): false when the view does not read that code
  // or could not read the data, the view then as it was.
  virtual bool LoadLayeredFile(const std::string& fileName, int code) { return false; }
  virtual bool LoadLayeredStream(TStream& stream, int code) { return false; }

  // The layer list as the input/output component's PSD loads and saves use it
  // (views without layers answer as having one layer and do nothing).
  // Removes every layer but layer 0, which is reset to its defaults.
  virtual void ClearLayers() {}
  // Appends an empty layer, makes it current and answers its index (-1: none).
  virtual int AddLayer() { return -1; }
  virtual int LayerCount() { return 1; }
  // Copies the layer record (an object the view's layer slots made) into layer
  // index: content, position and behaviour.
  virtual void CopyLayerIn(int index, TObject& layer) {}
  // Layer index reset to its defaults and made width x height, 24-bit, with a
  // wholly transparent alpha channel.
  virtual void MakeTransparentLayer(int index, int width, int height) {}
  // Every layer composed into dest (resized to the union of the layers).
  virtual void LayersDrawTo(TIEBitmap* dest) {}
  // Layers a reader made (records of the view's own layer class, still owned
  // by the caller) put into the view: replacing its layers or added above
  // them, on a canvas of width x height.
  virtual void TakeReadLayers(const std::vector<TObject*>& layers, bool replace, int width, int height) {}
  // The layer records in order, for a writer that stores them (not owned).
  virtual std::vector<TObject*> LayerRecords() { return {}; }
};
