#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "legacy/legacy_doc.h"
#include "nametree/cfb_storage.h"
#include "nametree/document.h"
#include "nametree/name_server.h"
#include "nametree/utf8.h"
#include "support/scratch.h"

namespace nametree {
namespace {

using Kind = ErrorKind;
using Reason = CNameRefusal::Reason;

// A document with a global, a target, an own and a plain container, each
// holding one name.
struct Plant {
  Document doc = Document::InMemory();
  std::uint32_t global = *doc.AddContainer(0, ContainerType::kGlobal);
  std::uint32_t target = *doc.AddContainer(0, ContainerType::kTarget);
  std::uint32_t own = *doc.AddContainer(0, ContainerType::kOwn);
  std::uint32_t plain = *doc.AddContainer(own, ContainerType::kPlain);
  std::uint32_t pump = *doc.Add(global, "Pump");
  std::uint32_t valve = *doc.Add(target, "Valve");
  std::uint32_t motor = *doc.Add(plain, "Motor");
};

TEST(Document, RefusalsNameTheirKindStatusAndReason) {
  Plant p;
  struct Case {
    const char* what;
    std::function<Result<void>(Plant&)> edit;
    Kind kind;
    const char* code;
    const char* message;
    Reason reason = Reason::kNone;  // what the server decided
  };
  auto ok = [](auto r) { return r ? Result<void>() : Result<void>(r.error()); };
  const Case cases[] = {
      {"duplicate global", [&](Plant& p) { return ok(p.doc.Add(p.target, "PUMP")); }, Kind::kDuplicate,
       "E_NAME_DUPLICATE", "to container 2: taken in the global namespace (container 1 holds it as ID", Reason::kDuplicate},
      {"invalid first", [&](Plant& p) { return ok(p.doc.Add(p.plain, "1st")); }, Kind::kInvalidName,
       "E_NAME_INVALID", "not a valid name: it begins with \"1\"; a name begins with a letter", Reason::kInvalidName},
      {"empty", [&](Plant& p) { return ok(p.doc.Add(p.plain, "")); }, Kind::kInvalidName, "E_NAME_INVALID",
       "it is empty", Reason::kInvalidName},
      {"no container", [&](Plant& p) { return ok(p.doc.Add(99, "X")); }, Kind::kNotFound, "E_FAIL",
       "cannot add \"X\" to container 99: no container has ID 99", Reason::kNoContainer},
      {"bad utf-8", [&](Plant& p) { return ok(p.doc.Add(p.plain, "A\xC3")); }, Kind::kInvalidText,
       "E_INVALIDARG", "not valid UTF-8"},
      {"overlong", [&](Plant& p) { return ok(p.doc.Add(p.plain, "A\xC0\x81")); }, Kind::kInvalidText,
       "E_INVALIDARG", "not valid UTF-8"},
      {"lone surrogate", [&](Plant& p) { return ok(p.doc.Add(p.plain, std::u16string(u"A\xD800"))); },
       Kind::kInvalidText, "E_INVALIDARG", "lone UTF-16 surrogate"},
      {"rename missing", [&](Plant& p) { return p.doc.Rename(99, "X"); }, Kind::kNotFound, "E_FAIL",
       "no name has ID 99", Reason::kNoName},
      {"rename taken", [&](Plant& p) { return p.doc.Rename(p.motor, "pUMP"); }, Kind::kDuplicate,
       "E_NAME_DUPLICATE", "cannot rename ID 8 to \"pUMP\": taken in the global namespace", Reason::kDuplicate},
      {"delete container id", [&](Plant& p) { return p.doc.Delete(p.own); }, Kind::kInvalidArgument,
       "E_INVALIDARG", "it is a container"},
      {"delete missing container", [&](Plant& p) { return p.doc.DeleteContainer(p.pump); }, Kind::kNotFound,
       "E_FAIL", "no container has ID", Reason::kNoContainer},
      {"parent missing", [&](Plant& p) { return ok(p.doc.AddContainer(77)); }, Kind::kNotFound, "E_FAIL",
       "cannot add a container under 77", Reason::kNoContainer},
      {"next of digit", [&](Plant& p) { return ok(p.doc.NextName(p.plain, "9x")); }, Kind::kInvalidName,
       "E_NAME_INVALID", "no number makes it a valid name", Reason::kInvalidName},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Result<void> r = c.edit(p);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), c.kind);
    EXPECT_EQ(r.error().code(), c.code);
    EXPECT_EQ(StatusName(r.error().status()), c.code);
    EXPECT_NE(r.error().message().find(c.message), std::string::npos) << r.error().message();
    EXPECT_EQ(r.error().refusal().reason, c.reason);
    const CDuplicateHit held{CDuplicateHit::Where::kGlobal, p.global, p.pump};
    EXPECT_EQ(r.error().refusal().hit, c.reason == Reason::kDuplicate ? held : CDuplicateHit{});
  }
}

