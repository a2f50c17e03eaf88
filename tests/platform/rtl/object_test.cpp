#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/object.h"

namespace {

// Records its end and what it heard, so tests see the order of events.
class TProbe : public TComponent {
public:
  TProbe(TComponent* owner, std::vector<std::string>* log, std::string tag)
      : TComponent(owner), FLog(log), FTagText(std::move(tag)) {}
  ~TProbe() override { FLog->push_back("free " + FTagText); }
  TProbe* FPartner = nullptr;

protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == FPartner) {
      FLog->push_back(FTagText + " drops partner");
      FPartner = nullptr;
    }
  }

private:
  std::vector<std::string>* FLog;
  std::string FTagText;
};

}  // namespace

TEST(Component, OwnerFreesOwnedLastCreatedFirst) {
  std::vector<std::string> log;
  auto* owner = new TProbe(nullptr, &log, "owner");
  auto* a = new TProbe(owner, &log, "a");
  new TProbe(owner, &log, "b");
  new TProbe(a, &log, "a1");  // owned in turn by a
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->Components(0), a);
  EXPECT_EQ(a->Owner(), owner);
  EXPECT_EQ(a->ComponentIndex(), 0);
  EXPECT_THROW(owner->Components(2), EListError);
  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"free owner", "free b", "free a", "free a1"}));
}

TEST(Component, FreedBeforeItsOwnerLeavesTheOwnersList) {
  std::vector<std::string> log;
  TProbe owner(nullptr, &log, "owner");
  auto* a = new TProbe(&owner, &log, "a");
  auto* b = new TProbe(&owner, &log, "b");
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), b);
  // Moving to another owner takes it out of the first one's list.
  TProbe other(nullptr, &log, "other");
  other.InsertComponent(b);
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(b->Owner(), &other);
  log.clear();
}

TEST(Component, FreeNotificationWorksBothWays) {
  std::vector<std::string> log;
  {
    TProbe x(nullptr, &log, "x");
    auto* y = new TProbe(nullptr, &log, "y");
    x.FPartner = y;
    x.FreeNotification(y);
    delete y;  // x hears of it and forgets y
    EXPECT_EQ(x.FPartner, nullptr);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free y", "x drops partner", "free x"}));

  log.clear();
  {
    TProbe y(nullptr, &log, "y");
    auto* x = new TProbe(nullptr, &log, "x");
    y.FPartner = x;
    x->FreeNotification(&y);  // asked by x, but the link holds for y as well
    delete x;
    EXPECT_EQ(y.FPartner, nullptr);
  }
  log.clear();
  {
    // Once removed, nobody is told, and nothing dangles when the partner goes.
    TProbe x(nullptr, &log, "x");
    auto* y = new TProbe(nullptr, &log, "y");
    x.FPartner = y;
    x.FreeNotification(y);
    x.RemoveFreeNotification(y);
    delete y;
    EXPECT_EQ(x.FPartner, y);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free y", "free x"}));
}

TEST(Component, OwnerHearsOfItsComponentsGoing) {
  std::vector<std::string> log;
  TProbe owner(nullptr, &log, "owner");
  auto* a = new TProbe(&owner, &log, "a");
  owner.FPartner = a;  // an owner keeping a pointer to one of its components
  delete a;
  EXPECT_EQ(owner.FPartner, nullptr);
}

TEST(Component, NamesAreUniqueAmongSiblingsWithoutRegardToCase) {
  std::vector<std::string> log;
  TProbe owner(nullptr, &log, "owner");
  auto* a = new TProbe(&owner, &log, "a");
  auto* b = new TProbe(&owner, &log, "b");
  a->SetName("Button1");
  EXPECT_EQ(owner.FindComponent("BUTTON1"), a);
  EXPECT_THROW(b->SetName("button1"), EComponentError);
  b->SetName("Button2");
  EXPECT_EQ(owner.FindComponent("button2"), b);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(Persistent, AssignWithoutSupportRaisesTheConversionError) {
  std::vector<std::string> log;
  TProbe c(nullptr, &log, "c");
  TPersistent p;
  try {
    p.Assign(&c);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TProbe to a TPersistent");
  }
  try {
    p.Assign(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TPersistent");
  }
  EXPECT_EQ(c.ClassName(), "TProbe");
  EXPECT_EQ(ClassNameOrNil(nullptr), "nil");
  EXPECT_TRUE(c.InheritsFrom<TComponent>());
  log.clear();
}

namespace {
class TRegistered : public TPersistent {};
class TRegisteredComponent : public TComponent {
public:
  using TComponent::TComponent;
};
}  // namespace

TEST(ClassRegistry, MakesRegisteredClassesByName) {
  TPersistentClass c = RegisterClass<TRegistered>();
  EXPECT_EQ(c->Name, "TRegistered");
  EXPECT_EQ(RegisterClass<TRegistered>(), c);  // again: the same entry
  RegisterClass<TRegisteredComponent>();
  ASSERT_EQ(GetClass("tregisteredcomponent"), FindClass("TRegisteredComponent"));
  std::unique_ptr<TPersistent> made(FindClass("TRegisteredComponent")->Create());
  auto* comp = dynamic_cast<TRegisteredComponent*>(made.get());
  ASSERT_NE(comp, nullptr);
  EXPECT_EQ(comp->Owner(), nullptr);
  EXPECT_THROW(RegisterClassInfo("TRegistered", typeid(TPersistent), [] { return new TPersistent; }), EFilerError);
  EXPECT_EQ(GetClass("TNoSuchClass"), nullptr);
  try {
    FindClass("TNoSuchClass");
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TNoSuchClass not found");
  }
  UnRegisterClass("TRegistered");
  EXPECT_EQ(GetClass("TRegistered"), nullptr);
  EXPECT_EQ(c->Name.substr(1), "TRegistered");  // the old entry is still readable
}

TEST(Exceptions, FamilyAsTheFrameworkRaisesThem) {
  // Read and write errors are filer errors and stream errors; out of resources is out of memory.
  EXPECT_THROW(throw EReadError("x"), EFilerError);
  EXPECT_THROW(throw EWriteError("x"), EStreamError);
  EXPECT_THROW(throw EFOpenError("x"), EFileStreamError);
  EXPECT_THROW(throw EOutOfResources("x"), EOutOfMemory);
  EXPECT_THROW(throw EClassNotFound("x"), EStreamError);
  try {
    OutOfMemoryError();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Out of memory");
    EXPECT_STREQ(e.what(), "Out of memory");
  }
  EXPECT_THROW(Abort(), EAbort);
}
