#include "platform/win/internet.h"

#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::mutex gLock;
TInternetModel gModel = imMachine;
std::set<uintptr_t> gHandles;
uintptr_t gNextHandle = 0xCC0000;

// A default route (destination 0.0.0.0) on an interface other than loopback.
bool MachineHasDefaultRoute() {
  std::ifstream in("/proc/net/route");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination;
    if (fields >> iface >> destination && destination == "00000000" && iface != "lo") return true;
  }
  return false;
}

bool Connected() {
  TInternetModel model;
  {
    std::lock_guard<std::mutex> lock(gLock);
    model = gModel;
  }
  return model == imConnected || (model == imMachine && MachineHasDefaultRoute());
}

}  // namespace

BOOL InternetGetConnectedState(DWORD* flags, DWORD reserved) {
  bool connected = Connected();
  if (flags) *flags = connected ? INTERNET_CONNECTION_LAN : INTERNET_CONNECTION_OFFLINE;
  return connected ? TRUE : FALSE;
}

HINTERNET InternetOpen(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                       DWORD flags) {
  if (!Connected()) {
    SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(gLock);
  uintptr_t h = gNextHandle;
  gNextHandle += 4;
  gHandles.insert(h);
  return reinterpret_cast<HINTERNET>(h);
}

BOOL InternetCloseHandle(HINTERNET handle) {
  std::lock_guard<std::mutex> lock(gLock);
  if (!gHandles.erase(reinterpret_cast<uintptr_t>(handle))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void SetInternetModel(TInternetModel model) {
  std::lock_guard<std::mutex> lock(gLock);
  gModel = model;
}
