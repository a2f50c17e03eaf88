#include "platform/ui/qt/qt_backend.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QThread>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QIcon>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeySequence>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <QWidget>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>

#include "platform/graphics/dib_header.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/row_bands.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/controls.h"
#include "platform/ui/messages.h"
#include "platform/ui/windows.h"
#include "platform/win/clipboard.h"
#include "platform/win/shell.h"

namespace {

// ---- keys ----

WORD VirtualKey(int key, Qt::KeyboardModifiers mods) {
  bool keypad = mods.testFlag(Qt::KeypadModifier);
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<WORD>('A' + (key - Qt::Key_A));
  if (key >= Qt::Key_0 && key <= Qt::Key_9)
    return static_cast<WORD>(keypad ? VK_NUMPAD0 + (key - Qt::Key_0) : '0' + (key - Qt::Key_0));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<WORD>(VK_F1 + (key - Qt::Key_F1));
  if (keypad) {
    switch (key) {
      case Qt::Key_Asterisk: return VK_MULTIPLY;
      case Qt::Key_Plus: return VK_ADD;
      case Qt::Key_Minus: return VK_SUBTRACT;
      case Qt::Key_Period:
      case Qt::Key_Comma: return VK_DECIMAL;
      case Qt::Key_Slash: return VK_DIVIDE;
      default: break;  // Enter and the arrows of a keypad without Num Lock map as the main keys do
    }
  }
  switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return VK_MENU;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_CapsLock: return VK_CAPITAL;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Help: return VK_HELP;
    case Qt::Key_NumLock: return VK_NUMLOCK;
    case Qt::Key_ScrollLock: return VK_SCROLL;
    case Qt::Key_Meta: return 0x5B;  // the left Windows key
    case Qt::Key_Menu: return 0x5D;  // the application key
    // The punctuation keys of a US layout, shifted or not.
    case Qt::Key_Semicolon: case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal: case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma: case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus: case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period: case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash: case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash: case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 0xDE;
    // Shifted digits arrive as their symbols; the key is still the digit's.
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_ParenRight: return '0';
    default: return 0;
  }
}

WPARAM MouseKeys(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
  WPARAM k = 0;
  if (buttons & Qt::LeftButton) k |= MK_LBUTTON;
  if (buttons & Qt::RightButton) k |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) k |= MK_MBUTTON;
  if (mods & Qt::ShiftModifier) k |= MK_SHIFT;
  if (mods & Qt::ControlModifier) k |= MK_CONTROL;
  return k;
}