TEST(Document, EditsCheckFindAndNextNameAgree) {
  Plant p;
  EXPECT_TRUE(p.doc.Rename(p.motor, "Motor"));  // its own text: nothing to do
  ASSERT_TRUE(p.doc.Rename(p.motor, "Straße"));
  const auto verdict = p.doc.Check(p.plain, "PUMP");
  ASSERT_TRUE(verdict);
  EXPECT_FALSE(*verdict);
  EXPECT_EQ(verdict->status, E_NAME_DUPLICATE);
  EXPECT_EQ(verdict->otherContainer, p.global);
  EXPECT_EQ(verdict->otherName, p.pump);
  EXPECT_EQ(verdict->refusal.reason, Reason::kDuplicate);
  EXPECT_TRUE(*p.doc.Check(p.plain, "Pumpe"));
  EXPECT_EQ(p.doc.Check(p.plain, "_x")->status, E_NAME_INVALID);
  EXPECT_EQ(p.doc.Check(p.plain, "_x")->refusal.rule.rule, CNameRuleViolation::Rule::kFirstCharacter);
  EXPECT_EQ(p.doc.Check(p.plain, "_x")->refusal.reason, Reason::kInvalidName);
  // Judged as Add judges with the same kind and options: the rule before the container.
  EXPECT_TRUE(*p.doc.Check(p.plain, u"_x", kAllowLeadingUnderscore, {}));
  EXPECT_TRUE(p.doc.Find("_x")->empty());  // judged, not added
  EXPECT_EQ(p.doc.Check(99, u"1st", 0, {})->refusal.reason, Reason::kInvalidName);
  EXPECT_EQ(p.doc.Check(99, u"X", 0, {}).error().kind(), Kind::kNotFound);
  EXPECT_TRUE(*p.doc.Check(p.target, u"PUMP", 0, {.checkDuplicates = false}));
  const std::uint32_t inTarget = *p.doc.AddContainer(p.target, ContainerType::kOwn);
  EXPECT_FALSE(*p.doc.Check(inTarget, u"VALVE", 0, {.checkDuplicates = true, .confine = false}));
  EXPECT_TRUE(*p.doc.Check(inTarget, u"VALVE", 0, {.checkDuplicates = true, .confine = true}));
  EXPECT_EQ(p.doc.Collision(p.plain, u"_PUMP", false), std::nullopt);
  EXPECT_EQ(p.doc.Collision(p.plain, u"pump", false)->nameID, p.pump);

  const auto hits = p.doc.Find("STRASSE");
  ASSERT_TRUE(hits);
  EXPECT_TRUE(hits->empty());  // letter case only, no folding of ß
  ASSERT_EQ(p.doc.Find("straße")->size(), 1u);
  EXPECT_EQ(p.doc.Find("straße")->front().text, "Straße");
  EXPECT_EQ(p.doc.Find("straße")->front().container, p.plain);

  const Result<std::string> next = p.doc.NextName(p.plain, "Pump");
  ASSERT_TRUE(next);
  EXPECT_TRUE(p.doc.Add(p.plain, *next)) << *next;
  // The container's own names alone: the global Gear1 does not count.
  ASSERT_TRUE(p.doc.Add(p.global, "Gear1"));
  EXPECT_EQ(*p.doc.NextName(p.target, u"Gear", {.digits = 0, .kind = 0, .confine = false, .ownNamesOnly = true}), u"Gear1");
  EXPECT_EQ(*p.doc.NextName(p.target, u"Gear", {.digits = 0, .kind = 0, .confine = false, .ownNamesOnly = false}), u"Gear2");
  ASSERT_TRUE(p.doc.Delete(p.motor));
  EXPECT_TRUE(p.doc.Find("Straße")->empty());
  EXPECT_EQ(p.doc.Container(p.own)->Type(), ContainerType::kOwn);
  ASSERT_TRUE(p.doc.DeleteContainer(p.own));
  EXPECT_FALSE(p.doc.Server().GetContainer(p.plain));
}

