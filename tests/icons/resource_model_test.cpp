#include "icons/resource_model.h"

#include <gtest/gtest.h>

#include "icon_test_util.h"
#include "icons/sub_icon.h"
#include "platform/rtl/exceptions.h"
#include "platform/win/resources.h"

namespace {

// A container that keeps its resources in a list, as the PE and RES containers do.
class TListModule : public TResourceModule {
public:
  int GetResourceCount() const override { return int(FList.size()); }
  TResourceDetails* GetResource(int index) const override { return FList.at(size_t(index)).get(); }
  int AddResource(std::unique_ptr<TResourceDetails> r) override {
    FList.push_back(std::move(r));
    return int(FList.size()) - 1;
  }
  int IndexOfResource(const TResourceDetails* r) const override {
    for (size_t i = 0; i < FList.size(); ++i)
      if (FList[i].get() == r) return int(i);
    return -1;
  }
  void Add(const std::string& type, const std::string& name, std::vector<uint8_t> bytes = {}) {
    AddResource(CreateResourceDetailsByType(this, 0, name, type, bytes.size(), bytes.data()));
  }
  void SortResources() override {
    std::stable_sort(FList.begin(), FList.end(),
                     [](const auto& a, const auto& b) { return CompareResourceDetails(a.get(), b.get()) < 0; });
  }
  std::vector<std::unique_ptr<TResourceDetails>> FList;
};

TEST(ResourceModel, NumbersNamesAndSortOrder) {
  const std::pair<const char*, int64_t> numbers[] = {{"007", 7}, {"", -1}, {"-1", -1}, {"12a", -1}, {"0", 0}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(ResourceNameToNumber(text), value) << text;

  TListModule m;
  EXPECT_EQ(NextResourceName(&m, "3"), "1");
  for (const char* name : {"B", "a", "10", "2"}) m.Add("3", name);
  m.Add("14", "1");
  m.Add("MYTYPE", "x");
  m.Add("3", "ABC");
  EXPECT_EQ(NextResourceName(&m, "3"), "11");
  m.SortResources();
  std::vector<std::string> order;
  for (int i = 0; i < m.GetResourceCount(); ++i)
    order.push_back(m.GetResource(i)->ResourceType() + ":" + m.GetResource(i)->Name());
  EXPECT_EQ(order, (std::vector<std::string>{"MYTYPE:x", "3:a", "3:ABC", "3:B", "3:2", "3:10", "14:1"}));
}

TEST(ResourceModel, LookUpIsExactAndStreamingIsRefused) {
  TListModule m;
  m.Add("14", "MAINICON", {1, 2, 3});
  EXPECT_NE(m.FindByTypeAndName("14", "MAINICON"), nullptr);
  EXPECT_EQ(m.FindByTypeAndName("14", "mainicon"), nullptr);
  EXPECT_EQ(m.FindByTypeAndName("3", "MAINICON"), nullptr);
  EXPECT_EQ(m.FindByTypeAndName("14", "MAINICON")->Data().Size(), 3);
  TMemoryStream s;
  try {
    m.SaveToStream(s);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Module doesn't support streaming");
  }
  m.GetResource(0)->Rename("OTHER");
  EXPECT_TRUE(m.GetResource(0)->Modified());
  m.DeleteResource(0);
  EXPECT_TRUE(m.Modified());
  m.ClearModified();
  EXPECT_FALSE(m.Modified());
  EXPECT_FALSE(m.GetResource(0)->Modified());
}

// A registered class that claims raw data beginning with "BM" and the type "77".
std::unique_ptr<TResourceDetails> MakeTagged(TResourceModule* module, uint32_t language, const std::string& name,
                                             const std::string& type, size_t size, const uint8_t* bytes) {
  auto r = std::make_unique<TResourceDetails>(module, language, name, type, size, bytes);
  r->SetVersion(77);
  return r;
}
bool ClaimsBm(size_t size, const uint8_t* bytes) { return size >= 2 && bytes[0] == 'B' && bytes[1] == 'M'; }

TEST(ResourceModel, ClassChoiceByTypeThenByContent) {
  const TResourceDetailsClass tagged{"77", nullptr, &ClaimsBm, &MakeTagged};
  RegisterResourceDetailsClass(&tagged);
  const uint8_t bm[] = {'B', 'M', 0};
  const uint8_t other[] = {1, 2};
  EXPECT_EQ(CreateResourceDetailsByType(nullptr, 0, "1", "77", 2, other)->Version(), 77u);
  EXPECT_EQ(CreateResourceDetailsByType(nullptr, 0, "1", "10", 3, bm)->Version(), 77u);  // by content
  EXPECT_EQ(CreateResourceDetailsByType(nullptr, 0, "1", "NAMED", 3, bm)->Version(), 77u);
  EXPECT_EQ(CreateResourceDetailsByType(nullptr, 0, "1", "10", 2, other)->Version(), 0u);
  UnregisterResourceDetailsClass(&tagged);
  EXPECT_EQ(CreateResourceDetailsByType(nullptr, 0, "1", "77", 2, other)->Version(), 0u);
}

TEST(ResourceModel, IconImageFromAGroupEntry) {
  TListModule m;
  const auto dib = icontest::DibImage(16, 16, 4);
  m.Add("3", "7", dib);
  TIconGroupEntry entry;
  entry.head.dwBytesInRes = 5;  // the resource's own length wins
  entry.nID = 7;
  TCustomMemoryStream group(&entry, sizeof entry);
  auto im = TSubIcon::CreateFromResourceModule<TResourceIconImage>(group, m);
  EXPECT_EQ(im->Bits(), dib);
  EXPECT_EQ(im->BytesInRes(), dib.size());
  EXPECT_EQ(im->GetDescription(), "16x16x16");
  entry.nID = 8;
  TCustomMemoryStream missing(&entry, sizeof entry);
  EXPECT_FALSE(TSubIcon::CreateFromResourceModule(missing, m)->HasBits());
}

TEST(ResourceModel, CursorResourceCarriesItsHotspot) {
  auto table = std::make_unique<TResourceTable>();
  auto bytes = icontest::DibImage(32, 32, 1);
  bytes.insert(bytes.begin(), {3, 0, 9, 0});
  const uint32_t size = uint32_t(bytes.size());
  table->Add(TResourceId::FromInteger(1), TResourceId::FromInteger(4), 0, bytes);
  HMODULE module = RegisterResourceModule(std::move(table));
  TIconGroupEntry entry;
  entry.head.dwBytesInRes = size;
  entry.nID = 4;
  TCustomMemoryStream group(&entry, sizeof entry);
  auto cur = TSubIcon::CreateFromCursorResource<TResourceCursorImage>(group, module);
  EXPECT_EQ(cur->HotspotX(), 3);
  EXPECT_EQ(cur->HotspotY(), 9);
  EXPECT_EQ(cur->BytesInRes(), size - 4);
  entry.head.dwBytesInRes = size + 1;
  TCustomMemoryStream wrong(&entry, sizeof entry);
  try {
    TSubIcon::CreateFromCursorResource(wrong, module);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid resource size");
  }
  entry.nID = 5;
  TCustomMemoryStream absent(&entry, sizeof entry);
  EXPECT_THROW(TSubIcon::CreateFromCursorResource(absent, module), EResNotFound);
  FreeLibrary(module);
}

}  // namespace
