// The container record, byte for byte.
#include "persist_fixture.h"

namespace nametree::test {
namespace {

using ContainerRecord = PersistTest;

TEST_F(ContainerRecord, OneNameRecord) {
  CNameContainer c(true);
  c.CreateContainerFromData(0x01020304, 2);
  c.AddNameFromData(2, u"AB", 0);
  const auto expected = Hex("01 00 | 04 03 02 01 | 02 00 | 01 00 | 02 00 00 00 | 06 00 00 00 | 41 00 42 00 00 00 | 00 00");
  EXPECT_EQ(ToHex(SavedRecord(c)), ToHex(expected));

  CNameContainer back;
  ComPtr<IStream> s = CreateMemoryStream(expected);
  ASSERT_EQ(back.Load(s.Get()), S_OK);
  EXPECT_EQ(back.GetID(), 0x01020304u);
  EXPECT_EQ(back.GetContainerType(), 2);
  EXPECT_EQ(back.GetIDOfName(u"ab"), 2u);
}

TEST_F(ContainerRecord, NamesFollowTheBucketWalk) {
  // 13513 buckets: 3 and 5 share bucket 0 (5 newer, first), 21 is in bucket 1.
  CNameContainer c;  // ID 1
  c.AddNameFromData(5, u"E", 0);
  c.AddNameFromData(21, u"U", 0);
  c.AddNameFromData(3, u"C", 0);
  EXPECT_EQ(ToHex(SavedRecord(c)),
            ToHex(Hex("01 00 01 00 00 00 00 00 03 00"
                      "03 00 00 00 04 00 00 00 43 00 00 00"
                      "05 00 00 00 04 00 00 00 45 00 00 00"
                      "15 00 00 00 04 00 00 00 55 00 00 00"
                      "00 00")));
  // Entered in record order, each at the front: the shared bucket comes back reversed.
  CNameContainer back;
  ComPtr<IStream> s = CreateMemoryStream(SavedRecord(c));
  ASSERT_EQ(back.Load(s.Get()), S_OK);
  EXPECT_EQ(NamesOf(back), (std::vector<CString>{u"E", u"C", u"U"}));
}

TEST_F(ContainerRecord, SeventeenBucketTableFromStoredData) {
  // 272 >> 4 = 17 -> bucket 0 of 17, ahead of 16 in bucket 1.
  CNameContainer c(true);
  c.CreateContainerFromData(9, 0);
  c.AddNameFromData(16, u"a", 0);
  c.AddNameFromData(272, u"b", 0);
  EXPECT_EQ(ToHex(SavedRecord(c)),
            ToHex(Hex("01 00 09 00 00 00 00 00 02 00"
                      "10 01 00 00 04 00 00 00 62 00 00 00"
                      "10 00 00 00 04 00 00 00 61 00 00 00"
                      "00 00")));
}

TEST_F(ContainerRecord, NestedRecordsAndEmptyText) {
  CNameContainer c(true);
  c.CreateContainerFromData(1, 2);
  c.AddContainerFromData(&c, 7, 3);
  c.FindContainer(7)->AddNameFromData(8, u"", 0);
  EXPECT_EQ(ToHex(SavedRecord(c)),
            ToHex(Hex("01 00 01 00 00 00 02 00 00 00 01 00"
                      "01 00 07 00 00 00 03 00 01 00 08 00 00 00 02 00 00 00 00 00 00 00")));

  CNameContainer back;
  ComPtr<IStream> s = CreateMemoryStream(SavedRecord(c));
  ASSERT_EQ(back.Load(s.Get()), S_OK);
  CNameContainer* child = back.FindContainer(7);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->GetParent(), &back);
  CString text = u"x";
  EXPECT_EQ(child->FindNameByID(8, &text), S_OK);
  EXPECT_EQ(text, u"");
}

TEST_F(ContainerRecord, CountedStringLengths) {
  // L = 0: empty text, only the length consumed; the record goes on behind it.
  CNameContainer a;
  ComPtr<IStream> s = CreateMemoryStream(Hex("01 00 01 00 00 00 00 00 01 00 02 00 00 00 00 00 00 00 00 00 | EE"));
  ASSERT_EQ(a.Load(s.Get()), S_OK);
  CString text = u"x";
  EXPECT_EQ(a.FindNameByID(2, &text), S_OK);
  EXPECT_EQ(text, u"");
  std::uint8_t next = 0;
  EXPECT_EQ(s->Read(&next, 1, nullptr), S_OK);
  EXPECT_EQ(next, 0xEE);

  // L = 1 cannot hold the terminating unit; a hostile length on a short
  // stream fails without reserving it.
  for (const char* length : {"01 00 00 00", "FF FF FF FF"}) {
    CNameContainer b;
    s = CreateMemoryStream(Hex(std::string("01 00 01 00 00 00 00 00 01 00 02 00 00 00") + length + "41 00 00 00"));
    EXPECT_EQ(b.Load(s.Get()), E_FAIL) << length;
  }
}

TEST_F(ContainerRecord, LoadMergesAndKeepsWhatWasReadBeforeAFailure) {
  CNameContainer c;
  c.AddNameFromData(2, u"Old", 0);
  // ID 2 gets a new text; the upper-cased old text still maps to 2.
  ComPtr<IStream> s = CreateMemoryStream(Hex("01 00 05 00 00 00 03 00 01 00 02 00 00 00 08 00 00 00 4E 00 65 00 77 00 00 00 00 00"));
  ASSERT_EQ(c.Load(s.Get()), S_OK);
  EXPECT_EQ(c.GetID(), 5u);
  EXPECT_EQ(c.GetIDOfName(u"NEW"), 2u);
  EXPECT_EQ(c.GetIDOfName(u"OLD"), 2u);

  // Two names announced, the stream ends inside the second: the first stays.
  CNameContainer d;
  s = CreateMemoryStream(Hex("01 00 06 00 00 00 02 00 02 00 | 0A 00 00 00 04 00 00 00 41 00 00 00 | 0B 00 00"));
  EXPECT_EQ(d.Load(s.Get()), E_FAIL);
  EXPECT_EQ(d.GetID(), 6u);
  EXPECT_EQ(d.GetContainerType(), 2);
  EXPECT_EQ(d.GetIDOfName(u"a"), 10u);
}

TEST_F(ContainerRecord, NoStreamOrTooManyNamesIsRefusedBeforeWriting) {
  CNameContainer c;
  EXPECT_EQ(c.Save(nullptr), E_POINTER);
  EXPECT_EQ(c.Load(nullptr), E_POINTER);
  for (std::uint32_t i = 1; i <= 32768; ++i) c.AddNameFromData(i, u"n" + CString(1, static_cast<char16_t>(i)), 0);
  ComPtr<IStream> s = CreateMemoryStream();
  EXPECT_EQ(c.Save(s.Get()), E_FAIL);
  EXPECT_TRUE(MemoryStreamBytes(s.Get()).empty());
}

}  // namespace
}  // namespace nametree::test
