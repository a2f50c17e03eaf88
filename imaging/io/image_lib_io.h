#pragma once
// TImageLibIO: the imaging library's component for reading and writing
// pictures. It holds one working bitmap (its own, a caller's or an attached
// view's) and one parameter set, and runs every load and save through one
// frame: the bitmap check, the progress record with its abort flag, the final
// parameters, the refresh of what is attached and the finish notification.
//
// A load or save never raises for bad data: Aborting says after each operation
// whether it failed. Exceptions from opening or creating a file pass to the
// caller. Saves by name write beside the target and replace it only when the
// writer succeeded.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/core/ie_types.h"
#include "imaging/io/acquire_params.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/object.h"

class TBitmap;
class TFont;
class TImage;
class TIEBitmap;
class TIEViewLink;
class TIOParamsVals;
class TIEFileFormatInfo;
class TStream;

// The picture stretched to square pixels (the shorter side takes the other's
// resolution), the resolution of params set to match; nil when the resolutions
// are already equal, one is not positive or the bitmap is empty, and the caller
// keeps the bitmap it gave. The alpha channel is not carried.
std::unique_ptr<TIEBitmap> ResampleToSquareDPI(TIEBitmap& bitmap, TIOParamsVals& params, bool filtered);

// The operations that deferred calls name by number.
enum TIEIODynamicIndex : int32_t {
  ieioFireAcquireBitmap = -16,
  ieioLoadFile = -17,
  ieioLoadFileDetected = -18,
  ieioSaveFile = -19,
  ieioSaveFileAsText = -20,
  ieioLoadFileAsType = -21,
  ieioLoadBuffer = -22,
  ieioReadParamsFromBuffer = -23,
  ieioReadParamsFromFile = -24,
  ieioReadParamsFromFileAsType = -25,
  ieioReadParamsFromStream = -26,
  ieioReadParamsFromStreamAsType = -27,
  ieioLoadStream = -28,
  ieioLoadStreamAsType = -29,
  ieioSaveStream = -30,
};

class TMetafile;
class TIEIOThread;
class TIEVideoFrameReader;

// A multi-page PostScript or PDF output kept open across saves; its writer
// knows how to end it.
class TIEOpenOutput {
public:
  virtual ~TIEOpenOutput() = default;
  virtual void Finish(TStream& stream, TIOParamsVals& params) = 0;
};

class TImageLibIO : public TComponent {
public:
  explicit TImageLibIO(TComponent* owner);
  // A component without owner working on the caller's bitmap.
  static std::unique_ptr<TImageLibIO> CreateForBitmap(TIEBitmap* bitmap);
  ~TImageLibIO() override;

  // ---- attachment ----
  TIEBitmap* IEBitmap() const { return FIEBitmap; }
  bool OwnsBitmap() const { return FOwnsBitmap; }
  void ReplaceBitmap(TIEBitmap* bitmap);
  void AttachBitmap(TIEBitmap* bitmap);
  TIEViewLink* AttachedImageLib() const { return FAttachedView; }
  void SetAttachedImageLib(TIEViewLink* view);
  // A framework image control whose picture bitmap the working bitmap is laid
  // over, so a load shows in the control.
  TImage* AttachedTImage() const { return FAttachedTImage; }
  void SetAttachedTImage(TImage* image);
  void ViewBitmapChanged(bool destroying);
  TBitmap* GetVclBitmap();

  TIOParamsVals& Params() { return *FParams; }

  // ---- state of the last operation ----
  bool Aborting() const { return FAborting.load(); }
  void SetAborting(bool value);
  std::atomic<bool>& AbortFlag() { return FAborting; }

  // ---- settings ----
  uint32_t Background() const;
  void SetBackground(uint32_t color);
  bool NativePixelFormat() const;
  void SetNativePixelFormat(bool value);
  std::string ImageLibVersion() const { return "4.3.0"; }
  void SetImageLibVersion(const std::string&) {}
  bool StreamHeaders = false;
  bool AutoAdjustDPI = false;
  bool FilteredAdjustDPI = false;
  bool ViewBackgroundSync = false;
  uint8_t MonoConversion() const { return FMonoConversion; }
  void SetMonoConversion(uint8_t value);

  TIEProgressEvent OnProgress;
  TNotifyEvent OnFinishWork;

