#pragma once
// TIEIOThread: one load or save of a TImageLibIO captured with its arguments
// and run on a worker thread. An asynchronous component hands each public
// load or save to one of these and returns at once; the worker calls the same
// operation again, which now runs for real because it runs in one of the
// component's own I/O threads. The component keeps the list of its running
// workers (to recognise them, to wait for them and to post its view
// notifications instead of calling events).
//
// One constructor per call shape. A stream argument is not owned: the caller
// keeps it alive until the work has ended (WaitThreads, or the finish event).
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "imaging/io/io_types.h"
#include "platform/rtl/threads.h"

class TImageLibIO;
class TStream;

class TIEIOThread : public TThread {
public:
  using TNameProc = void (TImageLibIO::*)(const std::wstring& name);
  using TNameTypeProc = void (TImageLibIO::*)(const std::wstring& name, TImageFileType type);
  using TStreamProc = void (TImageLibIO::*)(TStream& stream);
  using TNameFunc = int (TImageLibIO::*)(const std::wstring& name);
  using TStreamFunc = int (TImageLibIO::*)(TStream& stream);
  using TStreamTypeProc = void (TImageLibIO::*)(TStream& stream, TImageFileType type);
  using TIndexProc = void (TImageLibIO::*)(int index);
  using TMetafileProc = void (TImageLibIO::*)(const std::wstring& name, int width, bool withAlpha, int height);

  // The call shapes, by the number each is known by.
  enum TKind : int32_t {
    kName = 0,
    kNameType = 1,
    kStream = 2,
    kNameFunc = 3,
    kStreamFunc = 5,
    kNameTypeDyn = 6,
    kStreamType = 7,
    kIndex = 9,
    kMetafile = 10,
    kText = 11,
  };

  // Each registers the worker with its owner and starts it; the worker frees
  // itself when the call has ended.
  static TIEIOThread* CreateName(TImageLibIO* owner, const std::wstring& name, TNameProc proc);
  static TIEIOThread* CreateNameType(TImageLibIO* owner, const std::wstring& name, TImageFileType type,
                                     TNameTypeProc proc);
  static TIEIOThread* CreateStream(TImageLibIO* owner, TStream& stream, TStreamProc proc);
  static TIEIOThread* CreateNameFunc(TImageLibIO* owner, const std::wstring& name, TNameFunc func);
  static TIEIOThread* CreateStreamFunc(TImageLibIO* owner, TStream& stream, TStreamFunc func);
  static TIEIOThread* CreateNameTypeDyn(TImageLibIO* owner, const std::wstring& name, TImageFileType type,
                                        TNameTypeProc proc);
  static TIEIOThread* CreateStreamType(TImageLibIO* owner, TStream& stream, TImageFileType type,
                                       TStreamTypeProc proc);
  static TIEIOThread* CreateIndex(TImageLibIO* owner, int index, TIndexProc proc);
  static TIEIOThread* CreateMetafile(TImageLibIO* owner, const std::wstring& name, int width, bool withAlpha,
                                     int height, TMetafileProc proc);
  static TIEIOThread* CreateText(TImageLibIO* owner, const std::wstring& text, TNameProc proc);

  TKind Kind() const { return FKind; }
  // The worker's thread, once it has started running its call.
  std::thread::id ThreadId() const { return FThreadId.load(); }

protected:
  void Execute() override;

private:
  TIEIOThread(TImageLibIO* owner, TKind kind);
  // Registers with the owner's list, then lets the thread run.
  void Start();
  void RunCall();

  TImageLibIO* FOwner;
  TKind FKind;
  std::atomic<std::thread::id> FThreadId{};
  // The captured call: one member per shape, the one of FKind is set.
  TNameProc FNameProc = nullptr;
  TNameTypeProc FNameTypeProc = nullptr;
  TStreamProc FStreamProc = nullptr;
  TNameFunc FNameFunc = nullptr;
  TStreamFunc FStreamFunc = nullptr;
  TStreamTypeProc FStreamTypeProc = nullptr;
  TIndexProc FIndexProc = nullptr;
  TMetafileProc FMetafileProc = nullptr;
  // The arguments.
  std::wstring FFileName;
  TImageFileType FArgType = 0;
  TStream* FArgStream = nullptr;
  TImageFileType FArgType2 = 0;
  int32_t FArgIndex = 0;
  int32_t FArgWidth = 0;
  int32_t FArgHeight = 0;
  bool FArgFlag = false;
  std::wstring FArgText;
};

// The operations the dispatch defers by their dynamic index, in the shapes
// they are deferred in; nil for an index of another shape.
TIEIOThread::TNameTypeProc IEIODynamicNameType(int32_t index);
TIEIOThread::TStreamProc IEIODynamicStream(int32_t index);
TIEIOThread::TStreamTypeProc IEIODynamicStreamType(int32_t index);
