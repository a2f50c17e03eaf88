#pragma once
// Pictures from HTTP, HTTPS and FTP addresses: the split of an address into
// its parts and the download of its body into memory. The transfer runs over
// libcurl, which no other file includes.
#include <atomic>
#include <cstdint>
#include <string>

#include "imaging/io/io_types.h"

class TObject;
class TStream;

// An address taken apart. Kind: 1 http, 2 https, 3 ftp.
struct TIEURLParts {
  int Kind = 0;
  std::string Host;
  int32_t Port = 0;
  std::string Path;  // from the first "/" after the host, that "/" included
  std::string User;
  std::string Password;
};

// Splits address by the rules of the download: the scheme (any case), the host
// part up to the first "/", "user:password@" before the host (a user without
// ":" is refused), ":port" after it (80 when it is not a number, whatever the
// scheme; otherwise 80, 443 or 21). False, with the reason, for an address
// that is none of the three schemes, has no "/" after the host, a user without
// a password separator, no host, or a port outside 1..65535.
bool SplitURL(const std::string& address, TIEURLParts& parts, std::string& why);

// The CA bundle that HTTPS peers are checked against; empty: the system store.
extern std::string IEURLCAFile;

// Takes the network library into use once per process (on first download) and
// lets go of it at shutdown.
void BindWinInet();
void UnbindWinInet();

struct TIEDownloadRequest {
  std::string Address;
  // "host:port" of an HTTP proxy; its credentials go to the proxy only.
  std::string Proxy;
  std::string ProxyUser;
  std::string ProxyPassword;
  int64_t SizeLimit = int64_t(1) << 30;
  std::atomic<bool>* AbortFlag = nullptr;
  TObject* Sender = nullptr;
  TIEProgressEvent Progress;  // percentages, when the size is known
};

// Downloads the body into target. True only for a whole body: a status of 400
// or more, a body shorter than its Content-Length or over the size limit, a
// transfer slower than 1 byte a second for 30 seconds, a redirect to anything
// but http, https or ftp (or more than 10 of them), a certificate that does
// not check out, or the abort flag give false with the reason in why.
// contentKind: the part of the Content-Type after "/" (HTTP), the extension
// (FTP, at most 10 characters).
bool DownloadURL(const TIEDownloadRequest& request, TStream& target, std::string& contentKind, std::string& why);
