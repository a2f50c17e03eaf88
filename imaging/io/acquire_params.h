#pragma once
// The acquisition objects an input/output component owns: TWAIN scanner
// settings with the TWAIN session handles, the choice of acquisition source,
// camera memory-card acquisition and the WIA device manager with its event
// sinks. Scanning and camera transfer are not part of this program: the
// objects hold settings, register for WIA events and release TWAIN
// resources. The acquire and camera objects also carry the abort flag the
// component sets with its own, so a transfer would stop with it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_lists.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"
#include "platform/win/ole.h"

// What a multi-image input/output component is; the TWAIN settings of such an
// owner acquire several pages.
class TIEMultiImageComponent {
public:
  virtual ~TIEMultiImageComponent() = default;
};

// The handles of an open TWAIN session; nothing here opens one.
struct TIETwainShared {
  void* LibraryHandle = nullptr;  // the source manager library
  void* EntryPoint = nullptr;     // its "DSM_Entry"
  HWND ProxyWindow = nullptr;
};

class TIETwainParams : public TComponent {
public:
  explicit TIETwainParams(TComponent* owner);
  ~TIETwainParams() override;
  void Reset();

  bool VisibleDialog = true;
  bool ShowSettingsOnly = false;
  std::vector<std::vector<uint8_t>> CapabilityBlocks;  // freed by Reset
  int32_t LastError = 0;
  bool AcquireFrameEnabled = false;
  bool UseMemoryTransfer = false;
  // The value lists a source offers, emptied by Reset.
  TIEDoubleList XResolution, YResolution, XScaling, YScaling;
  TIEIntegerList PixelType, BitDepth;
  TIEIntegerList Orientation;
  TIEDoubleList Contrast, Brightness;
  TIEIntegerList StandardSize;
  TIEDoubleList Threshold, Rotation;
  double Gamma = 2.2;
  uint8_t Reserved1[16] = {};
  // Several pages when the owner is a multi-image component.
  bool AcquireMultiplePages = false;
  bool FeederEnabled = false;
  bool AutoFeed = false;
  bool ProgressIndicators = true;
  uint8_t Reserved2[16] = {};
  bool AutoBrightness = true, AutoDeskew = true, AutoBorderDetection = false;
  int32_t BufferedTransfer = 0;
  uint8_t Reserved3[4] = {};
  int32_t DuplexMode = -2;  // undefined
  int32_t PaperSize = 0;
  double PhysicalWidth = -1.0, PhysicalHeight = -1.0;  // undefined
  int32_t Compression = -2;
  bool FilmScanMode = false, AutoRotate = false;
  int32_t Units = 0;
  std::string SourceName = "n/a", Manufacturer = "n/a", ProductFamily = "n/a", ProductName = "n/a";
  int16_t LogLevel = 0, SourceIndex = -1, TransferCount = 1;
  TMemoryStream TransferStream;  // emptied by Reset
  TIETwainShared Shared;
  int32_t Spare = 0;
  std::string SelectedSource;
};

class TIEAcquireParams : public TComponent {
public:
  explicit TIEAcquireParams(TComponent* owner) : TComponent(owner) {}
  uint8_t Api = 1;
  uint8_t DeviceIndex = 0;
  uint8_t Flags = 0;
  uint8_t Aborting = 0;
};

class TIEDcimAcquire : public TComponent {
public:
  explicit TIEDcimAcquire(TComponent* owner) : TComponent(owner) {}
  int32_t DeviceIndex = 0;
  uint8_t Aborting = 0;
};

// ---- WIA ----

// Events a WIA device manager reports.
enum TIEWiaEvent : uint8_t { iewItemCreated, iewItemDeleted, iewTreeUpdated, iewOther };

class TIEWia;

// The event sink: stores the event in its TIEWia and has the UI thread fire
// the items-tree-updated event.
class TWiaEventCallBack {
public:
  explicit TWiaEventCallBack(TIEWia* owner) : FOwner(owner) {}
  // Any thread: WIA delivers events on its own.
  HRESULT ImageEventCallback(TIEWiaEvent event);

private:
  TIEWia* FOwner;
};

