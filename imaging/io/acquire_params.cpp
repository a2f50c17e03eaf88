#include "imaging/io/acquire_params.h"

#include <cstdio>
#include <mutex>

#include "imaging/core/ie_palette_dialog.h"
#include "platform/rtl/sysutils.h"
#include "platform/rtl/threads.h"
#include "platform/ui/windows.h"
#include "platform/win/ole.h"
#include "platform/win/resources.h"

// ---- TWAIN settings ----

TIETwainParams::TIETwainParams(TComponent* owner) : TComponent(owner) { Reset(); }

TIETwainParams::~TIETwainParams() {
  ReleaseTwainSession(Shared, OwnerWindowHandle(Owner()));
  Reset();
}

void TIETwainParams::Reset() {
  VisibleDialog = true;
  ShowSettingsOnly = false;
  CapabilityBlocks.clear();
  LastError = 0;
  AcquireFrameEnabled = false;
  UseMemoryTransfer = false;
  for (TIEDoubleList* l : {&XResolution, &YResolution, &XScaling, &YScaling, &Contrast, &Brightness, &Threshold,
                           &Rotation})
    l->Clear();
  for (TIEIntegerList* l : {&PixelType, &BitDepth, &Orientation, &StandardSize}) l->Clear();
  Gamma = 2.2;
  std::fill(std::begin(Reserved1), std::end(Reserved1), 0);
  // The owner's kind decides whether pages come one or many.
  const bool multi = dynamic_cast<TIEMultiImageComponent*>(Owner()) != nullptr;
  AcquireMultiplePages = FeederEnabled = AutoFeed = multi;
  ProgressIndicators = true;
  std::fill(std::begin(Reserved2), std::end(Reserved2), 0);
  AutoBrightness = AutoDeskew = true;
  AutoBorderDetection = false;
  BufferedTransfer = 0;
  std::fill(std::begin(Reserved3), std::end(Reserved3), 0);
  DuplexMode = -2;
  PaperSize = 0;
  PhysicalWidth = PhysicalHeight = -1.0;
  Compression = -2;
  FilmScanMode = AutoRotate = false;
  Units = 0;
  SourceName = Manufacturer = ProductFamily = ProductName = "n/a";
  LogLevel = 0;
  SourceIndex = -1;
  TransferCount = 1;
  TransferStream.Clear();
  Spare = 0;
  SelectedSource.clear();
}

// ---- WIA ----

TWiaDevMgrFactory& WiaDevMgrFactory() {
  static TWiaDevMgrFactory factory;
  return factory;
}

HRESULT TWiaEventCallBack::ImageEventCallback(TIEWiaEvent event) {
  if (FOwner == nullptr) return S_OK;
  uint8_t code = 0;
  switch (event) {
    case iewTreeUpdated: code = 1; break;
    case iewItemCreated: code = 2; break;
    case iewItemDeleted: code = 3; break;
    default: return S_OK;
  }
  FOwner->EventArrived(code);
  return S_OK;
}

TIEWia::TIEWia(TComponent* owner) : FOwner(owner), FAlive(std::make_shared<TIEWia*>(this)) {
  FOleInitialized = SUCCEEDED(OleInitialize(nullptr));
  if (WiaDevMgrFactory()) FDeviceManager = WiaDevMgrFactory()();
  if (!FDeviceManager) return;
  for (TIEWiaEvent e : {iewItemCreated, iewItemDeleted, iewTreeUpdated}) {
    auto sink = std::make_shared<TWiaEventCallBack>(this);
    std::shared_ptr<void> registration;
    FDeviceManager->RegisterEventCallbackInterface(0, "", e, sink, registration);
    FSinks.push_back(sink);
    if (registration) FRegistrations.push_back(std::move(registration));
  }
}

TIEWia::~TIEWia() {
  FAlive.reset();
  FRegistrations.clear();
  FDeviceManager.reset();
  ClearItemTree();
  FSinks.clear();
  if (FOleInitialized) OleUninitialize();
}

void TIEWia::ClearItemTree() { FItems.clear(); }

void TIEWia::EventArrived(uint8_t code) {
  // The byte is stored at once, from whichever thread; the event runs on the
  // UI thread, and not at all once this object is gone.
  LastEvent.store(code);
  std::weak_ptr<TIEWia*> alive = FAlive;
  TThread::Queue(nullptr, [alive] {
    if (auto self = alive.lock()) {
      TIEWia* wia = *self;
      if (wia->OnItemsTreeUpdated) wia->OnItemsTreeUpdated(wia);
    }
  });
}

// ---- the TWAIN session ----

namespace {
std::mutex gTwainLogLock;
}

std::string& TwainLogFileName() {
  static std::string name;
  return name;
}

void WriteTwainLog(const std::string& message) {
  std::lock_guard<std::mutex> g(gTwainLogLock);
  const std::string& name = TwainLogFileName();
  if (name.empty()) return;
  std::FILE* f = std::fopen(name.c_str(), "ab");
  if (f == nullptr) return;
  const TDateTime now = Now();
  const std::string line = DateToStr(now) + " " + TimeToStr(now) + " : " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), f);
  std::fflush(f);
  std::fclose(f);
}

void InitTwainSession(TIETwainSession& session) {
  session = TIETwainSession{};
  session.Parent = GetActiveWindow();
}

void DestroyProxyWindow(TIETwainSession& session, bool destroy) {
  WriteTwainLog("DestroyProxyWindow");
  if (!destroy) {
    WriteTwainLog("  DestroyProxyWindow : not destroyed, for future uses");
    return;
  }
  if (session.Shared && session.Shared->ProxyWindow) {
    if (IsWindow(session.Shared->ProxyWindow)) DeallocateHWnd(session.Shared->ProxyWindow);
    session.Shared->ProxyWindow = nullptr;
  }
  WriteTwainLog("  DestroyProxyWindow : destroyed");
}

bool IETW_UnloadSourceManager(TIETwainSession& session, bool unload) {
  WriteTwainLog("IETW_UnloadSourceManager");
  if (unload && session.Shared && session.Shared->LibraryHandle) {
    FreeLibrary(static_cast<HMODULE>(session.Shared->LibraryHandle));
    session.LibraryHandle = session.EntryPoint = nullptr;
    session.Shared->LibraryHandle = session.Shared->EntryPoint = nullptr;
    session.State = 1;
    WriteTwainLog("  IETW_UnloadSourceManager : Unload OK");
  } else if (session.State == 2) {
    session.LibraryHandle = session.EntryPoint = nullptr;
    session.State = 1;
    WriteTwainLog("  IETW_UnloadSourceManager not Unloaded, for future uses");
  }
  return session.State == 1;
}

void ReleaseTwainSession(TIETwainShared& shared, HWND window) {
  TIETwainSession session;
  InitTwainSession(session);
  session.Shared = &shared;
  session.Parent = window ? window : session.Parent;
  session.LibraryHandle = shared.LibraryHandle;
  session.EntryPoint = shared.EntryPoint;
  if (shared.ProxyWindow) DestroyProxyWindow(session, true);
  if (shared.LibraryHandle) IETW_UnloadSourceManager(session, true);
}