// Judged edits find what lint would find next; strict takes back the add
// and the rename that make a finding, and keeps what has no undo.
TEST(Document, JudgedEditsFindWhatLintWouldAndStrictTakesBackWhatItCan) {
  Plant p;
  p.doc.JudgeEdits(p.doc.CheckOptions(), true);
  const Result<std::uint32_t> twin = p.doc.Add(p.target, u"PUMP", 0, {.checkDuplicates = false});
  ASSERT_FALSE(twin);
  EXPECT_EQ(twin.error().kind(), Kind::kFindings);
  const std::vector<DocumentFinding> found = p.doc.LastFindings();
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(twin.error().reason(), "the document check would then report " + std::to_string(found.size()) + " more");
  EXPECT_EQ(found[0].kind, DocumentFindingKind::kCollision);
  const Result<bool> alike = p.doc.Rename(p.valve, u"Pum\u0440", 0, {});
  ASSERT_FALSE(alike);
  EXPECT_EQ(p.doc.LastFindings().at(0).kind, DocumentFindingKind::kLookAlike);
  std::u16string text;
  EXPECT_EQ(p.doc.HolderOf(p.valve, &text), p.target);
  EXPECT_EQ(text, u"Valve");
  EXPECT_TRUE(p.doc.Lint().empty());
  EXPECT_FALSE(p.doc.KeepsRefusedEdit());
  ASSERT_TRUE(p.doc.Add(p.plain, u"Gate", 0, {}));  // nothing new: the findings go
  EXPECT_TRUE(p.doc.LastFindings().empty());
  // A missing container is not-found, as the plain Add says it.
  const Result<std::uint32_t> lost = p.doc.Add(99, u"X", 0, {});
  EXPECT_EQ(lost.error().kind(), Kind::kNotFound);
  EXPECT_EQ(lost.error().reason(), "no container has ID 99");
  EXPECT_EQ(p.doc.Container(99).error().reason(), "no container has ID 99");
}

TEST(Document, AddManyAddsAllOrNothing) {
  Plant p;
  const std::uint32_t lastIssued = CNameContainer::GetLastIssuedNameID();
  p.doc.Server().SetDirty(false);
  const std::vector<std::string> texts = {"A1", "A2", "Б3", "a1"};
  const auto refused = p.doc.AddMany(p.plain, std::span<const std::string>(texts));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), Kind::kDuplicate);
  EXPECT_NE(refused.error().message().find("name 4 of 4; none was added"), std::string::npos);
  EXPECT_EQ(p.doc.Server().GetNameSize(p.plain), 1);
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), lastIssued);
  EXPECT_FALSE(p.doc.IsDirty());

  const std::vector<std::string_view> good = {"A1", "A2", "Б3"};
  const auto ids = p.doc.AddMany(p.plain, good);
  ASSERT_TRUE(ids);
  EXPECT_EQ(*ids, (std::vector<std::uint32_t>{lastIssued + 1, lastIssued + 2, lastIssued + 3}));
  EXPECT_TRUE(p.doc.IsDirty());
}

