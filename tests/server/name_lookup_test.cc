// Reading names and IDs through the server, and proposals for fresh names
// with the counters they are numbered from.
#include <climits>
#include <tuple>

#include "server_fixture.h"

namespace nametree::test {
namespace {

using Lookup = ServerTest;
using Texts = std::vector<CString>;


// The index files a text under 32 bits of its hash, and TAGTWSF and TAGBTAI
// share those bits: held alone or by several containers, each must still
// be told from the other by every lookup and check.
TEST_F(Lookup, TextsSharingAnIndexTagAreToldApart) {
  const std::uint32_t g = server.AddContainer(0, kGlobalContainer), t = server.AddContainer(0, kTargetContainer);
  const std::uint32_t prog = server.AddContainer(t, kTargetContainer), tags = server.AddContainer(t, kLocalCheckContainer),
                      plain = server.AddContainer(t, 0);
  const auto other = [&] {
    return std::vector<bool>{server.FindName(prog, u"TagBtai", false), server.FindName(t, u"tagbtai", true),
                             server.GetID(prog, u"TAGBTAI") != 0,      server.GetID(plain, u"TagBtai") != 0,
                             server.IsDuplicateName(prog, u"TagBtai", false),
                             server.IsDuplicateName(tags, u"TagBtai", true),
                             server.IsDuplicateName(plain, u"TagBtai", false), server.IsGlobalName(u"TagBtai")};
  };
  const std::vector<bool> none(8, false);
  const std::uint32_t inProg = Put(prog, u"TagTwsf");
  EXPECT_EQ(other(), none);
  const std::uint32_t inPlain = Put(plain, u"tagtwsf"), inTags = Put(tags, u"TAGTWSF");
  const std::uint32_t inGlobal = Put(g, u"TagTwsf");
  EXPECT_EQ(other(), none);
  const auto ids = [&] {
    return Ids{server.GetID(prog, u"tagtwsf"), server.GetID(plain, u"TagTwsf"), server.GetID(tags, u"TagTwsf")};
  };
  EXPECT_EQ(ids(), (Ids{inGlobal, inGlobal, inGlobal}));
  EXPECT_EQ(server.DeleteName(g, inGlobal, false), S_OK);
  EXPECT_EQ(ids(), (Ids{inProg, inPlain, inTags}));
  std::uint32_t id = 0;
  ASSERT_EQ(server.AddName(id, plain, u"TagBtai", kOrdinaryName, true), S_OK);
  EXPECT_EQ((Ids{server.GetID(plain, u"TAGBTAI"), server.GetID(prog, u"TagBtai")}), (Ids{id, 0}));
  EXPECT_EQ(server.AddName(id, prog, u"TagBtai", kOrdinaryName, true), S_OK);
  EXPECT_EQ(server.AddName(id, tags, u"tagbtai", kOrdinaryName, true), E_NAME_DUPLICATE);
  EXPECT_EQ(server.DeleteName(prog, inProg, false), S_OK);
  EXPECT_EQ((std::vector<bool>{server.FindName(prog, u"TagBtai", false), server.FindName(prog, u"TagTwsf", false),
                               server.FindName(tags, u"TagTwsf", false)}),
            (std::vector<bool>{true, false, true}));
}

struct Request {
  CString base;
  int digits;
  CString proposal;  // "<S_FALSE>" when none is made
};

class UniqueNames : public ServerTest {
 protected:
  // Runs the requests in order on one container.
  void Expect(const std::vector<Request>& requests) {
    for (const Request& r : requests) {
      CString out = u"stale";
      const HRESULT hr = server.GetNextName(c, r.base, r.digits, &out);
      EXPECT_TRUE(hr == S_OK || (hr == S_FALSE && out.empty())) << hr;
      EXPECT_EQ(hr == S_OK ? out : u"<S_FALSE>", r.proposal) << "base of " << r.base.size() << ", " << r.digits;
    }
  }
  const std::uint32_t c = server.AddContainer(0, 0);
  const CString abc32 = u"abcdefghijklmnopqrstuvwxyzABCDEF", q32 = CString(32, u'q');
};

TEST_F(UniqueNames, LongBasesAndExtremeDigitCountsFollowTheLengthRule) {
  Expect({{abc32.substr(0, 30), 3, abc32.substr(0, 30) + u"1"},  // 33 units padded, 31 not
          {abc32, 3, u"abcdefghijklmnopqrstuvwxyzABC001"},
          {abc32, 3, u"abcdefghijklmnopqrstuvwxyzABC002"},  // cut again from the full base
          {abc32 + u"0123456", 0, abc32 + u"01234561"},      // no limit without digits
          {u"A", 32, u"A1"},
          // A 32-unit number leaves no room for any of the base.
          {q32, 32, u"00000000000000000000000000000001"}, {q32, -32, u"2                               "}});
  Put(c, u"00000000000000000000000000000003");
  Expect({{q32, 32, u"<S_FALSE>"},  // the bare number is taken and cannot advance
          {u"Pump", INT_MIN, u"Pump1"}, {u"Pump", INT_MAX, u"Pump2"}, {u"Pump", -33, u"Pump3"},
          {abc32, 1000000, u"<S_FALSE>"}, {abc32, INT_MIN, u"<S_FALSE>"}});
  CString out = u"kept";
  EXPECT_EQ((Results{server.GetNextName(0, u"Pump", 0, &out), server.GetNextName(c, u"Pump", 0, nullptr)}),
            (Results{S_FALSE, S_FALSE}));
  EXPECT_EQ(out, u"kept");
  EXPECT_EQ(server.GetNextName(999, u"Pump", 0, &out), S_FALSE);
  EXPECT_EQ(out, u"");
}

TEST_F(UniqueNames, ObjectCountersThroughTheServer) {
  auto count = [&](std::uint32_t id, CString base, bool reset) {
    return CNameServerTestAccess::GetNextObjectCount(server, id, base, reset);
  };
  // Valve stays selected for the Pump request without reset.
  EXPECT_EQ((std::vector<int>{count(c, u"Valve", true), count(c, u"Valve", false), count(c, u"Pump", false),
                              count(c, u"Pump", true), count(c, u"Valve", true), count(c, u"valve", true),
                              count(c, u"", true), count(0, u"Valve", true), count(999, u"Valve", true)}),
            (std::vector<int>{1, 2, 3, 1, 4, 1, 0, 0, 0}));
  Expect({{u"Valve", 0, u"Valve5"}});
}

// A proposal made to be added is one that AddName takes, with the same kind
// and confinement; where no number can pass, the request says so.
TEST_F(UniqueNames, AcceptedProposalsPassEveryCheckAddNameMakes) {
  const std::uint32_t g = server.AddContainer(0, kGlobalContainer), t = server.AddContainer(0, kTargetContainer);
  const std::uint32_t own = server.AddContainer(t, kLocalCheckContainer), sub = server.AddContainer(own, 0);
  Put(g, u"Pump1"), Put(t, u"PUMP2"), Put(own, u"Fan1"), Put(sub, u"Fan2");
  server.AddKeyword(u"Pump3");
  struct Case {
    std::uint32_t container;
    CString base;
    int digits;
    std::uint32_t kind;
    bool confine;
    HRESULT hr;
    CString proposal;
  } cases[] = {
      {t, u"Pump", 0, 0, false, S_OK, u"Pump4"},        // global, own tree and keyword skipped
      {c, u"Pump", 0, 0, false, S_OK, u"Pump2"},        // a plain container sees the global namespace only
      {sub, u"Fan", 0, 0, false, S_OK, u"Fan1"},        // and its own names, not its parent's
      {own, u"Fan", 0, 0, true, S_OK, u"Fan2"},         // confined: its own names, not its tree
      {own, u"Fan", 0, 0, false, S_OK, u"Fan3"},        // counters advance as GetNextName's do
      {t, u"2ndPump", 0, 0, false, E_NAME_INVALID, u""},
      {t, u"2ndPump", 0, kAllowLeadingUnderscore, false, S_OK, u"2ndPump2"},  // the refusal used 1
      {t, u"Gate", -3, 0, false, E_NAME_INVALID, u""},  // padded with spaces
      {t, abc32, 0, 0, false, E_NAME_INVALID, u""},
      {t, abc32, 3, 0, false, S_OK, u"abcdefghijklmnopqrstuvwxyzABC002"},
      {t, u"-_ .", 0, 0, false, S_FALSE, u""},
      {999, u"Pump", 0, 0, false, S_FALSE, u""},
  };
  for (const Case& k : cases) {
    CString out = u"stale";
    EXPECT_EQ(server.GetNextAcceptedName(k.container, k.base, k.digits, k.kind, k.confine, &out), k.hr)
        << &k - cases;
    EXPECT_EQ(out, k.proposal) << &k - cases;
    std::uint32_t id = 0;
    if (k.hr == S_OK) {
      EXPECT_EQ(server.AddName(id, k.container, out, k.kind, true, k.confine), S_OK);
    }
  }
}

}  // namespace
}  // namespace nametree::test
