// The library on real document files and under the hazards of real use:
// a commit that the file system fails at any step, or a save killed
// halfway, leaving the earlier file whole; paths that are links or no files
// at all, read-only and hard-linked files; writers in other processes.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"

namespace nametree::test {
namespace {

const Tree kDocument = {{"NameServer", Pattern(300, 1)}, {"Other", Pattern(9000, 2)}};

std::string OpenError(const std::string& path, bool writable, int waitMs = 10000) {
  CompoundFileOptions options;
  options.lockWaitMilliseconds = waitMs;
  ComPtr<IStorage> storage;
  std::string error;
  return OpenCompoundFile(path, writable, options, &storage, &error) ? "" : error;
}

int WaitChild(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<Bytes> Contents(const std::string& path) {
  return std::filesystem::exists(path) ? std::optional(ReadBytes(path)) : std::nullopt;
}

// Every file operation of an edit and of a creation, failed or cut short
// in turn (a full disk among them): the earlier file stays byte for byte,
// or the whole new one is there, and no temporary file is left.
TEST(DocumentFile, FailedFileOperationLeavesTheEarlierFile) {
  const Tree tree = {{"NameServer", Pattern(3000, 1)}, {"Sub", std::nullopt}, {"Sub/big", Pattern(90000, 2)}};
  const Tree change = {{"NameServer", Pattern(70000, 3)}};
  Tree changed = tree;
  changed["NameServer"] = change.at("NameServer");
  auto run = [&](bool creating, cfb::FileLayer& files, const std::string& path, std::string* error) {
    if (!creating) return Edit(files, path, change, error);
    CompoundFileOptions exclusive;
    exclusive.exclusive = true;
    ComPtr<IStorage> storage;
    if (!cfb::CreateCompoundFile(files, path, 3, exclusive, &storage).Report(error)) return false;
    Build(storage.Get(), tree);
    return cfb::CommitCompoundFile(files, storage.Get(), {}, nullptr).Report(error);
  };
  const struct {
    bool creating;
    std::optional<Bytes> before, after;
  } operations[] = {{false, Serialize(tree), Serialize(changed)}, {true, std::nullopt, Serialize(tree)}};
  for (cfb::FileLayer* layer : {&cfb::SystemFiles(), &cfb::SystemFilesWithNamedTemps()}) {
    for (const auto& op : operations) {
      TempDir dir;
      const std::string path = dir.File("doc.nt");
      auto restore = [&] {
        std::filesystem::remove(path);
        if (op.before) WriteBytes(path, *op.before);
      };
      std::string error;
      restore();
      cfb::FaultyFileLayer counting(*layer, cfb::FileFault::kFail, -1);
      ASSERT_TRUE(run(op.creating, counting, path, &error)) << error;
      ASSERT_EQ(Contents(path), op.after);
      ASSERT_GE(counting.Calls(), 10);
      for (cfb::FileFault fault : {cfb::FileFault::kFail, cfb::FileFault::kShortWrite}) {
        for (int k = 0; k < counting.Calls(); ++k) {
          SCOPED_TRACE("call " + std::to_string(k));
          restore();
          cfb::FaultyFileLayer faulty(*layer, fault, k);
          error.clear();
          const bool ok = run(op.creating, faulty, path, &error);
          const std::optional<Bytes> now = Contents(path);
          // A failure the commit may get past leaves no message behind.
          if (ok)
            EXPECT_TRUE(now == op.after && error.empty()) << error;
          else
            EXPECT_FALSE(error.empty());
          // A new file that may not be on disk yet is never put in place.
          EXPECT_TRUE(faulty.FailedCall() != "sync" || !ok);
          // Once renamed, the new file is whole even if a later step fails.
          EXPECT_TRUE(now == op.before || now == op.after) << "damaged: " << error;
          EXPECT_EQ(dir.Names(), now ? std::vector<std::string>{"doc.nt"} : std::vector<std::string>{})
              << "temporary file left";
        }
      }
    }
  }
}

TEST(DocumentPaths, RefusedForWritingWithoutTouchingTheFile) {
  const struct {
    void (*make)(const std::string& path);
    bool readable;
    const char* words;
  } cases[] = {
      {[](const std::string& p) { ::chmod(p.c_str(), 0444); }, true, "read-only"},
      {[](const std::string& p) { ::link(p.c_str(), (p + ".twin").c_str()); }, true, "hard links"},
      {[](const std::string& p) { ::unlink(p.c_str()), ::mkfifo(p.c_str(), 0666); }, false, "not a regular file"},
      {[](const std::string& p) { ::unlink(p.c_str()), ::mkdir(p.c_str(), 0777); }, false, "not a regular file"},
      {[](const std::string& p) { ::unlink(p.c_str()); }, false, "No such file"},
  };
  const Bytes original = Serialize(kDocument);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    TempDir dir;
    const std::string path = dir.File("doc.nt");
    WriteBytes(path, original);
    c.make(path);
    const auto names = dir.Names();
    EXPECT_NE(OpenError(path, true).find(c.words), std::string::npos) << OpenError(path, true);
    EXPECT_EQ(OpenError(path, false).empty(), c.readable) << OpenError(path, false);
    EXPECT_TRUE(!c.readable || ReadBytes(path) == original);
    EXPECT_EQ(dir.Names(), names);
  }
}

TEST(DocumentPaths, LinkedFileIsReplacedWhereItLiesWithItsModeAndOwner) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0777), 0);
  const std::string target = dir.File("real/doc.nt");
  WriteBytes(target, Serialize(kDocument));
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
  }
  ASSERT_EQ(::symlink("real/doc.nt", dir.File("link.nt").c_str()), 0);

  ASSERT_TRUE(Edit(cfb::SystemFiles(), dir.File("link.nt"), {{"NameServer", Pattern(700, 9)}}));
  struct stat st;
  ASSERT_EQ(::lstat(dir.File("link.nt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4321u, 4322u));
  }
  EXPECT_EQ(Parse(ReadBytes(target)).at("NameServer"), Pattern(700, 9));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"link.nt", "real"}));
}