  // Settings kept for the dialogs, the URL loader and the acquisition that
  // build on this component.
  uint8_t MsgLanguage = 0;           // msSystem
  uint8_t PreviewsParams = 0;        // ioppDefaultLockPreview 1, ioppApplyButton 2
  bool SimplifiedParamsDialogs = true;
  uint8_t DialogsMeasureUnit = 0;    // ieduInches
  bool PreviewFontEnabled = false;
  TFont* PreviewFont() { return FPreviewFont.get(); }
  void SetPreviewFont(TFont* font);
  std::wstring ProxyAddress, ProxyUser, ProxyPassword;
  // Loads and saves of a component that borrows its bitmap run on a
  // TIEIOThread of their own and return at once.
  bool Asynchronous = false;
  TIEAcquireParams* AcquireParams() { return FAcquireParams; }
  TIETwainParams* TwainParams() { return FTwainParams; }
  TIEDcimAcquire* DcimAcquire() { return FDcimAcquire; }
  TIOPrintPreviewParams& PrintPreviewParams() { return FPrintPreviewParams; }

  // ---- frame ----
  // False without a bitmap, or when its format is not in the allowed set (an
  // empty set allows every format).
  bool PrepareBitmap(std::initializer_list<TIEBitmapFormat> allowed = {});
  void UpdateAttached();
  void FixDefaultDPI();
  void AdjustDPI();
  virtual void SyncViewDPI();
  virtual void NotifyProgress(TObject* sender, int per);
  virtual void NotifyFinishWork();

  // ---- background threads ----
  // True on one of this component's running I/O threads.
  bool InIOThread();
  // Waits until no I/O thread of this component runs; with abort, asks the
  // running reads and writes to stop first.
  void WaitThreads(bool abort);
  // Loads and saves are handed to an I/O thread: the bitmap is borrowed, the
  // component asynchronous and the caller not one of its I/O threads.
  bool DeferCall();

  // ---- pictures from HTTP, HTTPS and FTP addresses ----
  // Downloads the address into memory and loads it with content detection.
  // A failed download loads nothing and leaves Aborting set.
  void LoadURL(const std::wstring& address);
  // Largest body a download accepts (1 GiB unless changed).
  int64_t URLSizeLimit = int64_t(1) << 30;

  // ---- video files ----
  // AVI: opens the file, returns its frame count (0 and Aborting on failure).
  int OpenAVIFile(const std::wstring& name);
  void ReadAVIFrame(int index);
  void CloseAVIFile();
  // Other video files (.mpe, .mpg, .mpeg, .wmv): the frame count.
  int OpenVideoFile(const std::wstring& name);
  void ReadVideoFrame(int index);
  void CloseVideoFile();
  bool IsVideoOpen() const { return FVideoReader != nullptr; }

  // ---- text ----
  // The picture as text: 0 a C byte array, 1 hexadecimal lines of a C
  // initialiser, 2 Base64, 3 a picture of characters. Forms 0 to 2 hold the
  // picture saved as format. A failed save leaves no text file and Aborting set.
  void SaveFileAsText(const std::wstring& name, TImageFileType format, int form);

  // ---- dispatch (by extension, content or code) ----
  void LoadFile(const std::wstring& name, TImageFileType type = -1);
  void LoadFile(const std::string& name, TImageFileType type = -1);
  void LoadFileAsType(const std::wstring& name, TImageFileType type);
  void LoadFileDetected(const std::wstring& name);
  void LoadStream(TStream& stream);
  void LoadStreamAsType(TStream& stream, TImageFileType type);
  void LoadBuffer(const void* buffer, int64_t size, TImageFileType type);
  void SaveFile(const std::wstring& name, TImageFileType type = -1);
  void SaveFile(const std::string& name, TImageFileType type = -1);
  void SaveStream(TStream& stream, TImageFileType type);
  TImageFileType ReadParamsFromFile(const std::wstring& name);
  TImageFileType ReadParamsFromFileAsType(const std::wstring& name, TImageFileType type);
  TImageFileType ReadParamsFromStream(TStream& stream);
  TImageFileType ReadParamsFromStreamAsType(TStream& stream, TImageFileType type);
  TImageFileType ReadParamsFromBuffer(const void* buffer, int64_t size, TImageFileType type);
  // kind 1 previous, 2 next, 3 last, else first; reloads when a name is given
  // or the index moves. Returns the new index.
  int SeekPage(int kind, const std::wstring& name);

