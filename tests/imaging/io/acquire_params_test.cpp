// The acquisition objects: Reset's defaults for a single- and a multi-image
// owner, WIA without a device manager and with a fake one whose events
// arrive on another thread, and the TWAIN log.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "imaging/io/acquire_params.h"
#include "imaging/io/image_lib_io.h"
#include "platform/rtl/sysutils.h"
#include "platform/rtl/threads.h"
#include "platform/win/ole.h"
#include "test_support.h"

namespace {

class FakeMultiImage : public TComponent, public TIEMultiImageComponent {
public:
  FakeMultiImage() : TComponent(nullptr) {}
};

TEST(AcquireParams, ResetDefaultsFollowTheOwner) {
  FakeMultiImage multi;
  TImageLibIO io(nullptr);
  auto* forMulti = new TIETwainParams(&multi);
  TIETwainParams* forSingle = io.TwainParams();
  ASSERT_NE(forSingle, nullptr);
  for (TIETwainParams* p : {forMulti, forSingle}) {
    const bool multiPage = p == forMulti;
    p->XResolution.Add(300);
    p->PixelType.Add(2);
    p->Gamma = 1.0;
    p->CapabilityBlocks.push_back({1, 2, 3});
    p->TransferStream.WriteBuffer("abc", 3);
    p->SourceName = "Scanner";
    p->Reset();
    EXPECT_EQ(p->XResolution.Count(), 0);
    EXPECT_EQ(p->PixelType.Count(), 0);
    EXPECT_TRUE(p->CapabilityBlocks.empty());
    EXPECT_EQ(p->TransferStream.Size(), 0);
    EXPECT_DOUBLE_EQ(p->Gamma, 2.2);
    EXPECT_EQ(p->AcquireMultiplePages, multiPage);
    EXPECT_EQ(p->FeederEnabled, multiPage);
    EXPECT_EQ(p->AutoFeed, multiPage);
    EXPECT_TRUE(p->VisibleDialog);
    EXPECT_EQ(p->DuplexMode, -2);
    EXPECT_DOUBLE_EQ(p->PhysicalWidth, -1.0);
    EXPECT_EQ(p->SourceName, "n/a");
    EXPECT_EQ(p->SourceIndex, -1);
    EXPECT_EQ(p->TransferCount, 1);
  }
  EXPECT_EQ(io.AcquireParams()->Api, 1);
  EXPECT_EQ(io.DcimAcquire()->DeviceIndex, 0);
}

TEST(AcquireParams, WithoutAWIAServiceNothingRegistersAndOLEBalances) {
  const int ole = OleInitCount();
  {
    TIEWia wia(nullptr);
    EXPECT_EQ(wia.DeviceManager(), nullptr);
    EXPECT_EQ(wia.RegisteredSinks(), 0);
    EXPECT_EQ(OleInitCount(), ole + 1);
  }
  EXPECT_EQ(OleInitCount(), ole);
}

// A device manager that keeps the sinks it is given.
class FakeDevMgr : public IWiaDevMgr {
public:
  HRESULT RegisterEventCallbackInterface(int32_t, const std::string&, TIEWiaEvent event,
                                         std::shared_ptr<TWiaEventCallBack> sink,
                                         std::shared_ptr<void>& registration) override {
    events.push_back(event);
    sinks.push_back(sink);
    registration = std::make_shared<int>(1);
    return S_OK;
  }
  std::vector<TIEWiaEvent> events;
  std::vector<std::shared_ptr<TWiaEventCallBack>> sinks;
};

TEST(AcquireParams, AFakeManagerGetsThreeSinksAndEventsReachTheUIThread) {
  FakeDevMgr* mgr = nullptr;
  int lateFires = 0;
  WiaDevMgrFactory() = [&mgr] {
    auto m = std::make_unique<FakeDevMgr>();
    mgr = m.get();
    return m;
  };
  {
    TIEWia wia(nullptr);
    WiaDevMgrFactory() = nullptr;
    ASSERT_NE(mgr, nullptr);
    EXPECT_EQ(mgr->events, (std::vector<TIEWiaEvent>{iewItemCreated, iewItemDeleted, iewTreeUpdated}));
    EXPECT_EQ(wia.RegisteredSinks(), 3);
    std::vector<std::thread::id> ranOn;
    wia.OnItemsTreeUpdated = [&ranOn](TObject*) { ranOn.push_back(std::this_thread::get_id()); };
    // WIA's own thread delivers: deleted, then an event nobody registered.
    std::thread wiaThread([mgr] {
      mgr->sinks[1]->ImageEventCallback(iewItemDeleted);
      mgr->sinks[1]->ImageEventCallback(iewOther);
    });
    wiaThread.join();
    EXPECT_EQ(wia.LastEvent.load(), 3);
    EXPECT_TRUE(ranOn.empty());  // not on WIA's thread
    CheckSynchronize();
    ASSERT_EQ(ranOn.size(), 1u);
    EXPECT_EQ(ranOn[0], std::this_thread::get_id());
    mgr->sinks[2]->ImageEventCallback(iewTreeUpdated);
    EXPECT_EQ(wia.LastEvent.load(), 1);
    // An event queued for an object that is gone fires nothing.
    wia.OnItemsTreeUpdated = [&lateFires](TObject*) { ++lateFires; };
    std::thread late([mgr] { mgr->sinks[0]->ImageEventCallback(iewItemCreated); });
    late.join();
  }
  CheckSynchronize();
  EXPECT_EQ(lateFires, 0);
}

TEST(AcquireParams, TheTwainLogWritesOnlyWithAName) {
  qvtest::TempDir dir;
  TIETwainShared shared;
  TIETwainSession session;
  InitTwainSession(session);
  EXPECT_EQ(session.ProtocolMinor, 9);
  EXPECT_EQ(session.SupportedGroups, 3u);
  TwainLogFileName().clear();
  ReleaseTwainSession(shared, nullptr);
  session.Shared = &shared;
  DestroyProxyWindow(session, false);
  EXPECT_TRUE(IETW_UnloadSourceManager(session, true));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  TwainLogFileName() = dir.File("twain.log");
  DestroyProxyWindow(session, false);
  session.State = 2;
  EXPECT_TRUE(IETW_UnloadSourceManager(session, true));
  TwainLogFileName().clear();
  const auto bytes = qvtest::ReadFileBytes(dir.File("twain.log"));
  const std::string log(bytes.begin(), bytes.end());
  EXPECT_NE(log.find(" : DestroyProxyWindow\n"), std::string::npos);
  EXPECT_NE(log.find(" :   DestroyProxyWindow : not destroyed, for future uses\n"), std::string::npos);
  EXPECT_NE(log.find(" :   IETW_UnloadSourceManager not Unloaded, for future uses\n"), std::string::npos);
  EXPECT_EQ(session.State, 1);
}

}  // namespace