LPARAM PackPoint(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// ---- a top-level window ----

class TQtWindow : public QWidget {
public:
  TQtWindow(HWND handle, TWindowKind kind)
      : QWidget(nullptr, kind == wkPopup ? Qt::ToolTip | Qt::FramelessWindowHint : Qt::Window), FHandle(handle), FKind(kind) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A menu or hint must not take activation from its form: the form's
    // losing it means the user clicked outside the program.
    if (kind == wkPopup) setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(kind == wkForm);
  }

  // Copies the dirty part of the backing bitmap and asks Qt to repaint just that.
  void Show(TBitmap* backing, const TRect& dirty) {
    int w = backing->Width(), h = backing->Height();
    if (w <= 0 || h <= 0) return;
    QRect area(dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top);
    if (FImage.width() != w || FImage.height() != h) {
      FImage = QImage(w, h, QImage::Format_RGB32);
      area = QRect(0, 0, w, h);
    }
    area &= QRect(0, 0, w, h);
    if (area.isEmpty()) return;
    // Rows are found here: neither picture's row lookup may run on the band
    // threads (the image may detach, the bitmap flushes drawing).
    const int left = area.left(), width = area.width(), top = area.top(), rows = area.height();
    uchar* const image = FImage.scanLine(top);
    const qsizetype imageStride = FImage.bytesPerLine();
    const auto* from = static_cast<const uint8_t*>(backing->ScanLine(top));
    const ptrdiff_t fromStride = rows > 1 ? static_cast<const uint8_t*>(backing->ScanLine(top + 1)) - from : 0;
    RunCopyBands(size_t(width) * 4 * size_t(rows), rows, [&](int first, int last) {
      for (int i = first; i <= last; ++i) {
        const auto* src = reinterpret_cast<const uint32_t*>(from + i * fromStride) + left;
        auto* dst = reinterpret_cast<uint32_t*>(image + i * imageStride) + left;
        for (int x = 0; x < width; ++x) dst[x] = src[x] | 0xFF000000u;
      }
    });
    update(area);
  }

  const QImage& Image() const { return FImage; }
  TWindowKind Kind() const { return FKind; }
  // The client rectangle last set from our side, so a move or resize we caused is not reported back.
  QRect FSetGeometry;

protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter p(this);
    QRect r = event->rect();
    // Only what the form's picture does not reach needs the window colour.
    if (!FImage.rect().contains(r)) p.fillRect(r, palette().window());
    // Forms are laid out at 96 DPI; on a scaled screen Qt scales the image with the window.
    p.drawImage(r.intersected(FImage.rect()), FImage, r.intersected(FImage.rect()));
  }

  void mousePressEvent(QMouseEvent* e) override { Mouse(e, 0); }
  void mouseReleaseEvent(QMouseEvent* e) override { Mouse(e, 1); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { Mouse(e, 2); }
  void mouseMoveEvent(QMouseEvent* e) override {
    QPoint g = e->globalPosition().toPoint(), l = e->position().toPoint();
    SetCursorPos(g.x(), g.y());
    PostMessage(FHandle, WM_MOUSEMOVE, MouseKeys(e->buttons(), e->modifiers()), PackPoint(l.x(), l.y()));
  }
  void wheelEvent(QWheelEvent* e) override {
    QPoint g = e->globalPosition().toPoint();
    SetCursorPos(g.x(), g.y());
    WORD keys = static_cast<WORD>(MouseKeys(e->buttons(), e->modifiers()));
    QPoint d = e->angleDelta();
    if (d.y() != 0)
      PostMessage(FHandle, WM_MOUSEWHEEL, MAKELONG(keys, static_cast<WORD>(static_cast<SHORT>(d.y()))), PackPoint(g.x(), g.y()));
    // Qt counts a tilt to the right as negative; the message counts it positive.
    if (d.x() != 0)
      PostMessage(FHandle, WM_MOUSEHWHEEL, MAKELONG(keys, static_cast<WORD>(static_cast<SHORT>(-d.x()))), PackPoint(g.x(), g.y()));
    e->accept();
  }
  void leaveEvent(QEvent*) override { PostMessage(FHandle, WM_MOUSELEAVE, 0, 0); }

  void keyPressEvent(QKeyEvent* e) override { Key(e, true); }
  void keyReleaseEvent(QKeyEvent* e) override { Key(e, false); }
  // Tab and Backtab are ours to move focus between controls, not Qt's.
  bool focusNextPrevChild(bool) override { return false; }

  void closeEvent(QCloseEvent* e) override {
    // The form decides (OnCloseQuery); it destroys the window itself when it closes.
    e->ignore();
    PostMessage(FHandle, WM_CLOSE, 0, 0);
  }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::WindowActivate) PostMessage(FHandle, WM_ACTIVATE, 1, 0);
    else if (e->type() == QEvent::WindowDeactivate) PostMessage(FHandle, WM_ACTIVATE, 0, 0);
    return QWidget::event(e);
  }
  void moveEvent(QMoveEvent*) override {
    QRect g = geometry();
    if (isVisible() && g.topLeft() != FSetGeometry.topLeft()) {
      FSetGeometry.moveTopLeft(g.topLeft());
      PostMessage(FHandle, WM_MOVE, 0, PackPoint(g.x(), g.y()));
    }
  }
  void resizeEvent(QResizeEvent*) override {
    QRect g = geometry();
    if (isVisible() && g.size() != FSetGeometry.size()) {
      FSetGeometry.setSize(g.size());
      PostSize();
    }
  }
  // Maximised, minimised or restored from the title bar or the taskbar.
  void changeEvent(QEvent* e) override {
    if (e->type() == QEvent::WindowStateChange && FKind == wkForm) PostSize();
    QWidget::changeEvent(e);
  }
  void PostSize() {
    QRect g = geometry();
    WPARAM kind = isMinimized() ? SIZE_MINIMIZED : isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
    PostMessage(FHandle, WM_SIZE, kind, PackPoint(g.width(), g.height()));
  }

  void dragEnterEvent(QDragEnterEvent* e) override {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
  }
  void dropEvent(QDropEvent* e) override {
    std::vector<std::string> files;
    for (const QUrl& url : e->mimeData()->urls())
      if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
    if (files.empty()) return;
    QPoint p = e->position().toPoint();
    HDROP drop = MakeDropFiles(files, POINT{p.x(), p.y()}, true);
    PostMessage(FHandle, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    e->acceptProposedAction();
  }

private:
  void Mouse(QMouseEvent* e, int kind) {
    UINT base;
    switch (e->button()) {
      case Qt::LeftButton: base = WM_LBUTTONDOWN; break;
      case Qt::RightButton: base = WM_RBUTTONDOWN; break;
      case Qt::MiddleButton: base = WM_MBUTTONDOWN; break;
      default: return;
    }
    QPoint g = e->globalPosition().toPoint(), l = e->position().toPoint();
    SetCursorPos(g.x(), g.y());
    PostMessage(FHandle, base + static_cast<UINT>(kind), MouseKeys(e->buttons(), e->modifiers()), PackPoint(l.x(), l.y()));
  }

  void Key(QKeyEvent* e, bool down) {
    WORD vk = VirtualKey(e->key(), e->modifiers());
    bool alt = e->modifiers().testFlag(Qt::AltModifier) || e->key() == Qt::Key_Alt;
    if (vk != 0) {
      UINT msg = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
      LPARAM flags = 1;
      if (!down) flags |= static_cast<LPARAM>(0xC0000000u);
      else if (e->isAutoRepeat()) flags |= static_cast<LPARAM>(0x40000000);
      PostMessage(FHandle, msg, vk, flags);
    }
    if (down && !alt)
      for (char32_t cp : e->text().toUcs4()) PostMessage(FHandle, WM_CHAR, static_cast<WPARAM>(cp), 1);
    e->accept();
  }

  HWND FHandle;
  TWindowKind FKind;
  QImage FImage;
};