TEST(Document, FileRoundTripLockAndRefusals) {
  test::TempDir dir;
  const std::string path = dir.File("plant.ntd");
  EXPECT_EQ(Document::Open(path).error().kind(), Kind::kNotFound);
  std::uint32_t area = 0;
  {
    auto doc = Document::Open(path, {.create = true});
    ASSERT_TRUE(doc) << doc.error().message();
    area = *doc->AddContainer(0, ContainerType::kGlobal);
    ASSERT_TRUE(doc->AddMany(area, std::vector<std::string>{"Straße", "Ключ", "名前"}));
    ASSERT_TRUE(doc->Commit());
    auto second = Document::Open(path, {.wait = std::chrono::milliseconds(0)});
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().kind(), Kind::kLocked) << second.error().message();
    auto reader = Document::Open(path, {.readOnly = true});
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Commit().error().kind(), Kind::kReadOnly);
  }
  EXPECT_EQ(Document::Open(path, {.create = true}).error().kind(), Kind::kExists);
  auto doc = Document::Open(path);
  ASSERT_TRUE(doc) << doc.error().message();
  std::vector<std::string> texts;
  for (const ContainerRef c : doc->Containers()) {
    EXPECT_EQ(c.Type(), ContainerType::kGlobal);
    for (const NameRef n : c.Names()) texts.push_back(n.TextUtf8());
  }
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"Straße", "Ключ", "名前"}));

  // Opening a document beside a busier one keeps the shared ID counter above both.
  Document busy = Document::InMemory();
  const std::uint32_t c = *busy.AddContainer(0);
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(busy.Add(c, "B" + std::to_string(i)));
  const std::uint32_t high = busy.Server().GetHighestID();
  ASSERT_TRUE(Document::Open(path, {.readOnly = true}));
  EXPECT_GT(*busy.Add(c, "Fresh"), high);
}

