#include "imaging/io/ie_io_thread.h"

#include <algorithm>
#include <exception>

#include "imaging/core/ie_io_log.h"
#include "imaging/io/image_lib_io.h"

TIEIOThread::TIEIOThread(TImageLibIO* owner, TKind kind) : TThread(true), FOwner(owner), FKind(kind) {}

void TIEIOThread::Start() {
  {
    std::lock_guard<std::mutex> guard(FOwner->FThreadLock);
    FOwner->FRunningThreads.push_back(this);
  }
  try {
    TThread::Start();
  } catch (...) {
    // No thread to run the call: it must not stay registered, or every wait hangs.
    {
      std::lock_guard<std::mutex> guard(FOwner->FThreadLock);
      auto& list = FOwner->FRunningThreads;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
      if (list.empty()) FOwner->FAllDone.notify_all();
    }
    delete this;
    throw;
  }
}

void TIEIOThread::RunCall() {
  TImageLibIO& o = *FOwner;
  switch (FKind) {
    case kName: (o.*FNameProc)(FFileName); break;
    case kNameType: (o.*FNameTypeProc)(FFileName, FArgType); break;
    case kStream: (o.*FStreamProc)(*FArgStream); break;
    case kNameFunc: (void)(o.*FNameFunc)(FFileName); break;
    case kStreamFunc: (void)(o.*FStreamFunc)(*FArgStream); break;
    case kNameTypeDyn: (o.*FNameTypeProc)(FFileName, FArgType2); break;
    case kStreamType: (o.*FStreamTypeProc)(*FArgStream, FArgType2); break;
    case kIndex: (o.*FIndexProc)(FArgIndex); break;
    case kMetafile: (o.*FMetafileProc)(FFileName, FArgWidth, FArgFlag, FArgHeight); break;
    case kText: (o.*FNameProc)(FArgText); break;
  }
}

void TIEIOThread::Execute() {
  // Recorded before the call, so the operation sees itself in an I/O thread.
  FThreadId = std::this_thread::get_id();
  try {
    RunCall();
  } catch (const std::exception& e) {
    // The caller has long returned: the failure ends as Aborting, and why in the log.
    FOwner->SetAborting(true);
    WriteIOLog(std::string("TIEIOThread: ") + e.what());
  } catch (...) {
    FOwner->SetAborting(true);
    WriteIOLog("TIEIOThread: unknown exception");
  }
  SetFreeOnTerminate(true);
  std::lock_guard<std::mutex> guard(FOwner->FThreadLock);
  auto& list = FOwner->FRunningThreads;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  // Every waiter wakes: the destructor and WaitThreads may wait at once.
  if (list.empty()) FOwner->FAllDone.notify_all();
}

// ---- the shapes ----

TIEIOThread* TIEIOThread::CreateName(TImageLibIO* owner, const std::wstring& name, TNameProc proc) {
  auto* t = new TIEIOThread(owner, kName);
  t->FFileName = name;
  t->FNameProc = proc;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateNameType(TImageLibIO* owner, const std::wstring& name, TImageFileType type,
                                         TNameTypeProc proc) {
  auto* t = new TIEIOThread(owner, kNameType);
  t->FFileName = name;
  t->FArgType = type;
  t->FNameTypeProc = proc;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateStream(TImageLibIO* owner, TStream& stream, TStreamProc proc) {
  auto* t = new TIEIOThread(owner, kStream);
  t->FArgStream = &stream;
  t->FStreamProc = proc;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateNameFunc(TImageLibIO* owner, const std::wstring& name, TNameFunc func) {
  auto* t = new TIEIOThread(owner, kNameFunc);
  t->FFileName = name;
  t->FNameFunc = func;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateStreamFunc(TImageLibIO* owner, TStream& stream, TStreamFunc func) {
  auto* t = new TIEIOThread(owner, kStreamFunc);
  t->FArgStream = &stream;
  t->FStreamFunc = func;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateNameTypeDyn(TImageLibIO* owner, const std::wstring& name, TImageFileType type,
                                            TNameTypeProc proc) {
  auto* t = new TIEIOThread(owner, kNameTypeDyn);
  t->FFileName = name;
  t->FArgType2 = type;
  t->FNameTypeProc = proc;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateStreamType(TImageLibIO* owner, TStream& stream, TImageFileType type,
                                           TStreamTypeProc proc) {
  auto* t = new TIEIOThread(owner, kStreamType);
  t->FArgStream = &stream;
  t->FArgType2 = type;
  t->FStreamTypeProc = proc;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateIndex(TImageLibIO* owner, int index, TIndexProc proc) {
  auto* t = new TIEIOThread(owner, kIndex);
  t->FArgIndex = index;
  t->FIndexProc = proc;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateMetafile(TImageLibIO* owner, const std::wstring& name, int width, bool withAlpha,
                                         int height, TMetafileProc proc) {
  auto* t = new TIEIOThread(owner, kMetafile);
  t->FFileName = name;
  t->FArgWidth = width;
  t->FArgFlag = withAlpha;
  t->FArgHeight = height;
  t->FMetafileProc = proc;
  t->Start();
  return t;
}

TIEIOThread* TIEIOThread::CreateText(TImageLibIO* owner, const std::wstring& text, TNameProc proc) {
  auto* t = new TIEIOThread(owner, kText);
  t->FArgText = text;
  t->FNameProc = proc;
  t->Start();
  return t;
}

// ---- the dynamic operations ----

TIEIOThread::TNameTypeProc IEIODynamicNameType(int32_t index) {
  using P = TIEIOThread::TNameTypeProc;
  switch (index) {
    case ieioLoadFile: return static_cast<P>(&TImageLibIO::LoadFile);
    case ieioSaveFile: return static_cast<P>(&TImageLibIO::SaveFile);
    case ieioLoadFileAsType: return &TImageLibIO::LoadFileAsType;
    default: return nullptr;
  }
}

TIEIOThread::TStreamProc IEIODynamicStream(int32_t index) {
  return index == ieioLoadStream ? &TImageLibIO::LoadStream : nullptr;
}

TIEIOThread::TStreamTypeProc IEIODynamicStreamType(int32_t index) {
  switch (index) {
    case ieioLoadStreamAsType: return &TImageLibIO::LoadStreamAsType;
    case ieioSaveStream: return &TImageLibIO::SaveStream;
    default: return nullptr;
  }
}