Qt::CursorShape Shape(int cursor) {
  switch (cursor) {
    case crNone: return Qt::BlankCursor;
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crUpArrow: return Qt::UpArrowCursor;
    case crHourGlass:
    case crSQLWait: return Qt::WaitCursor;
    case crAppStart: return Qt::BusyCursor;
    case crDrag:
    case crMultiDrag: return Qt::DragCopyCursor;
    case crNoDrop:
    case crNo: return Qt::ForbiddenCursor;
    case crHSplit: return Qt::SplitHCursor;
    case crVSplit: return Qt::SplitVCursor;
    case crHelp: return Qt::WhatsThisCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

// ---- the desktop clipboard ----

const QString kPrivateMime = QStringLiteral("application/x-quorvane-");

// A BMP file of a packed DIB: the file header says where the pixels start,
// which the DIB's own header (read by the one DIB header reader) tells.
QByteArray BmpFromDib(const std::vector<uint8_t>& dib) {
  TDibHeader header;
  if (ReadDibHeader(dib.data(), dib.size(), header) != drNone) return {};
  uint64_t offset = 14 + header.BitsOffset();
  uint64_t size = 14 + dib.size();
  if (offset > size || size > 0x7FFFFFFF) return {};
  QByteArray file(14, '\0');
  auto put = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, static_cast<uint32_t>(size));
  put(10, static_cast<uint32_t>(offset));
  file.append(reinterpret_cast<const char*>(dib.data()), static_cast<qsizetype>(dib.size()));
  return file;
}

std::vector<uint8_t> Bytes(const QByteArray& a, int skip = 0) {
  if (a.size() <= skip) return {};
  return std::vector<uint8_t>(a.begin() + skip, a.end());
}

std::string FormatName(UINT format) {
  char name[256];
  int n = GetClipboardFormatName(format, name, sizeof name);
  return n > 0 ? std::string(name, static_cast<size_t>(n)) : std::string();
}

class TQtClipboardMirror : public TClipboardMirror {
public:
  // Our clipboard changed: the desktop gets the same contents.
  void ContentsChanged() override {
    if (!OnQtThread()) return;
    auto* data = new QMimeData;
    bool text = false;
    for (const TClipboardItem& item : ClipboardSnapshot()) {
      const auto& d = item.Data;
      if (item.Format == CF_UNICODETEXT && !text) {
        std::u16string wide;
        for (size_t i = 0; i + 1 < d.size(); i += 2) {
          char16_t c = static_cast<char16_t>(d[i] | d[i + 1] << 8);
          if (!c) break;
          wide.push_back(c);
        }
        data->setText(QString::fromStdU16String(wide));
        text = true;
      } else if (item.Format == CF_TEXT && !text) {
        size_t end = 0;
        while (end < d.size() && d[end]) ++end;
        data->setText(QString::fromUtf8(reinterpret_cast<const char*>(d.data()), static_cast<qsizetype>(end)));
        text = true;
      } else if (item.Format == CF_DIB) {
        QByteArray bmp = BmpFromDib(d);
        QImage image = QImage::fromData(bmp, "BMP");
        if (!image.isNull()) {
          data->setData(QStringLiteral("image/bmp"), bmp);
          data->setImageData(image);
        }
      } else if (item.Format >= 0xC000) {
        std::string name = FormatName(item.Format);
        if (name.empty()) continue;
        QByteArray bytes(reinterpret_cast<const char*>(d.data()), static_cast<qsizetype>(d.size()));
        if (name == "PNG") data->setData(QStringLiteral("image/png"), bytes);
        else data->setData(kPrivateMime + QString::fromStdString(name), bytes);
      }
    }
    FOurs = data;
    QGuiApplication::clipboard()->setMimeData(data);
  }

  // The program opens the clipboard: what another program put on the desktop's comes in first.
  void BeforeOpen() override {
    if (!OnQtThread()) return;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || data == FOurs || data->formats().isEmpty()) return;
    std::vector<TClipboardItem> items;
    if (data->hasText()) {
      std::u16string wide = data->text().toStdU16String();
      TClipboardItem item{CF_UNICODETEXT, {}};
      for (char16_t c : wide) {
        item.Data.push_back(static_cast<uint8_t>(c & 0xFF));
        item.Data.push_back(static_cast<uint8_t>(c >> 8));
      }
      item.Data.insert(item.Data.end(), {0, 0});
      items.push_back(std::move(item));
    }
    QImage image = qvariant_cast<QImage>(data->imageData());
    if (!image.isNull()) {
      QByteArray bmp;
      QBuffer buffer(&bmp);
      buffer.open(QIODevice::WriteOnly);
      if (image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32).save(&buffer, "BMP"))
        items.push_back({CF_DIB, Bytes(bmp, 14)});
    }
    QByteArray png = data->data(QStringLiteral("image/png"));
    if (png.isEmpty() && !image.isNull()) {
      QBuffer buffer(&png);
      buffer.open(QIODevice::WriteOnly);
      image.save(&buffer, "PNG");
    }
    if (!png.isEmpty()) items.push_back({RegisterClipboardFormat("PNG"), Bytes(png)});
    for (const QString& mime : data->formats())
      if (mime.startsWith(kPrivateMime))
        items.push_back({RegisterClipboardFormat(mime.mid(kPrivateMime.size()).toStdString().c_str()), Bytes(data->data(mime))});
    if (items.empty()) return;
    ReplaceClipboardContents(items);
    // Taken in: until the desktop's clipboard changes again, ours is the newer.
    FOurs = data;
  }