  // ---- per-format loads and saves ----
  int LoadTIFFFile(const std::wstring& name);
  int LoadTIFFStream(TStream& stream);
  // The frame GifImageIndex as a viewer shows it: composed from the first
  // frame on with each frame's disposal method when the stream has several.
  // Returns the stream's frame count (0 when nothing was read).
  int ReadGIFStream(TStream& stream);
  int LoadGIFFile(const std::wstring& name);
  int LoadGIFStream(TStream& stream);
  void LoadJPEGFile(const std::wstring& name);
  void LoadJPEGStream(TStream& stream);
  void LoadPCXFile(const std::wstring& name);
  void LoadPCXStream(TStream& stream);
  void LoadBMPFile(const std::wstring& name);
  void LoadBMPStream(TStream& stream);
  void LoadICOFile(const std::wstring& name);
  void LoadICOStream(TStream& stream);
  void LoadCURFile(const std::wstring& name);
  void LoadCURStream(TStream& stream);
  void LoadPNGFile(const std::wstring& name);
  void LoadPNGStream(TStream& stream);
  void LoadTGAFile(const std::wstring& name);
  void LoadTGAStream(TStream& stream);
  void LoadPXMFile(const std::wstring& name);
  void LoadPXMStream(TStream& stream);
  void LoadJP2File(const std::wstring& name);
  void LoadJP2Stream(TStream& stream);
  void LoadJ2KFile(const std::wstring& name);
  void LoadJ2KStream(TStream& stream);
  void LoadWBMPFile(const std::wstring& name);
  void LoadWBMPStream(TStream& stream);
  void LoadDCXFile(const std::wstring& name);
  void LoadDCXStream(TStream& stream);
  void LoadRAWFile(const std::wstring& name);
  void LoadRAWStream(TStream& stream);
  void LoadRawBitmapFile(const std::wstring& name);
  void LoadRawBitmapStream(TStream& stream);
  void LoadPSDFile(const std::wstring& name);
  void LoadPSDStream(TStream& stream);
  void LoadDICOMFile(const std::wstring& name);
  void LoadDICOMStream(TStream& stream);
  void LoadHDPFile(const std::wstring& name);
  void LoadHDPStream(TStream& stream);
  // width or height -1 keeps the metafile's own size.
  void LoadMetafileFile(const std::wstring& name, int width, bool withAlpha, int height);
  void LoadMetafileStream(TStream& stream, int width, bool withAlpha, int height);
  // Renders a framework metafile into the bitmap at the asked size (0 in either
  // direction renders nothing and sets Aborting), capped at IEMetafileSizeLimit;
  // with alpha, what the drawing left uncovered becomes transparent.
  void RenderMetafile(TMetafile* metafile, int width, bool withAlpha, int height);
  // The parameters-only read of a metafile: type, size and the default resolution.
  void ReadMetafileParams(TStream& stream);
  void LoadLayeredFile(const std::wstring& name, TImageFileType type);
  void LoadLayeredStream(TStream& stream, TImageFileType type);

  void SaveTIFFFile(const std::wstring& name);
  void SaveTIFFStream(TStream& stream);
  void SaveGIFFile(const std::wstring& name);
  void SaveGIFStream(TStream& stream);
  void SaveJPEGFile(const std::wstring& name);
  void SaveJPEGStream(TStream& stream);
  void SavePCXFile(const std::wstring& name);
  void SavePCXStream(TStream& stream);
  void SaveBMPFile(const std::wstring& name);
  void SaveBMPStream(TStream& stream);
  void SaveICOFile(const std::wstring& name);
  void SaveICOStream(TStream& stream);
  void SavePNGFile(const std::wstring& name);
  void SavePNGStream(TStream& stream);
  void SaveTGAFile(const std::wstring& name);
  void SaveTGAStream(TStream& stream);
  void SavePXMFile(const std::wstring& name);
  void SavePXMStream(TStream& stream);
  void SaveJP2File(const std::wstring& name);
  void SaveJP2Stream(TStream& stream);
  void SaveJ2KFile(const std::wstring& name);
  void SaveJ2KStream(TStream& stream);
  void SaveWBMPFile(const std::wstring& name);
  void SaveWBMPStream(TStream& stream);
  void SavePSFile(const std::wstring& name);
  void SavePSStream(TStream& stream);
  void SavePDFFile(const std::wstring& name);
  void SavePDFStream(TStream& stream);
  // End a multi-page output when one is open and free its stream.
  void ClosePSFile();
  void ClosePDFFile();
  void SetPSOutput(std::unique_ptr<TStream> stream, std::unique_ptr<TIEOpenOutput> document);
  void SetPDFOutput(std::unique_ptr<TStream> stream, std::unique_ptr<TIEOpenOutput> document);
  void SaveDCXFile(const std::wstring& name);
  void SaveDCXStream(TStream& stream);
  void SavePSDFile(const std::wstring& name);
  void SavePSDStream(TStream& stream);
  void SaveHDPFile(const std::wstring& name);
  void SaveHDPStream(TStream& stream);