// Each way a file can refuse a document reaches the host as the kind of
// that refusal, whatever its sentence says.
TEST(Document, FileRefusalsKeepTheirKind) {
  test::TempDir dir;
  auto make = [&](const std::string& name) {
    const std::string path = dir.File(name);
    auto doc = Document::Open(path, {.create = true});
    EXPECT_TRUE(doc && doc->Commit());
    return path;
  };
  struct Case {
    const char* what;
    std::function<std::string()> setUp;
    OpenOptions options;
    Kind kind;
  };
  const Case cases[] = {
      {"missing", [&] { return dir.File("absent.ntd"); }, {}, Kind::kNotFound},
      {"missing folder", [&] { return dir.File("no/such.ntd"); }, {.readOnly = true}, Kind::kNotFound},
      {"mode", [&] { auto p = make("ro.ntd"); ::chmod(p.c_str(), 0444); return p; }, {}, Kind::kReadOnly},
      {"folder", [&] { auto p = dir.File("d.ntd"); ::mkdir(p.c_str(), 0777); return p; }, {.readOnly = true},
       Kind::kNotADocument},
      {"fifo", [&] { auto p = dir.File("f.ntd"); ::mkfifo(p.c_str(), 0666); return p; }, {}, Kind::kNotADocument},
      {"garbage", [&] { auto p = dir.File("g.ntd"); std::ofstream(p) << "not a document"; return p; }, {},
       Kind::kNotADocument},
      {"hard links", [&] { auto p = make("h.ntd"); ::link(p.c_str(), (p + "2").c_str()); return p; }, {},
       Kind::kFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = c.setUp();
    auto doc = Document::Open(path, c.options);
    ASSERT_FALSE(doc);
    EXPECT_EQ(doc.error().kind(), c.kind) << doc.error().message();
  }
  // A created document whose path is taken before its first commit.
  const std::string late = dir.File("late.ntd");
  auto created = Document::Open(late, {.create = true});
  ASSERT_TRUE(created);
  std::ofstream(late) << "x";
  const Error taken = created->Commit().error();
  EXPECT_EQ(taken.kind(), Kind::kExists);
  EXPECT_EQ(taken.file(), late);
  EXPECT_EQ(taken.message(), late + ": " + std::string(taken.reason()));

  // A document filled in memory goes onto a new file as it is; a dry run writes nothing.
  for (const bool dry : {true, false}) {
    Document doc = Document::InMemory();
    const std::uint32_t c = *doc.AddContainer(0);
    ASSERT_TRUE(doc.Add(c, "Pump"));
    const std::string moved = dir.File(dry ? "dry.ntd" : "moved.ntd");
    EXPECT_EQ(doc.CreateFile(late).error().kind(), Kind::kExists);
    ASSERT_TRUE(doc.CreateFile(moved, {.dryRun = dry}));
    EXPECT_EQ(doc.CreateFile(moved).error().kind(), Kind::kInvalidArgument);
    ASSERT_TRUE(doc.Commit());
    EXPECT_EQ(std::filesystem::exists(moved), !dry);
  }
  EXPECT_EQ(Document::Open(dir.File("moved.ntd"), {.readOnly = true})->Find("pump")->size(), 1u);

  // A document of the earlier format comes in with its IDs, and the counter
  // it stored below them is raised; what cannot be read or saved is refused.
  LegacyDocument legacy{.lastIssuedID = 5, .objects = {test::Name(4000000, u"Pump", 10), test::Name(7, u"Lost", 99)},
                        .containers = {test::Box(10, 3)}};
  auto writeLegacy = [&](const std::string& name) {
    ComPtr<IStorage> root;
    std::string error;
    EXPECT_TRUE(CreateCompoundFile(dir.File(name), &root, &error) &&
                test::PutLegacyStream(root.Get(), EncodeLegacyStream(legacy)) && CommitCompoundFile(root.Get(), &error));
    return dir.File(name);
  };
  std::vector<CLegacyDrop> drops;
  auto imported = Document::ImportLegacy(writeLegacy("old.doc"), &drops);
  ASSERT_TRUE(imported);
  EXPECT_EQ(imported->FindId(4000000)->text, "Pump");
  EXPECT_EQ(drops.size(), 1u);
  EXPECT_TRUE(imported->Lint().empty()) << imported->Describe(imported->Lint().front());
  CNameContainer::SetLastIssuedNameID(5000000);  // as another open document may have drawn
  ASSERT_TRUE(Document::ImportLegacy(dir.File("old.doc")));
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 5000000u);
  for (std::uint32_t i = 0; i < 32768; ++i) legacy.objects.push_back(test::Name(1000 + i, u"N", 10));
  const std::pair<std::string, Kind> refused[] = {{dir.File("absent.doc"), Kind::kNotFound},
                                                  {dir.File("g.ntd"), Kind::kNotADocument},
                                                  {dir.File("moved.ntd"), Kind::kNotADocument},
                                                  {writeLegacy("big.doc"), Kind::kFull}};
  for (const auto& [path, kind] : refused) {
    auto none = Document::ImportLegacy(path);
    ASSERT_FALSE(none) << path;
    EXPECT_EQ(none.error().kind(), kind) << none.error().message();
  }
}

