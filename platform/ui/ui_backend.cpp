#include "platform/ui/ui_backend.h"

#include "platform/ui/headless/headless_backend.h"

namespace {
std::unique_ptr<TUIBackend>& Current() {
  static std::unique_ptr<TUIBackend> backend;
  return backend;
}
}  // namespace

TUIBackend& UIBackend() {
  auto& b = Current();
  if (!b) b = std::make_unique<THeadlessBackend>();
  return *b;
}

void SetUIBackend(std::unique_ptr<TUIBackend> backend) { Current() = std::move(backend); }
