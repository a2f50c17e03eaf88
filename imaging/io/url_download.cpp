#include "imaging/io/url_download.h"

#include <curl/curl.h>

#include <cmath>
#include <memory>
#include <mutex>

#include "imaging/core/ie_utils.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

std::string IEURLCAFile;

namespace {

std::mutex gBindLock;
bool gBound = false;

// A port is digits only; anything else reads as "not a number".
bool ParsePort(const std::string& text, int64_t& port) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  size_t i = 0;
  const bool negative = text[0] == '-' || text[0] == '+';
  if (negative) i = 1;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  port = text[0] == '-' ? -v : v;
  return true;
}

struct TCurlFree {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

struct TTransfer {
  TStream* target = nullptr;
  const TIEDownloadRequest* request = nullptr;
  int64_t written = 0;
  bool overLimit = false;
  bool aborted = false;
  int lastPercent = -1;
};

bool AbortRequested(const TIEDownloadRequest& r) { return r.AbortFlag != nullptr && r.AbortFlag->load(); }

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<TTransfer*>(user);
  const size_t n = size * count;
  if (AbortRequested(*t.request)) {
    t.aborted = true;
    return 0;  // curl ends the transfer with a write error
  }
  if (t.written + int64_t(n) > t.request->SizeLimit) {
    t.overLimit = true;
    return 0;
  }
  t.target->WriteBuffer(data, int64_t(n));
  t.written += int64_t(n);
  return n;
}

int TransferInfo(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  auto& t = *static_cast<TTransfer*>(user);
  if (AbortRequested(*t.request)) {
    t.aborted = true;
    return 1;
  }
  if (total > 0 && t.request->Progress) {
    const int per = int(std::trunc(double(now) * (100.0 / double(total))));
    if (per != t.lastPercent) {
      t.lastPercent = per;
      t.request->Progress(t.request->Sender, per);
    }
  }
  return 0;
}

std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return path.substr(dot + 1, 10);
}

}  // namespace

bool SplitURL(const std::string& address, TIEURLParts& parts, std::string& why) {
  parts = TIEURLParts();
  parts.Kind = URLKind(address);
  static const size_t kPrefix[] = {0, 7, 8, 6};
  if (parts.Kind == 0) {
    why = "not an http, https or ftp address";
    return false;
  }
  const std::string rest = address.substr(kPrefix[parts.Kind]);
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) {
    why = "no path after the host";
    return false;
  }
  std::string host = rest.substr(0, slash);
  parts.Path = rest.substr(slash);
  const size_t at = host.find('@');
  if (at != std::string::npos) {
    // The password separator belongs before the "@": "user@host:port" names no password.
    const size_t colon = host.find(':');
    if (colon == std::string::npos || colon > at) {
      why = "a user name without a password separator";
      return false;
    }
    parts.User = host.substr(0, colon);
    parts.Password = host.substr(colon + 1, at - colon - 1);
    host = host.substr(at + 1);
  }
  const size_t colon = host.find(':');
  if (colon != std::string::npos) {
    int64_t port = 0;
    if (!ParsePort(host.substr(colon + 1), port)) port = 80;
    host = host.substr(0, colon);
    if (port < 1 || port > 65535) {
      why = "port outside 1..65535";
      return false;
    }
    parts.Port = int32_t(port);
  } else {
    parts.Port = parts.Kind == 1 ? 80 : parts.Kind == 2 ? 443 : 21;
  }
  if (host.empty()) {
    why = "no host";
    return false;
  }
  parts.Host = host;
  return true;
}

void BindWinInet() {
  std::lock_guard<std::mutex> guard(gBindLock);
  if (gBound) return;
  gBound = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void UnbindWinInet() {
  std::lock_guard<std::mutex> guard(gBindLock);
  if (!gBound) return;
  curl_global_cleanup();
  gBound = false;
}

bool DownloadURL(const TIEDownloadRequest& request, TStream& target, std::string& contentKind, std::string& why) {
  TIEURLParts parts;
  if (!SplitURL(request.Address, parts, why)) return false;
  BindWinInet();
  std::unique_ptr<CURL, TCurlFree> curl(curl_easy_init());
  std::unique_ptr<CURLU, TCurlFree> url(curl_url());
  if (!curl || !url) {
    why = "the network library could not start";
    return false;
  }
  // The parts go to curl one by one: the address is never put together and
  // read again, so a user or password holding "@", ":" or "/" stays what it is.
  std::string path = parts.Path;
  std::string query;
  const size_t hash = path.find('#');
  if (hash != std::string::npos) path.resize(hash);
  const size_t q = path.find('?');
  if (q != std::string::npos) {
    query = path.substr(q + 1);
    path.resize(q);
  }
  static const char* kScheme[] = {"", "http", "https", "ftp"};
  const std::string port = std::to_string(parts.Port);
  CURLUcode uc = curl_url_set(url.get(), CURLUPART_SCHEME, kScheme[parts.Kind], 0);
  if (uc == CURLUE_OK) uc = curl_url_set(url.get(), CURLUPART_HOST, parts.Host.c_str(), 0);
  if (uc == CURLUE_OK) uc = curl_url_set(url.get(), CURLUPART_PORT, port.c_str(), 0);
  if (uc == CURLUE_OK) uc = curl_url_set(url.get(), CURLUPART_PATH, path.c_str(), 0);
  if (uc == CURLUE_OK && !query.empty()) uc = curl_url_set(url.get(), CURLUPART_QUERY, query.c_str(), 0);
  if (uc != CURLUE_OK) {
    why = std::string("bad address: ") + curl_url_strerror(uc);
    return false;
  }

  TTransfer transfer;
  transfer.target = &target;
  transfer.request = &request;
  char error[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_CURLU, url.get());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Mozilla/4.0");
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!IEURLCAFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, IEURLCAFile.c_str());
  // A slow server is waited for; one that stops sending is not.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.SizeLimit));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, TransferInfo);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  if (!parts.User.empty() || !parts.Password.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, parts.User.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, parts.Password.c_str());
  }
  if (!request.Proxy.empty()) {
    curl_easy_setopt(c, CURLOPT_PROXY, request.Proxy.c_str());
    curl_easy_setopt(c, CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
    if (!request.ProxyUser.empty() || !request.ProxyPassword.empty()) {
      curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, request.ProxyUser.c_str());
      curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, request.ProxyPassword.c_str());
    }
  } else {
    // No proxy of the environment either: only the component's setting decides.
    curl_easy_setopt(c, CURLOPT_PROXY, "");
  }

  const CURLcode rc = curl_easy_perform(c);
  if (parts.Kind == 3) {
    contentKind = ExtensionOf(path);
  } else {
    char* type = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
      const std::string t = type;
      const size_t slash = t.find('/');
      contentKind = slash == std::string::npos ? std::string() : t.substr(slash + 1);
    }
  }
  if (transfer.aborted || AbortRequested(request)) {
    why = "aborted";
    return false;
  }
  if (transfer.overLimit || rc == CURLE_FILESIZE_EXCEEDED) {
    why = "body over the size limit of " + std::to_string(request.SizeLimit) + " bytes";
    return false;
  }
  if (rc != CURLE_OK) {
    why = error[0] != 0 ? std::string(error) : std::string(curl_easy_strerror(rc));
    return false;
  }
  if (parts.Kind != 3) {
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
      why = "HTTP status " + std::to_string(status);
      return false;
    }
  }
  return true;
}