// A read-only document refuses every edit at the call and stays as it
// was; labels and keywords included.
TEST(Document, ReadOnlyRefusesEditsAtTheCall) {
  test::TempDir dir;
  const std::string path = dir.File("plant.ntd");
  std::uint32_t area = 0, pump = 0;
  {
    auto doc = Document::Open(path, {.create = true});
    ASSERT_TRUE(doc);
    area = doc->AddContainer(0, ContainerType::kGlobal).value();
    pump = doc->Add(area, "Pump").value();
    ASSERT_TRUE(doc->Commit());
  }
  auto doc = Document::Open(path, {.readOnly = true});
  ASSERT_TRUE(doc);
  const std::string_view words[] = {"Begin"};
  const std::vector<std::string> many = {"A", "B"};
  auto ok = [](auto r) { return r ? Result<void>() : Result<void>(r.error()); };
  const std::function<Result<void>()> edits[] = {
      [&] { return ok(doc->AddContainer(area)); },
      [&] { return ok(doc->Add(area, "Valve")); },
      [&] { return ok(doc->AddMany(area, std::span<const std::string>(many))); },
      [&] { return doc->Rename(pump, "Valve"); },
      [&] { return doc->Delete(pump); },
      [&] { return doc->DeleteContainer(area); },
      [&] { return doc->SetLabel(area, "Plant"); },
      [&] { return ok(doc->AddKeywords(words)); },
      [&] { return ok(doc->AddKeywordSet("iec61131-3")); },
      [&] { return ok(doc->KeepKeyword(u"Begin")); },
      [&] { return doc->SetKeywords({u"Begin"}); },
      [&] { return doc->SetProfile(NameProfile::kIec61131_3); },
  };
  for (const auto& edit : edits) {
    const Result<void> r = edit();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), Kind::kReadOnly) << r.error().message();
    EXPECT_EQ(r.error().code(), "STG_E_ACCESSDENIED");
  }
  EXPECT_FALSE(doc->IsDirty());
  EXPECT_EQ(doc->FindId(pump).value().text, "Pump");
  EXPECT_EQ(doc->Server().GetNameSize(area), 1);
  EXPECT_TRUE(doc->Labels().empty());
  EXPECT_TRUE(doc->Keywords().empty());
}

// A file this process holds for writing is refused to a second writer at
// once, wherever the lock has moved to; readers and a later writer pass.
TEST(Document, SecondWriterInThisProcessIsRefusedAtOnce) {
  test::TempDir dir;
  const std::string path = dir.File("plant.ntd");
  auto first = Document::Open(path, {.create = true});
  ASSERT_TRUE(first);
  ASSERT_TRUE(first->AddContainer(0));
  auto refusedHere = [&] {
    auto second = Document::Open(path);
    return !second && second.error().kind() == Kind::kLocked &&
           second.error().message().find("open for writing in this program already") != std::string::npos;
  };
  ASSERT_TRUE(first->Commit());
  EXPECT_TRUE(refusedHere());
  ASSERT_TRUE(first->Commit());  // the lock moves to the file the commit wrote
  EXPECT_TRUE(refusedHere());
  EXPECT_TRUE(Document::Open(path, {.readOnly = true}));
  first = Document::InMemory();
  EXPECT_TRUE(Document::Open(path));

  // Held by another program (a child, which starts with no file of its
  // own), the lock is waited for and then given up.
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(done[1]);  // so that the parent's close ends the read below
    auto held = Document::Open(path);
    char c = held ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  auto waited = Document::Open(path, {.wait = std::chrono::milliseconds(50)});
  ::close(done[1]);
  ::waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0]}) ::close(fd);
  ASSERT_FALSE(waited);
  EXPECT_EQ(waited.error().kind(), Kind::kLocked);
  EXPECT_NE(waited.error().message().find("another program; gave up waiting"), std::string::npos);
}