// A WIA device manager: the registration of event sinks (the token keeps the
// registration alive).
class IWiaDevMgr {
public:
  virtual ~IWiaDevMgr() = default;
  virtual HRESULT RegisterEventCallbackInterface(int32_t flags, const std::string& deviceId, TIEWiaEvent event,
                                                 std::shared_ptr<TWiaEventCallBack> sink,
                                                 std::shared_ptr<void>& registration) = 0;
};
// Makes the device manager; there is none on this platform unless a test
// installs a factory.
using TWiaDevMgrFactory = std::function<std::unique_ptr<IWiaDevMgr>()>;
TWiaDevMgrFactory& WiaDevMgrFactory();

class TIEWia : public TObject {
public:
  explicit TIEWia(TComponent* owner);
  ~TIEWia() override;
  void ClearItemTree();

  TNotifyEvent OnItemsTreeUpdated;
  std::function<bool(TObject* sender, int percent)> OnProgress;  // set by the owner
  bool TakePicture = true;
  bool DeleteTakenPicture = false;
  std::string SaveTransferBufferAs;
  int32_t TransferFormat = 0;
  int32_t CurrentIndex = 0;
  // 1 tree updated, 2 item created, 3 item deleted; written by the sink.
  std::atomic<uint8_t> LastEvent{0};

  TComponent* Owner() const { return FOwner; }
  IWiaDevMgr* DeviceManager() const { return FDeviceManager.get(); }
  int RegisteredSinks() const { return int(FRegistrations.size()); }

private:
  friend class TWiaEventCallBack;
  void EventArrived(uint8_t code);

  bool FOleInitialized = false;
  TComponent* FOwner;
  std::unique_ptr<IWiaDevMgr> FDeviceManager;
  std::vector<std::shared_ptr<void>> FRegistrations;
  std::vector<std::shared_ptr<TWiaEventCallBack>> FSinks;
  std::vector<std::unique_ptr<TObject>> FItems;
  // Queued event deliveries check it: gone with the object.
  std::shared_ptr<TIEWia*> FAlive;
};

// ---- the TWAIN session ----

// The process's TWAIN log file; empty (as nothing sets it): no log.
std::string& TwainLogFileName();
void WriteTwainLog(const std::string& message);

struct TIETwainSession {
  int State = 1;  // 1: source manager not loaded
  void* LibraryHandle = nullptr;
  void* EntryPoint = nullptr;
  TIETwainShared* Shared = nullptr;
  HWND Parent = nullptr;
  // The application's identity.
  uint32_t Id = 0;
  uint16_t MajorNum = 1, MinorNum = 0;
  int16_t Language = -1;  // TWLG_USERLOCALE
  uint16_t Country = 1;
  std::string Info = " ", Manufacturer = " ", ProductFamily = " ", ProductName = " ";
  uint16_t ProtocolMajor = 1, ProtocolMinor = 9;
  uint32_t SupportedGroups = 3;  // DG_CONTROL | DG_IMAGE
};

void InitTwainSession(TIETwainSession& session);
void ReleaseTwainSession(TIETwainShared& shared, HWND window);
void DestroyProxyWindow(TIETwainSession& session, bool destroy);
bool IETW_UnloadSourceManager(TIETwainSession& session, bool unload);

// Settings of a print preview; no dialog of this program reads them.
struct TIOPrintPreviewParams {
  double MarginLeft = 1.0, MarginTop = 1.0, MarginRight = 1.0, MarginBottom = 1.0;
  uint8_t Position = 4;
  uint8_t Size = 1;
  double Width = -1.0;
  double Height = -1.0;
  double Gamma = 1.0;
  int32_t Spare1 = 0;
  int32_t Spare2 = 4;
  int32_t Spare3 = 5;
  double Step = 0.1;
  uint8_t Flag1 = 1;
  uint8_t Flag2 = 1;
  int32_t Spare4 = 0;
  int32_t Spare5 = 0;
};
