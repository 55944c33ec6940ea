// Hostile documents and input against the program: a stream that loads
// but does not read back whole, texts a document cannot keep, damaged
// settings, and trees deep enough to make output explode.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "nametree/cfb_storage.h"
#include "support/program.h"

namespace nametree::test {
namespace {

// "NameServer" bytes written field by field, little-endian.
struct Bytes {
  std::string b;
  Bytes& U16(unsigned v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
    return *this;
  }
  Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& Text(const std::u16string& t) {
    U32(static_cast<std::uint32_t>(2 * t.size() + 2));
    for (char16_t u : t) U16(u);
    return U16(0);
  }
  // A container record's head and names; its M follows with U16.
  Bytes& Record(std::uint32_t id, int type, const std::vector<std::pair<std::uint32_t, std::u16string>>& names,
                unsigned version = 1) {
    U16(version).U32(id).U16(static_cast<unsigned>(type)).U16(static_cast<unsigned>(names.size()));
    for (const auto& [nameID, text] : names) U32(nameID).Text(text);
    return *this;
  }
};

void WriteDocument(const std::string& path, const std::string& stream, const std::string& labels = "",
                   const char16_t* settings = u"NametreeLabels") {
  ComPtr<IStorage> root;
  std::string error;
  ASSERT_TRUE(CreateCompoundFile(path, &root, &error)) << error;
  for (const auto& [name, bytes] : {std::pair(u"NameServer", stream), std::pair(settings, labels)}) {
    ComPtr<IStream> s;
    if (bytes.empty() || root->CreateStream(name, kCreateMode, s.Put()) != S_OK) continue;
    ASSERT_EQ(s->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr), S_OK);
  }
  ASSERT_TRUE(CommitCompoundFile(root.Get(), &error)) << error;
}

// A global container 1 holding "Keep" (3), then a target 2 holding "Other" (4).
std::string Whole() {
  return Bytes().U16(1).U16(2).Record(1, 2, {{3, u"Keep"}}).U16(0).Record(2, 3, {{4, u"Other"}}).U16(0).U32(4).b;
}

TEST(Hostile, StreamsThatDoNotReadBackWholeAreDamagedNeverClean) {
  TempDir dir;
  const std::string doc = dir.File("doc.nt");
  const std::string tail = Bytes().Record(2, 3, {{4, u"Other"}}).U16(0).U32(4).b;
  const struct {
    const char* what;
    std::string stream;
    const char* check;
  } cases[] = {
      {"top-level count with its high bit set",
       Bytes().U16(1).U16(0x8002).Record(1, 2, {{3, u"Keep"}}).U16(0).b + tail, "counts"},
      {"top-level count below the records", Bytes().U16(1).U16(1).Record(1, 2, {{3, u"Keep"}}).U16(0).b + tail,
       "bytes-consumed"},
      {"two names under one ID", Bytes().U16(1).U16(1).Record(1, 2, {{3, u"Keep"}, {3, u"Lost"}}).U16(0).U32(4).b,
       "unique-ids"},
      {"two sibling containers under one ID",
       Bytes().U16(1).U16(1).Record(1, 2, {}).U16(2).Record(5, 0, {{6, u"A"}}).U16(0).Record(5, 0, {{7, u"B"}}).U16(0).U32(7).b,
       "unique-ids"},
      {"a name count with its high bit set",
       Bytes().U16(1).U16(1).Record(1, 2, {}).b.substr(0, 12) + "\x01\x80" + Bytes().U16(0).U32(4).U32(3).Text(u"Keep").b,
       "counts"},
      {"a stream version of 2", Bytes().U16(2).U16(2).b + Whole().substr(4), "version"},
      {"a record version of 7", Bytes().U16(1).U16(1).Record(1, 2, {{3, u"Keep"}}, 7).U16(0).U32(4).b, "version"},
      {"bytes behind the last issued ID", Whole() + "junk", "bytes-consumed"},
      {"container ID 0", Bytes().U16(1).U16(1).Record(0, 2, {{3, u"Keep"}}).U16(0).U32(4).b, "unique-ids"},
      {"name ID 0", Bytes().U16(1).U16(1).Record(1, 2, {{0, u"Keep"}}).U16(0).U32(4).b, "unique-ids"},
      {"a text cut by U+0000", Bytes().U16(1).U16(1).Record(1, 2, {{3, std::u16string(u"Keep\0Evil", 9)}}).U16(0).U32(4).b,
       "lengths"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteDocument(doc, c.stream);
    const std::string before = ReadBytes(doc);
    ProgramRun r = RunProgram(dir, {"lint", doc});
    EXPECT_EQ(r.exit, 1) << r.out << r.err;
    EXPECT_NE(r.out.find(std::string("did not read back whole")), std::string::npos) << r.out;
    r = RunProgram(dir, {"lint", doc, "--json"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;  // one object
    EXPECT_NE(r.out.find(std::string("\"check\":\"") + c.check + "\""), std::string::npos) << r.out;
    for (const std::vector<std::string>& edit : {std::vector<std::string>{"add-container", doc, "0"},
                                                 std::vector<std::string>{"keyword", "add", doc, "BEGIN"}}) {
      r = RunProgram(dir, edit);
      EXPECT_EQ(r.exit, 2) << r.out << r.err;
      EXPECT_NE(r.err.find("did not read back whole (" + std::string(c.check)), std::string::npos) << r.err;
      EXPECT_TRUE(ReadBytes(doc) == before);
    }
    EXPECT_EQ(RunProgram(dir, {"add-container", doc, "0", "--force"}).exit, 0);
  }
  WriteDocument(doc, Whole());
  EXPECT_EQ(RunProgram(dir, {"lint", doc}).exit, 0);
  EXPECT_EQ(RunProgram(dir, {"add", doc, "1", "Fresh"}).exit, 0);
  const ProgramRun tree = RunProgram(dir, {"tree", doc});
  for (const char* name : {"Keep", "Other", "Fresh"}) EXPECT_NE(tree.out.find(name), std::string::npos) << tree.out;
}

TEST(Hostile, TextsADocumentCannotKeepAreRefusedInEveryKind) {
  TempDir dir;
  const std::string doc = dir.File("doc.nt");
  ASSERT_EQ(RunProgram(dir, {"init", doc}).exit, 0);
  ASSERT_EQ(RunProgram(dir, {"batch", doc}, "add-container 0 --type global\nadd 1 Keep\n").exit, 0);
  const std::string before = ReadBytes(doc);
  for (const char* kind : {"0", "1", "7"}) {
    SCOPED_TRACE(kind);
    ProgramRun r = RunProgram(dir, {"add", doc, "1", "Keep\\x00Evil", "--kind", kind});
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_NE(r.err.find("U+0000 at position 5"), std::string::npos) << r.err;
    EXPECT_EQ(RunProgram(dir, {"rename", doc, "2", "Keep\\x00Evil", "--kind", kind}).exit, 1);
    r = RunProgram(dir, {"batch", doc, "-"}, std::string("add 1 Kept\\x00 --kind ") + kind + "\n");
    EXPECT_EQ(r.exit, 1) << r.out << r.err;
    EXPECT_TRUE(ReadBytes(doc) == before);
  }
  // A keyword is held to the length of a name, never cut.
  ProgramRun r = RunProgram(dir, {"keyword", "add", doc, std::string(70000, 'K')});
  EXPECT_EQ(r.exit, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("70000 UTF-16 code units, more than 32"), std::string::npos);
  EXPECT_EQ(RunProgram(dir, {"batch", doc, "-"}, "keyword " + std::string(33, 'K') + "\n").exit, 1);
  EXPECT_EQ(RunProgram(dir, {"keyword", "add", doc, "Bad\\x00"}).exit, 1);
  EXPECT_TRUE(ReadBytes(doc) == before);
  EXPECT_EQ(RunProgram(dir, {"keyword", "add", doc, std::string(32, 'K'), "BEGIN", "begin"}).out,
            "added 2 keywords to " + doc + " (1 kept already)\n");

  // An over-long name is echoed cut, once per message.
  const std::string huge(100000, 'N');
  r = RunProgram(dir, {"add", doc, "1", huge});
  EXPECT_EQ(r.exit, 1);
  EXPECT_LT(r.err.size(), 1000u) << r.err.substr(0, 300);
  EXPECT_NE(r.err.find("... (100000"), std::string::npos) << r.err;
}

TEST(Hostile, LabelsThatCannotBeTrustedAreLintErrors) {
  TempDir dir;
  const std::string doc = dir.File("doc.nt");
  // Labels: version 1, a count, then per label its container, length and units.
  auto labels = [](const std::vector<std::pair<std::uint32_t, std::u16string>>& all) {
    Bytes b;
    b.U32(1).U32(static_cast<std::uint32_t>(all.size()));
    for (const auto& [id, text] : all) {
      b.U32(id).U16(static_cast<unsigned>(text.size()));
      for (char16_t u : text) b.U16(u);
    }
    return b.b;
  };
  WriteDocument(doc, Whole(), labels({{1, u"Same"}, {2, u"SAME"}, {9, u"Gone"}}));
  ProgramRun r = RunProgram(dir, {"lint", doc});
  EXPECT_EQ(r.exit, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("\"SAME\" of container 2: container 1 has that label too"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"Gone\" of container 9: the document holds no such container"), std::string::npos);
  r = RunProgram(dir, {"add", doc, "@same", "Pump"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_NE(r.err.find("is held by containers 1 and 2"), std::string::npos) << r.err;

  WriteDocument(doc, Whole(), labels({{1, u"9 has space"}, {2, u""}}));
  r = RunProgram(dir, {"lint", doc, "--json"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
  EXPECT_NE(r.out.find("\"check\":\"label-invalid\""), std::string::npos) << r.out;

  // Labels, then origins of an import that claim more entries than the bytes hold.
  for (const char16_t* settings : {u"NametreeLabels", u"NametreeOrigins"}) {
    WriteDocument(doc, Whole(), std::string("\x01\x00\x00\x00\x00\x00\xFF\xFF\xFF\x7F", 10), settings);
    r = RunProgram(dir, {"lint", doc, "--json"});
    EXPECT_EQ(r.exit, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    EXPECT_NE(r.out.find("\"check\":\"malformed\""), std::string::npos) << r.out;
    EXPECT_EQ(RunProgram(dir, {"tree", doc}).exit, 0);
  }
}

TEST(Hostile, DeepTreesPrintInSpaceLinearInTheirSize) {
  TempDir dir;
  const std::string doc = dir.File("doc.nt");
  constexpr std::uint32_t kDepth = 3000;
  Bytes b;
  b.U16(1).U16(1);
  // Every level holds an invalid name, so that lint has a finding per level.
  for (std::uint32_t i = 1; i <= kDepth; ++i) b.Record(i, 0, {{kDepth + i, u"1Level"}}).U16(i < kDepth ? 1 : 0);
  b.U32(2 * kDepth);
  WriteDocument(doc, b.b);
  for (const char* command : {"tree", "dump"}) {
    SCOPED_TRACE(command);
    const ProgramRun r = RunProgram(dir, {command, doc});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_LT(r.out.size(), kDepth * 100) << command;
    EXPECT_NE(r.out.find("] container 3000 (plain)\n"), std::string::npos);
    EXPECT_NE(r.out.find("                [9] container "), std::string::npos);
    EXPECT_NE(r.out.find("  container 2 (plain)\n"), std::string::npos);
  }
  const ProgramRun json = RunProgram(dir, {"tree", doc, "--json"});
  EXPECT_EQ(json.exit, 0) << json.err;
  EXPECT_NE(json.out.find("{\"id\":3000,\"depth\":2999,\"parent\":2999,"), std::string::npos);
  std::string nested;
  for (int i = 0; i < 100; ++i) nested += "]}";
  EXPECT_EQ(json.out.find(nested), std::string::npos);  // no JSON reader recurses 3000 deep
  for (const std::vector<std::string>& args : {std::vector<std::string>{"lint", doc}, {"lint", doc, "--json"}}) {
    const std::string format = args.back();
    const ProgramRun lint = RunProgram(dir, args);
    EXPECT_EQ(lint.exit, 1) << lint.err;
    EXPECT_LT(lint.out.size(), kDepth * 400) << format;
    EXPECT_NE(lint.out.find("1/2/3/4/.../2997/2998/2999/3000"), std::string::npos) << format;
    EXPECT_NE(lint.out.find("1/2/3/4/5/6/7/8/9"), std::string::npos) << format;
    EXPECT_NE(lint.out.find("1/2/3/4/.../7/8/9/10"), std::string::npos) << format;
  }
}

TEST(Hostile, OddCharactersAreEscapedInEveryMessage) {
  TempDir dir;
  const std::string doc = dir.File("doc.nt");
  WriteDocument(doc, Bytes().U16(1).U16(1).Record(1, 2, {{3, u"Lone\xD800"}, {4, u"Esc\x1B"}}).U16(0).U32(4).b);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"tree", doc},
                                               std::vector<std::string>{"dump", doc},
                                               std::vector<std::string>{"lint", doc}}) {
    const ProgramRun r = RunProgram(dir, args);
    EXPECT_NE(r.out.find("Lone\\u{D800}"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xEF\xBF\xBD"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace nametree::test