TEST(Document, LookupLabelsAndKeywordsTravelWithTheFile) {
  test::TempDir dir;
  const std::string path = dir.File("plant.ntd");
  std::uint32_t area = 0, unit = 0, pump = 0;
  {
    auto doc = Document::Open(path, {.create = true});
    ASSERT_TRUE(doc);
    area = doc->AddContainer(0, ContainerType::kGlobal).value();
    unit = doc->AddContainer(area).value();
    pump = doc->Add(unit, "Pump").value();
    EXPECT_EQ(doc->Add(99, "X").value_or(0u), 0u);
    ASSERT_TRUE(doc->SetLabel(area, "Plant"));
    EXPECT_EQ(doc->SetLabel(unit, "PLANT").error().kind(), Kind::kDuplicate);
    EXPECT_EQ(doc->SetLabel(unit, "1st").error().kind(), Kind::kInvalidName);
    EXPECT_EQ(doc->SetLabel(77, "Line").error().kind(), Kind::kNotFound);
    const std::string_view words[] = {"Begin", "BEGIN", "Finish"};
    EXPECT_EQ(doc->AddKeywords(words).value(), 2u);
    EXPECT_EQ(doc->AddKeywordSet("no-such-set").error().kind(), Kind::kNotFound);
    EXPECT_GT(doc->AddKeywordSet("iec61131-3").value(), 10u);
    EXPECT_FALSE(doc->KeepKeyword(u"finish").value());
    EXPECT_TRUE(doc->KeepKeyword(u"Halt").value());
    EXPECT_EQ(doc->KeepKeyword(u"").error().kind(), Kind::kInvalidName);
    EXPECT_EQ(doc->CheckLabel(0, u"plant").otherContainer, area);
    EXPECT_EQ(doc->CheckLabel(0, u"1st").status, E_NAME_INVALID);
    EXPECT_TRUE(doc->CheckLabel(area, u"PLANT"));
    ASSERT_TRUE(doc->SetProfile(NameProfile::kIec61131_3));
    ASSERT_TRUE(doc->Commit());
  }
  auto doc = Document::Open(path);
  ASSERT_TRUE(doc);
  const NameHit hit = doc->FindId(pump).value();
  EXPECT_EQ(hit.container, unit);
  EXPECT_EQ(hit.text, "Pump");
  EXPECT_EQ(doc->FindId(area).error().kind(), Kind::kNotFound);  // a container is no name
  EXPECT_EQ(doc->FindLabel("plant").value(), area);
  EXPECT_EQ(doc->FindLabel("Line").error().kind(), Kind::kNotFound);
  EXPECT_EQ(doc->Label(area), "Plant");
  EXPECT_EQ(doc->LabelHolders(u"PLANT"), std::vector<std::uint32_t>{area});
  EXPECT_TRUE(doc->LabelHolders(u"Line").empty());
  EXPECT_EQ(doc->Label16(unit), u"");
  EXPECT_EQ(doc->Profile(), NameProfile::kIec61131_3);
  EXPECT_EQ(doc->Labels(), (std::vector<std::pair<std::uint32_t, std::string>>{{area, "Plant"}}));
  const std::vector<std::string> kept = doc->Keywords();
  ASSERT_GE(kept.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(kept.begin(), kept.begin() + 2), (std::vector<std::string>{"Begin", "Finish"}));
  for (const char* word : {"begin", "IF"}) {
    SCOPED_TRACE(word);
    const auto refused = doc->Add(unit, word);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind(), Kind::kKeyword);
    EXPECT_EQ(refused.error().refusal().reason, CNameRefusal::Reason::kKeyword);
    EXPECT_EQ(refused.error().code(), "E_NAME_DUPLICATE");
    EXPECT_NE(refused.error().message().find("it is a keyword"), std::string::npos);
  }
  EXPECT_EQ(doc->Rename(pump, "Finish").error().kind(), Kind::kKeyword);
  EXPECT_EQ(doc->Add(unit, "PUMP").error().kind(), Kind::kDuplicate);
  // A finding names a labelled container by its label too, in the program's words.
  const std::uint32_t hidden = doc->Add(area, "_x", 1).value();
  const std::vector<DocumentFinding> found = doc->Lint();
  ASSERT_EQ(found.size(), 1u);
  const std::string a = std::to_string(area);
  EXPECT_EQ(doc->Describe(found[0]).rfind("container " + a + " (global) @Plant at " + a + ": \"_x\" (ID " +
                                       std::to_string(hidden) + ") breaks the name rule: ",
                                   0),
            0u);
}

}  // namespace
}  // namespace nametree