private:
  static bool OnQtThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
  }
  const QMimeData* FOurs = nullptr;
};

// ---- icons and cursors ----

// An icon or cursor of ours as an image with alpha. It is drawn over black and
// over white: where the two differ, the icon lets the background through.
QImage IconImage(HICON icon, QPoint* hotspot) {
  ICONINFO info;
  if (!icon || !GetIconInfo(icon, &info)) return {};
  BITMAP bm{};
  int w = 0, h = 0;
  if (info.hbmColor && GetObject(info.hbmColor, sizeof bm, &bm)) {
    w = bm.bmWidth;
    h = bm.bmHeight;
  } else if (info.hbmMask && GetObject(info.hbmMask, sizeof bm, &bm)) {
    w = bm.bmWidth;
    h = bm.bmHeight / 2;  // a monochrome cursor: AND mask above XOR mask
  }
  if (hotspot) *hotspot = QPoint(static_cast<int>(info.xHotspot), static_cast<int>(info.yHotspot));
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (w <= 0 || h <= 0 || w > 1024 || h > 1024) return {};
  BITMAPINFO bi{};
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  HDC dc = CreateCompatibleDC(nullptr);
  uint32_t* px[2] = {nullptr, nullptr};
  HBITMAP dib[2] = {nullptr, nullptr};
  for (int k = 0; k < 2; ++k) {
    void* bits = nullptr;
    dib[k] = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib[k] || !bits) continue;
    px[k] = static_cast<uint32_t*>(bits);
    std::fill(px[k], px[k] + static_cast<size_t>(w) * h, k ? 0x00FFFFFFu : 0u);
    HGDIOBJ old = SelectObject(dc, dib[k]);
    DrawIconEx(dc, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    SelectObject(dc, old);
  }
  QImage image;
  if (px[0] && px[1]) {
    image = QImage(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
      auto* out = reinterpret_cast<uint32_t*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) {
        uint32_t b = px[0][y * w + x], wt = px[1][y * w + x];
        int through = 0;
        for (int sh = 0; sh < 24; sh += 8)
          through = std::max(through, static_cast<int>((wt >> sh) & 0xFF) - static_cast<int>((b >> sh) & 0xFF));
        int alpha = 255 - through;
        uint32_t c = 0;
        if (alpha > 0)
          for (int sh = 0; sh < 24; sh += 8)
            c |= static_cast<uint32_t>(std::min(255, static_cast<int>((b >> sh) & 0xFF) * 255 / alpha)) << sh;
        out[x] = c | static_cast<uint32_t>(alpha) << 24;
      }
    }
  }
  for (HBITMAP d : dib)
    if (d) DeleteObject(d);
  DeleteDC(dc);
  return image;
}

