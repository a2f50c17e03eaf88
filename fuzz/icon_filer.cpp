// libFuzzer target: icons read from component streams, icon groups read from a
// resource module, and picture resources asked for their sizes and pictures
// must end in an exception or a result, never read outside the data or take
// memory the data does not justify.
#include <cstddef>
#include <cstdint>

#include "icons/advanced_icon.h"
#include "icons/graphics_resources.h"
#include "icons/pe_module.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/filer.h"

namespace {

using TListModule = TResourceListOf<TResourceModule>;

void ReadFromFiler(const uint8_t* data, size_t size) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  TReader reader(&stream);
  TAdvancedIcon icon;
  try {
    icon.ReadFromFiler(reader);
  } catch (const Exception&) {
  }
}

// The input is the data of a group "G" and of the images it may name (1, 2).
void ReadResources(const uint8_t* data, size_t size) {
  RegisterGraphicsResourceClasses();
  TListModule module;
  const char* const resources[][2] = {{"14", "G"}, {"12", "G"}, {"3", "1"}, {"3", "2"}, {"1", "1"}, {"2", "1"}};
  for (const auto& [type, name] : resources)
    module.AddResource(CreateResourceDetailsByType(&module, 0, name, type, size, data));
  TAdvancedIcon icon;
  try {
    icon.LoadFromPEResource(module, "G");
  } catch (const Exception&) {
  }
  for (int i = 0; i < module.GetResourceCount(); ++i) {
    auto* graphic = dynamic_cast<TGraphicsResourceDetails*>(module.GetResource(i));
    if (!graphic) continue;
    try {
      (void)graphic->GetWidth();
      (void)graphic->GetHeight();
      TPicture picture;
      graphic->GetImage(&picture);
      (void)graphic->GetPixelFormat();
    } catch (const Exception&) {
    }
  }
  while (module.GetResourceCount() > 0) module.DeleteResource(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadFromFiler(data, size);
  ReadResources(data, size);
  return 0;
}