// A second writer in this program is refused at once; one in another
// program waits a bounded time, readers never. The first
// writer's rename replaces the file that the second was waiting on; the
// second must edit the new file, not the old one.
TEST(DocumentLock, SecondWriterWaitsAndEditsTheFileThatReplacedTheLockedOne) {
  TempDir dir;
  const std::string path = dir.File("doc.nt");
  WriteBytes(path, Serialize(kDocument));
  ComPtr<IStorage> first;
  std::string error;
  ASSERT_TRUE(OpenCompoundFile(path, true, &first, &error)) << error;
  EXPECT_NE(OpenError(path, true, 300).find("open for writing in this program already"), std::string::npos);
  EXPECT_EQ(OpenError(path, false, 0), "");
  const pid_t child = ::fork();
  if (child == 0) ::_exit(Edit(cfb::SystemFiles(), path, {{"Child", Bytes{1}}}) ? 0 : 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Build(first.Get(), {{"Parent", Bytes{2}}});
  ASSERT_TRUE(CommitCompoundFile(first.Get(), &error)) << error;
  first.Reset();
  EXPECT_EQ(WaitChild(child), 0);
  const Tree now = Parse(ReadBytes(path));
  EXPECT_EQ(now.count("Parent") + now.count("Child"), 2u);
  EXPECT_EQ(OpenError(path, true, 0), "");
}

// A save killed at any moment leaves the old or the new file, and the
// next commit leaves no temporary file, whether or not the system offers
// unnamed ones.
TEST(DocumentCrash, KilledSaveLeavesNothingBehindTheNextCommit) {
  for (cfb::FileLayer* layer : {&cfb::SystemFiles(), &cfb::SystemFilesWithNamedTemps()}) {
    for (int delayMs : {5, 40, 120}) {
      TempDir dir;
      const std::string path = dir.File("doc.nt");
      WriteBytes(path, Serialize(kDocument));
      const pid_t child = ::fork();
      if (child == 0) {
        for (std::uint32_t round = 0;; ++round)
          Edit(*layer, path, {{"Big", Pattern(std::size_t{6} << 20, round)}});
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      ::kill(child, SIGKILL);
      WaitChild(child);
      ASSERT_TRUE(Edit(*layer, path, {{"NameServer", Pattern(10, 3)}}));
      EXPECT_EQ(dir.Names(), std::vector<std::string>{"doc.nt"});
      EXPECT_EQ(Parse(ReadBytes(path)).at("NameServer"), Pattern(10, 3));
    }
  }
}

// Only temporary files of ours are swept, by the next commit; a file of
// any other name is never touched. A kill at any step of a commit leaves
// at most one, hidden and named as ours.
TEST(DocumentCrash, SweepTakesOnlyOurStaleTempsAndAKillLeavesAtMostOne) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  WaitChild(gone);
  const std::string dead = std::to_string(gone), self = std::to_string(::getpid());
  const std::pair<std::string, bool> names[] = {
      {"doc.nt.tmp-" + dead + "-anything", false},
      {"doc.nt.tmp-" + dead + "-abcdef", false},
      {".doc.nt.nametree-tmp." + dead + ".aB3xYz", true},
      {".doc.nt.nametree-tmp." + self + ".aB3xYz", true},
      {".doc.nt.nametree-tmp.1.aB3xYz", false},  // a live process
      {".other.nt.nametree-tmp." + dead + ".aB3xYz", false},
      {".doc.nt.nametree-tmp." + dead + ".abc", false},
      {".doc.nt.nametree-tmp." + dead + ".abc-ef", false},
      {".doc.nt.nametree-tmp." + dead + ".abcdef.old", false},
      {".doc.nt.nametree-tmp.0" + dead + ".abcdef", false},
      {"doc.nt.nametree-tmp." + dead + ".abcdef", false},
  };
  TempDir dir;
  const std::string path = dir.File("doc.nt");
  WriteBytes(path, Serialize(kDocument));
  std::vector<std::string> kept{"doc.nt"};
  for (const auto& [name, ours] : names) {
    WriteBytes(dir.File(name), Bytes{1});
    if (!ours) kept.push_back(name);
  }
  std::sort(kept.begin(), kept.end());
  ASSERT_TRUE(Edit(cfb::SystemFiles(), path, {{"NameServer", Pattern(10, 3)}}));
  EXPECT_EQ(dir.Names(), kept);

  for (cfb::FileLayer* layer : {&cfb::SystemFiles(), &cfb::SystemFilesWithNamedTemps()}) {
    TempDir clean;
    const std::string doc = clean.File("doc.nt");
    WriteBytes(doc, Serialize(kDocument));
    cfb::FaultyFileLayer counting(*layer, cfb::FileFault::kFail, -1);
    ASSERT_TRUE(Edit(counting, doc, {{"NameServer", Pattern(10, 4)}}));
    for (int k = 0; k < counting.Calls(); ++k) {
      SCOPED_TRACE("killed at call " + std::to_string(k));
      const pid_t child = ::fork();
      if (child == 0) {
        cfb::FaultyFileLayer dying(*layer, cfb::FileFault::kExit, k);
        ::_exit(Edit(dying, doc, {{"NameServer", Pattern(10, 5)}}) ? 0 : 1);
      }
      WaitChild(child);
      std::vector<std::string> left = clean.Names();
      left.erase(std::remove(left.begin(), left.end(), "doc.nt"), left.end());
      EXPECT_LE(left.size(), 1u);
      for (const std::string& name : left) EXPECT_EQ(name.rfind(".doc.nt.nametree-tmp.", 0), 0u) << name;
      ASSERT_TRUE(Edit(*layer, doc, {{"NameServer", Pattern(10, 6)}}));
      EXPECT_EQ(clean.Names(), std::vector<std::string>{"doc.nt"});
    }
  }
}

}  // namespace
}  // namespace nametree::test