class TQtBackend;
TQtBackend* gQt = nullptr;

class TQtBackend : public TUIBackend {
public:
  TQtBackend() {
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "quorvane";
      static char* argv[] = {name, nullptr};
      FApp = std::make_unique<QApplication>(argc, argv);
    }
    FTimeout.setSingleShot(true);
    FClock.start();
    gQt = this;
    SetClipboardMirror(&FMirror);
  }
  ~TQtBackend() override {
    SetClipboardMirror(nullptr);
    FWindows.clear();
    if (gQt == this) gQt = nullptr;
  }

  std::string Name() const override { return "qt"; }

  void CreateWindow(HWND window, TWindowKind kind, HWND owner) override {
    FWindows[window] = std::make_unique<TQtWindow>(window, kind);
    if (kind == wkForm && owner) {
      FOwners[window] = owner;
      PlaceUnderOwner(window);
    }
  }
  void DestroyWindow(HWND window) override {
    if (FCapture == window) FCapture = nullptr;
    // Qt deletes a widget's children with it; owned windows are ours to delete.
    if (TQtWindow* w = Find(window))
      for (auto& [handle, other] : FWindows)
        if (other->parentWidget() == w) {
          bool shown = other->isVisible();
          other->setParent(nullptr, Qt::Window);
          if (shown) other->show();
        }
    FOwners.erase(window);
    FOwnButtons.erase(window);
    FWindows.erase(window);
  }
  void SetWindowTaskbarButton(HWND window, bool own) override {
    FOwnButtons[window] = own;
    PlaceUnderOwner(window);
  }
  // An owned form is a transient window of its owner's (kept above it, no
  // taskbar entry of its own) unless it asked for its own taskbar button.
  void PlaceUnderOwner(HWND window) {
    TQtWindow* w = Find(window);
    auto owner = FOwners.find(window);
    if (!w || owner == FOwners.end()) return;
    auto own = FOwnButtons.find(window);
    QWidget* parent = own != FOwnButtons.end() && own->second ? nullptr : Find(owner->second);
    if (w->parentWidget() == parent) return;
    bool shown = w->isVisible();
    QRect g = w->geometry();
    w->setParent(parent, Qt::Window);
    w->setGeometry(g);
    if (shown) w->show();
  }
  // The window a form's Qt window stays above; nullptr when it stands alone.
  HWND TransientOwner(HWND window) {
    TQtWindow* w = Find(window);
    if (!w || !w->parentWidget()) return nullptr;
    for (auto& [handle, other] : FWindows)
      if (other.get() == w->parentWidget()) return handle;
    return nullptr;
  }
  void SetWindowBounds(HWND window, const TRect& client) override {
    if (TQtWindow* w = Find(window)) {
      QRect r(client.left, client.top, client.right - client.left, client.bottom - client.top);
      w->FSetGeometry = r;
      w->setGeometry(r);
    }
  }
  void SetWindowCaption(HWND window, const std::string& caption) override {
    if (TQtWindow* w = Find(window)) w->setWindowTitle(QString::fromStdString(caption));
  }
  void SetWindowIcon(HWND window, HICON icon) override {
    TQtWindow* w = Find(window);
    if (!w) return;
    QImage image = IconImage(icon, nullptr);
    w->setWindowIcon(image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
  }
  void ShowWindow(HWND window, int showCommand) override {
    TQtWindow* w = Find(window);
    if (!w) return;
    switch (showCommand) {
      case SW_HIDE: w->hide(); break;
      case SW_SHOWMINIMIZED: w->showMinimized(); break;
      case SW_SHOWMAXIMIZED: w->showMaximized(); break;
      default: w->showNormal(); break;
    }
  }
  void EnableWindow(HWND window, bool enabled) override {
    if (TQtWindow* w = Find(window)) w->setEnabled(enabled);
  }
  void ActivateWindow(HWND window) override {
    if (TQtWindow* w = Find(window)) {
      w->raise();
      // A popup comes to the top without taking activation from its form.
      if (w->Kind() != wkPopup) w->activateWindow();
    }
  }
  void Present(HWND window, TBitmap* backing, const TRect& dirty) override {
    if (TQtWindow* w = Find(window)) w->Show(backing, dirty);
  }
  void SetCapture(HWND window) override {
    if (FCapture && FCapture != window)
      if (TQtWindow* old = Find(FCapture)) old->releaseMouse();
    FCapture = nullptr;
    if (TQtWindow* w = Find(window); w && w->isVisible()) {
      w->grabMouse();
      FCapture = window;
    }
  }
  void SetCursor(HWND window, int standardCursor, HCURSOR cursor) override {
    TQtWindow* w = Find(window);
    if (!w) return;
    QPoint hot;
    QImage image = cursor ? IconImage(cursor, &hot) : QImage();
    if (!image.isNull()) w->setCursor(QCursor(QPixmap::fromImage(image), hot.x(), hot.y()));
    else if (standardCursor == crDefault) w->unsetCursor();
    else w->setCursor(Shape(standardCursor));
  }
  TPoint CursorPos() override {
    QPoint p = QCursor::pos();
    return Point(p.x(), p.y());
  }

  void WaitForEvents(uint32_t timeoutMs) override {
    if (FWoken.exchange(false) || timeoutMs == 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      return;
    }
    if (timeoutMs != 0xFFFFFFFFu) FTimeout.start(static_cast<int>(std::min<uint32_t>(timeoutMs, 0x7FFFFFFF)));
    // Returns once Qt handled something: input, the timeout above, or a Wake.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    FTimeout.stop();
  }
  void Wake() override {
    FWoken = true;
    // Safe from any thread; a wake that comes before the wait makes the wait return at once.
    if (auto* d = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread())) d->wakeUp();
  }
  uint64_t Now() override { return static_cast<uint64_t>(FClock.elapsed()); }

  TRect ScreenRect() override {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return Rect(0, 0, 1024, 768);
    QRect g = s->geometry();
    return Rect(g.left(), g.top(), g.left() + g.width(), g.top() + g.height());
  }
  TRect WorkArea() override {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return ScreenRect();
    QRect g = s->availableGeometry();
    return Rect(g.left(), g.top(), g.left() + g.width(), g.top() + g.height());
  }
  bool CaptureScreen(const TRect& area, TBitmap* bitmap) override {
    int w = area.right - area.left, h = area.bottom - area.top;
    QScreen* s = QGuiApplication::primaryScreen();
    if (!bitmap || w <= 0 || h <= 0 || !s) return false;
    QPixmap shot = s->grabWindow(0, area.left, area.top, w, h);
    // A desktop that refuses (plain Wayland) hands back nothing.
    if (shot.isNull()) return false;
    QImage image = shot.toImage().convertToFormat(QImage::Format_RGB32).scaled(w, h);
    ToBitmap(image, bitmap);
    return true;
  }

  TQtWindow* Find(HWND window) {
    auto it = FWindows.find(window);
    return it == FWindows.end() ? nullptr : it->second.get();
  }

  static void ToBitmap(const QImage& image, TBitmap* bitmap) {
    bitmap->SetPixelFormat(pf32bit);
    bitmap->SetSize(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y)
      std::memcpy(bitmap->ScanLine(y), image.constScanLine(y), static_cast<size_t>(image.width()) * 4);
  }

