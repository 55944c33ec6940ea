// Reading names and IDs through the server.
#include <tuple>

#include "server_fixture.h"

namespace nametree::test {
namespace {

using Lookup = ServerTest;
using Ids = std::vector<std::uint32_t>;
using Texts = std::vector<CString>;

TEST_F(Lookup, ListGettersReportTheSizeBeforeFilling) {
  const std::uint32_t c = server.AddContainer(0, 0), empty = server.AddContainer(0, 0);  // 1, 2
  Put(c, u"A"), Put(c, u"B"), Put(c, u"C");                                               // 3, 4, 5
  int count = -7, emptyCount = -7;
  CString names[3];
  std::uint32_t ids[3] = {};
  EXPECT_EQ((Results{server.GetNames(0, 3, count, names), server.GetNames(999, 3, count, names)}),
            (Results{E_FAIL, S_FALSE}));
  EXPECT_EQ(count, -7);
  EXPECT_EQ((Results{server.GetNames(c, 0, count, names), server.GetNameIDs(c, 3, count, nullptr),
                     server.GetNames(empty, 0, emptyCount, nullptr), server.GetNames(empty, -1, emptyCount, names)}),
            (Results{S_FALSE, E_POINTER, S_OK, S_FALSE}));
  EXPECT_EQ(std::make_tuple(count, emptyCount, names[0]), std::make_tuple(3, 0, CString()));
  // IDs 3..5 share bucket 0 of the ID table, newest first; the text table
  // holds A, B, C in buckets 65, 66, 67.
  EXPECT_EQ(server.GetNames(c, 3, count, names), S_OK);
  EXPECT_EQ(Texts(names, names + 3), (Texts{u"C", u"B", u"A"}));
  EXPECT_EQ(server.GetNameIDs(c, 5, count, ids), S_OK);
  EXPECT_EQ(Ids(ids, ids + 3), (Ids{3, 4, 5}));
  EXPECT_EQ(server.GetNamesAndIDs(c, 3, count, ids, names), S_OK);
  EXPECT_EQ(Ids(ids, ids + 3), (Ids{5, 4, 3}));
  EXPECT_EQ((std::vector<int>{server.GetNameSize(c), server.GetNameSize(0), server.GetNameSize(999)}),
            (std::vector<int>{3, 0, 0}));
}

TEST_F(Lookup, IdsAndTextsAcrossTheTree) {
  const std::uint32_t g = server.AddContainer(0, 2), t = server.AddContainer(0, 3), k = server.AddContainer(t, 4);
  const std::uint32_t hidden = server.AddContainer(server.AddContainer(k, 0), 0);
  const std::uint32_t valve = Put(g, u"Valve"), deep = Put(hidden, u"DeepName"), belt = Put(k, u"Belt");
  Put(t, u"valve");
  // The global name wins over t's own; otherwise only the container's own names count.
  EXPECT_EQ((Ids{server.GetID(0, u"Valve"), server.GetID(t, u"VALVE"), server.GetID(999, u"Valve"),
                 server.GetID(hidden, u"deepname"), server.GetID(k, u"belt"), server.GetID(t, u"Belt"),
                 server.GetID(999, u"Belt")}),
            (Ids{0x80004005u, valve, valve, deep, belt, 0, 0}));
  CString text;
  EXPECT_EQ((Results{server.GetName(deep, text), server.GetName(0, text), server.GetName(12345, text)}),
            (Results{S_OK, E_FAIL, E_FAIL}));
  EXPECT_EQ(text, u"DeepName");
  EXPECT_EQ((std::vector<bool>{server.FindName(t, u"belt", false), server.FindName(t, u"belt", true),
                               server.FindName(k, u"BELT", false), server.FindName(t, u"DeepName", true),
                               server.FindName(hidden, u"deepname", false), server.FindName(0, u"Belt", true)}),
            (std::vector<bool>{false, true, true, false, true, false}));  // type 0 is never entered
}

}  // namespace
}  // namespace nametree::test
