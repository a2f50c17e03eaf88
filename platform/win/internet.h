#pragma once
// The Internet calls the program makes before it opens a web page. Whether a
// connection exists is this machine's (a default route in its routing table),
// unless a test sets it.
#include "platform/win/win_types.h"

using HINTERNET = void*;

constexpr DWORD INTERNET_CONNECTION_MODEM = 0x01;
constexpr DWORD INTERNET_CONNECTION_LAN = 0x02;
constexpr DWORD INTERNET_CONNECTION_OFFLINE = 0x20;
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;

BOOL InternetGetConnectedState(DWORD* flags, DWORD reserved);
// A handle while connected (close it with InternetCloseHandle), else null.
HINTERNET InternetOpen(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                       DWORD flags);
inline HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                               DWORD flags) {
  return InternetOpen(agent, accessType, proxy, proxyBypass, flags);
}
BOOL InternetCloseHandle(HINTERNET handle);

enum TInternetModel : uint8_t { imMachine, imConnected, imOffline };
void SetInternetModel(TInternetModel model);
