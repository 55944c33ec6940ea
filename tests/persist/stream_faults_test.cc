// Every Read and Write of a save or a load, failed or cut short in turn:
// each gives E_FAIL, keeps the dirty flag, and releases every handle.
#include "persist_fixture.h"
#include "support/fault_stream.h"

namespace nametree::test {
namespace {

using StreamFaults = PersistTest;

void Build(CNameServer& server) {
  const std::uint32_t g = server.AddContainer(0, kGlobalContainer);
  const std::uint32_t t = server.AddContainer(0, kTargetContainer);
  const std::uint32_t sub = server.AddContainer(t, 4);
  server.GetContainer(g)->AddName(u"Pump");
  server.GetContainer(g)->AddName(u"");
  server.GetContainer(sub)->AddName(u"Valve\u00e9");
  server.AddContainer(sub, 0);
}

TEST_F(StreamFaults, EverySaveCallFailingOrShort) {
  CNameServer server;
  Build(server);
  ComPtr<IStorage> clean = CreateMemoryStorage();
  FaultCounters calls;
  {
    ComPtr<IStorage> counted = WrapStorage(clean.Get(), {}, &calls);
    ASSERT_EQ(server.Save(counted.Get()), S_OK);
  }
  ASSERT_GT(calls.writes, 10);
  for (Fault fault : {Fault::kFail, Fault::kShort}) {
    for (int k = 0; k < calls.writes; ++k) {
      ComPtr<IStorage> st = CreateMemoryStorage();
      auto ledger = MemoryStorageLedger(st.Get());
      StorageFaults faults;
      faults.plan.writeFault = fault;
      faults.plan.writeIndex = k;
      server.SetDirty(true);
      {
        ComPtr<IStorage> wrapped = WrapStorage(st.Get(), faults);
        const HRESULT hr = server.Save(wrapped.Get());
        // A short counted-string write is not detected: the save then succeeds.
        if (hr == S_OK) {
          EXPECT_EQ(fault, Fault::kShort) << k;
          EXPECT_FALSE(server.IsDirty());
        } else {
          EXPECT_EQ(hr, E_FAIL) << k;
          EXPECT_TRUE(server.IsDirty()) << k;
        }
      }
      EXPECT_EQ(ledger->Live(), 1) << "handle left open, write " << k;
    }
  }
}

TEST_F(StreamFaults, StreamThatCannotBeOpenedOrCreated) {
  CNameServer server;
  Build(server);
  server.SetDirty(true);
  ComPtr<IStorage> st = CreateMemoryStorage();
  StorageFaults faults;
  faults.refuseOpen = true;
  faults.refuseCreate = true;
  ComPtr<IStorage> wrapped = WrapStorage(st.Get(), faults);
  EXPECT_EQ(server.Save(wrapped.Get()), E_FAIL);
  EXPECT_TRUE(server.IsDirty());
  EXPECT_TRUE(StreamOf(st.Get()).empty());
}

TEST_F(StreamFaults, EveryLoadCallFailingOrShort) {
  CNameServer source;
  Build(source);
  ComPtr<IStorage> st = CreateMemoryStorage();
  ASSERT_EQ(source.Save(st.Get()), S_OK);
  const std::uint32_t saved = CNameContainer::GetLastIssuedNameID();
  FaultCounters calls;
  {
    CNameServer probe;
    ComPtr<IStorage> counted = WrapStorage(st.Get(), {}, &calls);
    ASSERT_EQ(probe.Load(counted.Get()), S_OK);
  }
  auto ledger = MemoryStorageLedger(st.Get());
  for (Fault fault : {Fault::kFail, Fault::kShort}) {
    for (int k = 0; k < calls.reads; ++k) {
      CNameContainer::SetLastIssuedNameID(1000);
      CNameServer server;
      server.SetDirty(true);
      StorageFaults faults;
      faults.plan.readFault = fault;
      faults.plan.readIndex = k;
      {
        ComPtr<IStorage> wrapped = WrapStorage(st.Get(), faults);
        EXPECT_EQ(server.Load(wrapped.Get()), E_FAIL) << k;
      }
      EXPECT_TRUE(server.IsDirty());
      // The counter was not restored: the last read is the one that restores it.
      EXPECT_NE(CNameContainer::GetLastIssuedNameID(), saved) << k;
      EXPECT_EQ(ledger->Live(), 1) << "handle left open, read " << k;
    }
  }
}

TEST_F(StreamFaults, ContainerRecordReadAndWriteFaults) {
  CNameServer server;
  Build(server);
  CNameContainer* top = server.GetContainer(server.GetTopLevelContainerIDs()[1]);
  const auto bytes = SavedRecord(*top);
  for (int k = 0; k < 40; ++k) {
    ComPtr<IStream> raw = CreateMemoryStream(bytes);
    FaultPlan plan;
    plan.readFault = Fault::kFail;
    plan.readIndex = k;
    FaultCounters seen;
    ComPtr<IStream> s = WrapStream(raw.Get(), plan, &seen);
    CNameContainer c;
    const HRESULT hr = c.Load(s.Get());
    EXPECT_EQ(hr, k < seen.reads ? E_FAIL : S_OK) << k;

    ComPtr<IStream> out = CreateMemoryStream();
    FaultPlan wplan;
    wplan.writeFault = Fault::kFail;
    wplan.writeIndex = k;
    FaultCounters wseen;
    ComPtr<IStream> w = WrapStream(out.Get(), wplan, &wseen);
    const HRESULT saved = top->Save(w.Get());
    EXPECT_EQ(saved, k < wseen.writes ? E_FAIL : S_OK) << k;
  }
}

}  // namespace
}  // namespace nametree::test