  // Rewrites the resolution of the Photoshop resource in the first APP13 marker.
  void UpdateJPEGResolutionResource();
  // Before a JPEG is written: the resolution resource, then the IPTC, EXIF and
  // XMP markers built anew from the parameter set.
  void RebuildJPEGMarkersForSave();

protected:
  void Notification(TComponent* component, TOperation operation) override;

private:
  friend class TIEIOThread;
  // Where a worker's notifications go: the attached view's window, posted, when
  // this runs in an I/O thread and the view has a parent window to receive them.
  bool PostToView(uint32_t message, uintptr_t wParam);
  void ReadVideoFrameInto(int64_t index, bool avi);
  // The dispatch's per-format operations by code, in the shapes a worker runs.
  void LoadFileByCode(const std::wstring& name, TImageFileType code);
  void LoadStreamByCode(TStream& stream, TImageFileType code);
  void SaveFileByCode(const std::wstring& name, TImageFileType code);
  void SaveStreamByCode(TStream& stream, TImageFileType code);
  TProgressRecord MakeProgress();
  // The picture a writer gets: the working bitmap, or a 24-bit copy of it in
  // holder when its format is not ie24RGB, ie1g (or ie8g with keep8g).
  TIEBitmap* WriterBitmap(std::unique_ptr<TIEBitmap>& holder, bool keep8g = false);
  void UnregisterFromView();
  // The shared frames of the per-format operations, run as the format's
  // descriptor says; a code without a descriptor fails.
  void RunLoadStream(TImageFileType code, TStream& stream);
  void RunLoadFile(TImageFileType code, const std::wstring& name);
  void RunSaveStream(TImageFileType code, TStream& stream);
  void RunSaveFile(TImageFileType code, const std::wstring& name);
  void RunLoadStream(const TIEFormatDescriptor& format, TStream& stream, const std::wstring* fileName);
  void RunLoadFile(const TIEFormatDescriptor& format, const std::wstring& name);
  void RunSaveStream(const TIEFormatDescriptor& format, TStream& stream);
  void RunSaveFile(const TIEFormatDescriptor& format, const std::wstring& name);
  bool LoadByCode(TImageFileType code, const std::wstring* name, TStream* stream);
  bool SaveByCode(TImageFileType code, const std::wstring* name, TStream* stream);
  void HookLoad(TIEFileFormatInfo& entry, const std::wstring* name, TStream* stream, bool catchErrors,
                bool notifyWithoutBitmap);
  void HookSaveFile(TIEFileFormatInfo& entry, const std::wstring& name);
  void HookSaveStream(TIEFileFormatInfo& entry, TStream& stream);
  void LoadBody(const TIEFormatDescriptor& format, TStream& stream, const std::wstring* fileName);
  // Calls the format's reader (after a stream header) and writer (with one);
  // false when the format has none.
  bool CallReader(const TIEFormatDescriptor& format, TStream& stream, TProgressRecord& progress, TIEMaskOut& mask,
                  bool fromStream);
  bool CallWriter(const TIEFormatDescriptor& format, TStream& stream, TIEBitmap& bitmap, TIEMask* mask,
                  TProgressRecord& progress, bool toStream);
  void SaveBody(const TIEFormatDescriptor& format, TStream& stream, bool toStream);
  void ReadParamsBody(TStream& stream, TImageFileType type);

  TBitmap* FVclBitmapLink = nullptr;
  TIEBitmap* FIEBitmap = nullptr;
  std::unique_ptr<TIEBitmap> FOwnedBitmap;
  bool FOwnsBitmap = true;
  TIEViewLink* FAttachedView = nullptr;
  TImage* FAttachedTImage = nullptr;
  void* FViewCallbackHandle = nullptr;
  uint32_t FBackground = 0;
  uint8_t FMonoConversion = 1;
  std::unique_ptr<TIOParamsVals> FParams;
  std::atomic<bool> FAborting{false};
  std::unique_ptr<TFont> FPreviewFont;
  TIEAcquireParams* FAcquireParams = nullptr;  // owned as components
  TIETwainParams* FTwainParams = nullptr;
  TIEDcimAcquire* FDcimAcquire = nullptr;
  TIOPrintPreviewParams FPrintPreviewParams;
  std::unique_ptr<TStream> FPSStream, FPDFStream;
  std::unique_ptr<TIEOpenOutput> FPSDocument, FPDFDocument;

  // The running I/O threads, guarded by FThreadLock; FAllDone wakes every
  // waiter when the last one ends.
  std::vector<TIEIOThread*> FRunningThreads;
  std::mutex FThreadLock;
  std::condition_variable FAllDone;

  // The open AVI or other video file.
  std::unique_ptr<TIEVideoFrameReader> FAviReader;
  std::unique_ptr<TIEVideoFrameReader> FVideoReader;
  int64_t FVideoSeekStep = 1;
  double FVideoFrameDuration = 0;  // milliseconds
};