private:
  std::unique_ptr<QApplication> FApp;  // declared first so it outlives the windows
  std::map<HWND, std::unique_ptr<TQtWindow>> FWindows;
  std::map<HWND, HWND> FOwners;
  std::map<HWND, bool> FOwnButtons;
  HWND FCapture = nullptr;
  QTimer FTimeout;
  QElapsedTimer FClock;
  std::atomic<bool> FWoken{false};
  TQtClipboardMirror FMirror;
};

TQtWindow* FindWindow(HWND window) { return gQt ? gQt->Find(window) : nullptr; }

}  // namespace

std::unique_ptr<TUIBackend> MakeQtBackend() {
  if (!QApplication::instance()) {
    // QApplication aborts the program when it finds no display; ask first.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    bool offscreen = platform && (std::strcmp(platform, "offscreen") == 0 || std::strcmp(platform, "minimal") == 0);
    if (!offscreen && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return nullptr;
  }
  return std::make_unique<TQtBackend>();
}

std::string ChooseUIBackendName(const std::function<const char*(const char*)>& getenv) {
  auto set = [&](const char* name) {
    const char* v = getenv(name);
    return v && *v;
  };
  if (const char* ui = getenv("QUORVANE_UI"); ui && std::strcmp(ui, "headless") == 0) return "headless";
  if (const char* p = getenv("QT_QPA_PLATFORM"); p && (std::strcmp(p, "offscreen") == 0 || std::strcmp(p, "minimal") == 0))
    return "qt";
  return set("DISPLAY") || set("WAYLAND_DISPLAY") ? "qt" : "headless";
}

std::string StartUIBackend() {
  if (ChooseUIBackendName([](const char* n) { return std::getenv(n); }) == "qt")
    if (auto qt = MakeQtBackend()) {
      SetUIBackend(std::move(qt));
      return "qt";
    }
  SetUIBackend(nullptr);
  return UIBackend().Name();
}

namespace qtinput {

void Click(HWND window, int x, int y) {
  TQtWindow* w = FindWindow(window);
  if (!w) return;
  QPointF local(x, y), global = w->mapToGlobal(QPointF(x, y));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &release);
}

void Key(HWND window, const std::string& key) {
  TQtWindow* w = FindWindow(window);
  QKeySequence seq = QKeySequence::fromString(QString::fromStdString(key), QKeySequence::PortableText);
  if (!w || seq.isEmpty()) return;
  QKeyCombination combo = seq[0];
  int k = combo.key();
  Qt::KeyboardModifiers mods = combo.keyboardModifiers();
  QString text;
  if (k == Qt::Key_Space) text = " ";
  else if (k == Qt::Key_Return || k == Qt::Key_Enter) text = "\r";
  else if (k >= 0x21 && k <= 0x7E && !(mods & (Qt::ControlModifier | Qt::AltModifier)))
    text = mods & Qt::ShiftModifier ? QString(QChar(k)) : QString(QChar(k)).toLower();
  // Ctrl and Shift go down before the key and up after it, as a keyboard sends
  // them, so the program's key state sees them held.
  std::vector<std::pair<int, Qt::KeyboardModifier>> held;
  if (mods & Qt::ControlModifier) held.push_back({Qt::Key_Control, Qt::ControlModifier});
  if (mods & Qt::ShiftModifier) held.push_back({Qt::Key_Shift, Qt::ShiftModifier});
  Qt::KeyboardModifiers down;
  for (const auto& [modifierKey, mod] : held) {
    down |= mod;
    QKeyEvent e(QEvent::KeyPress, modifierKey, down);
    QCoreApplication::sendEvent(w, &e);
  }
  QKeyEvent press(QEvent::KeyPress, k, mods, text);
  QCoreApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, k, mods, text);
  QCoreApplication::sendEvent(w, &release);
  for (auto it = held.rbegin(); it != held.rend(); ++it) {
    down &= ~it->second;
    QKeyEvent e(QEvent::KeyRelease, it->first, down);
    QCoreApplication::sendEvent(w, &e);
  }
}

