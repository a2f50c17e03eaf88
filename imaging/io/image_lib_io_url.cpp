// TImageLibIO.LoadURL: a picture downloaded into memory and loaded with
// content detection.
#include "imaging/core/ie_io_log.h"
#include "imaging/io/ie_io_thread.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/url_download.h"
#include "platform/rtl/streams.h"
#include "imaging/core/ie_streams.h"

void TImageLibIO::LoadURL(const std::wstring& address) {
  if (DeferCall()) {
    TIEIOThread::CreateText(this, address, &TImageLibIO::LoadURL);
    return;
  }
  TMemoryStream stream;
  TIEDownloadRequest request;
  request.Address = WideToUTF8(address);
  request.Proxy = WideToUTF8(ProxyAddress);
  request.ProxyUser = WideToUTF8(ProxyUser);
  request.ProxyPassword = WideToUTF8(ProxyPassword);
  request.SizeLimit = URLSizeLimit;
  request.AbortFlag = &FAborting;
  request.Sender = this;
  request.Progress = [this](TObject* sender, int per) { NotifyProgress(sender, per); };
  // A stale abort of an earlier operation must not end this one.
  FAborting = false;
  std::string contentKind, why;
  if (!DownloadURL(request, stream, contentKind, why)) {
    // Partial data is never loaded: what arrived may decode to half a picture.
    FAborting = true;
    WriteIOLog("LoadURL " + request.Address + ": " + why);
    NotifyFinishWork();
    return;
  }
  stream.SetPosition(0);
  LoadStream(stream);
}