void RequestClose(HWND window) {
  if (TQtWindow* w = FindWindow(window)) {
    QCloseEvent e;
    QCoreApplication::sendEvent(w, &e);
  }
}

bool Grab(HWND window, TBitmap* bitmap) {
  TQtWindow* w = FindWindow(window);
  if (!w || !bitmap) return false;
  // The window as Qt paints it, in device pixels of a 96 DPI form.
  QPixmap shot = w->grab();
  TQtBackend::ToBitmap(shot.toImage().convertToFormat(QImage::Format_RGB32), bitmap);
  return true;
}

}  // namespace qtinput

namespace qtinput {

void DropFiles(HWND window, const std::vector<std::string>& files, int x, int y) {
  TQtWindow* w = FindWindow(window);
  if (!w) return;
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& f : files) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(f)));
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(x, y), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &enter);
  QDropEvent drop(QPointF(x, y), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &drop);
}

std::string DesktopClipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

void SetDesktopClipboardText(const std::string& text) {
  QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

bool DesktopClipboardImage(TBitmap* bitmap) {
  QImage image = QGuiApplication::clipboard()->image();
  if (image.isNull() || !bitmap) return false;
  TQtBackend::ToBitmap(image.convertToFormat(QImage::Format_RGB32), bitmap);
  return true;
}

void SetDesktopClipboardImage(TBitmap* bitmap) {
  QImage image(bitmap->Width(), bitmap->Height(), QImage::Format_RGB32);
  for (int y = 0; y < bitmap->Height(); ++y)
    std::memcpy(image.scanLine(y), bitmap->ScanLine(y), static_cast<size_t>(bitmap->Width()) * 4);
  QGuiApplication::clipboard()->setImage(image);
}

}  // namespace qtinput

namespace qtinput {

HWND TransientOwner(HWND window) { return gQt ? gQt->TransientOwner(window) : nullptr; }

void DeactivateProgram(HWND window) {
  if (TQtWindow* w = FindWindow(window)) {
    QEvent e(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(w, &e);
  }
}

void SetDesktopWindowState(HWND window, int showCommand) {
  TQtWindow* w = FindWindow(window);
  if (!w) return;
  w->setWindowState(showCommand == SW_SHOWMAXIMIZED   ? Qt::WindowMaximized
                    : showCommand == SW_SHOWMINIMIZED ? Qt::WindowMinimized
                                                      : Qt::WindowNoState);
}

bool WindowIconImage(HWND window, TBitmap* bitmap) {
  TQtWindow* w = FindWindow(window);
  if (!w || !bitmap || w->windowIcon().isNull()) return false;
  QList<QSize> sizes = w->windowIcon().availableSizes();
  QSize size = sizes.isEmpty() ? QSize(32, 32) : sizes.front();
  QImage image = w->windowIcon().pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
  TQtBackend::ToBitmap(image, bitmap);
  return true;
}

}  // namespace qtinput
