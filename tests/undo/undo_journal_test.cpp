// The undo journal: each way a run changes a file is taken back byte for
// byte, an undo can itself be undone, later runs block an undo unless forced,
// the journal keeps its bounds, and an undo killed anywhere leaves each file
// as before or after it and is completed by a second one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "base/run_log.h"
#include "undo/journal_file_system.h"
#include "undo/undo_engine.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace marbloom::test {
namespace {

using Tree = std::map<std::string, std::vector<uint8_t>>;

class UndoJournal : public ::testing::Test {
 protected:
  TempDir temp;
  DataLayout layout{temp.path() + "work/", temp.path() + "hist/"};

  void SetUp() override {
    std::filesystem::create_directories(layout.HistoryDir() + "sz/lday");
    for (const char* name : {"a", "b", "c", "d", "f", "g", "h"}) Put(name, {1, 2, 3, 4, 5, 6});
    std::filesystem::create_directories(Other() + "sz/lday");
    WriteFileBytes(Other() + "sz/lday/m", {8, 8});
  }
  std::string Other() const { return temp.path() + "other/"; }
  std::string PathOf(const std::string& name) const { return layout.HistoryDir() + "sz/lday/" + name; }
  void Put(const std::string& name, const std::vector<uint8_t>& bytes) { WriteFileBytes(PathOf(name), bytes); }

  Tree Snapshot() const {
    Tree files;
    for (const std::string& dir : {layout.HistoryDir(), Other()})
      for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().string().find("/.marbloom-undo/") == std::string::npos &&
            e.path().filename() != "marbloom.lock")
          files[e.path().string()] = ReadFileBytes(e.path().string());
    return files;
  }

  // One run touching files in every way the engines do.
  void ChangeEverything(FileSystem& inner = RealFileSystem()) {
    JournalFileSystem journal(inner, layout, "test run", "--all", Other());
    FileSystem& fs = journal;
    const uint8_t more[3] = {9, 9, 9};
    File a = fs.Open(PathOf("a"), OpenMode::kUpdate);  // appended
    ASSERT_TRUE(a.Write(more, 3, 6));
    File b = fs.Open(PathOf("b"), OpenMode::kUpdate);  // changed inside
    ASSERT_TRUE(b.Write(more, 2, 1));
    File c = OpenNewTemporary(fs, PathOf("c.tmp"));  // replaced by a rename
    ASSERT_TRUE(c.Write(more, 3, 0) && c.Close());
    ASSERT_TRUE(fs.Rename(PathOf("c.tmp"), PathOf("c")));
    ASSERT_TRUE(fs.Remove(PathOf("d")));
    File e = fs.Open(PathOf("e"), OpenMode::kCreateExclusive);  // new
    ASSERT_TRUE(e.Write(more, 3, 0));
    File f = fs.Open(PathOf("f"), OpenMode::kWrite);  // emptied and written
    ASSERT_TRUE(f.Write(more, 1, 0));
    File g = fs.Open(PathOf("g"), OpenMode::kUpdate);  // cut
    ASSERT_TRUE(g.Truncate(2));
    File h = fs.Open(PathOf("h"), OpenMode::kUpdate);  // appended, then changed inside
    ASSERT_TRUE(h.Write(more, 3, 6) && h.Write(more, 3, 4));
    ASSERT_TRUE(fs.Rename(PathOf("h"), PathOf("h2")));  // and moved
    ASSERT_TRUE(fs.Rename(Other() + "sz/lday/m", PathOf("m")));  // moved in from the source tree
  }

  OperationResult Undo(int id, bool force = false, FileSystem& inner = RealFileSystem()) {
    JournalFileSystem journal(inner, layout, UndoOperationName(id), "");
    UndoEngine engine(layout.WithFiles(journal));
    return engine.UndoRun(id, force);
  }
  int NewestRun() const {
    const std::vector<JournalRun> runs = ReadJournal(layout);
    return runs.empty() ? 0 : runs.front().id;
  }
};

TEST_F(UndoJournal, EveryKindOfChangeComesBackAndTheUndoItselfCanBeUndone) {
  const Tree before = Snapshot();
  ChangeEverything();
  const Tree after = Snapshot();
  ASSERT_NE(after, before);
  ASSERT_EQ(NewestRun(), 1);
  const std::optional<JournalRun> run = ReadJournalRun(layout, 1);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->operation, "test run");
  EXPECT_EQ(run->entries.size(), 12u);  // c.tmp, h2 and m made, the other eight and the source's m kept

  EXPECT_TRUE(Undo(1).done());
  EXPECT_EQ(Snapshot(), before);
  ASSERT_EQ(NewestRun(), 2);
  EXPECT_TRUE(Undo(2).done());
  EXPECT_EQ(Snapshot(), after);
}

// Whatever the journal wrote is on disk before the tree changes: a kept
// copy, the journal's folder once it has new names, and the manifest are
// synced before each change they keep, one file at a time or in a batch.
TEST_F(UndoJournal, TheJournalIsOnDiskBeforeEveryChangeItKeeps) {
  FaultFileSystem recorder;
  ChangeEverything(recorder);
  {
    JournalFileSystem journal(recorder, layout, "batch", "");
    journal.BeforeChanges(std::vector<std::string>{PathOf("a"), PathOf("e"), PathOf("x")}, ComingChange::kReplacement);
    ASSERT_TRUE(journal.Remove(PathOf("a")) && journal.Open(PathOf("x"), OpenMode::kWrite).Write("x", 1, 0));
  }
  const std::string folder = layout.UndoDir();
  std::set<std::string> unsynced;
  for (const std::string& change : recorder.Changes()) {
    const std::string verb = change.substr(0, change.find(' ')), path = change.substr(change.rfind(' ') + 1);
    if (verb == "sync") {
      unsynced.erase(path == folder.substr(0, folder.size() - 1) ? folder : path);
    } else if (path.starts_with(folder)) {
      if (verb == "write" || verb == "copy") unsynced.insert(path);
      if (verb == "open" || verb == "link" || verb == "remove") unsynced.insert(folder);
    } else {
      EXPECT_TRUE(unsynced.empty()) << change << " before " << *unsynced.begin() << " is synced";
    }
  }
}

// Files named before their changes are kept in one write and sync, by their
// lengths or by links; cut at any change, the batch's own included, the run
// still undoes to the old bytes.
TEST_F(UndoJournal, ABatchCutAtAnyChangeStillUndoesToTheOldBytes) {
  const Tree before = Snapshot();
  const std::vector<std::string> paths{PathOf("a"), PathOf("b"), PathOf("n"), PathOf("c"), PathOf("d")};
  for (const ComingChange how : {ComingChange::kGrowth, ComingChange::kReplacement}) {
    bool whole = false;
    for (std::size_t failAt = 1; !whole; ++failAt) {
      ASSERT_LT(failAt, 80u);
      RemoveTree(layout.HistoryDir());
      SetUp();
      FaultFileSystem fault;
      fault.CrashAt(failAt, FaultFileSystem::Crash::kFailOne);
      {
        JournalFileSystem journal(fault, layout, "batch", "");
        journal.BeforeChanges(paths, how);
        File a = journal.Open(PathOf("a"), OpenMode::kUpdate), b = journal.Open(PathOf("b"), OpenMode::kUpdate);
        File c = OpenNewTemporary(journal, PathOf("c.tmp")), n = journal.Open(PathOf("n"), OpenMode::kWrite);
        whole = a.Write("zz", 2, 6) && b.Write("zz", 2, 6) && b.Write("y", 1, 1) &&  // appended, then inside
                c.Write("c", 1, 0) && c.Close() && journal.Rename(PathOf("c.tmp"), PathOf("c")) &&
                journal.Remove(PathOf("d")) && n.Write("n", 1, 0);
      }
      EXPECT_TRUE(NewestRun() == 0 || Undo(NewestRun()).done()) << failAt;
      EXPECT_EQ(Snapshot(), before) << failAt;
    }
  }
}

// Named files that no change reached leave the manifest at the end, and
// their links go; a run that changed none of them leaves no run.
TEST_F(UndoJournal, NamedFilesNoChangeReachedLeaveTheJournal) {
  const Tree before = Snapshot();
  for (const bool change : {false, true}) {
    {
      JournalFileSystem journal(RealFileSystem(), layout, "named", "");
      journal.BeforeChanges(std::vector<std::string>{PathOf("a"), PathOf("b"), PathOf("n")}, ComingChange::kReplacement);
      if (change) {
        ASSERT_TRUE(journal.Remove(PathOf("b")));
      }
    }
    const auto files = std::distance(std::filesystem::directory_iterator(layout.UndoDir()), {});
    EXPECT_EQ(files, change ? 2 : 0) << "the manifest and b's link, or nothing";
  }
  ASSERT_EQ(ReadJournalRun(layout, 1)->entries.size(), 1u);
  EXPECT_TRUE(Undo(1).done());
  EXPECT_EQ(Snapshot(), before);
}

// Workers of one run appending in place and making new files at once.
using UndoJournalThreaded = UndoJournal;
TEST_F(UndoJournalThreaded, WorkersOfOneRunAreAllTakenBack) {
  const Tree before = Snapshot();
  {
    JournalFileSystem journal(RealFileSystem(), layout, "workers", "");
    std::vector<std::thread> workers;
    for (const char* name : {"a", "b", "c", "d"})
      workers.emplace_back([&, name] {
        for (int i = 0; i < 50; ++i) {
          File old = journal.Open(PathOf(name), OpenMode::kUpdate);
          EXPECT_TRUE(old.Write("z", 1, old.Length()));
          File made = journal.Open(PathOf(std::string(name) + std::to_string(i)), OpenMode::kCreateExclusive);
          EXPECT_TRUE(made.Write("n", 1, 0));
        }
      });
    for (std::thread& worker : workers) worker.join();
  }
  EXPECT_TRUE(Undo(1).done());
  EXPECT_EQ(Snapshot(), before);
}

// Forced, the undo puts back all it can; a file a later run cut short below
// what the run kept of it stays, and the undo fails.
TEST_F(UndoJournal, ALaterRunOnTheSameFilesBlocksTheUndoUnlessForced) {
  Tree before = Snapshot();
  ChangeEverything();
  {
    JournalFileSystem journal(RealFileSystem(), layout, "later", "");
    File b = journal.Open(PathOf("b"), OpenMode::kUpdate);
    ASSERT_TRUE(b.Write("x", 1, 0) && journal.Open(PathOf("a"), OpenMode::kUpdate).Truncate(3));
  }
  const Tree later = Snapshot();
  const OperationResult refused = Undo(1);
  EXPECT_EQ(refused.outcome, Outcome::kInvalid);
  EXPECT_NE(refused.message.find('2'), std::string::npos) << refused.message;
  EXPECT_EQ(Snapshot(), later);
  EXPECT_EQ(Undo(1, true).outcome, Outcome::kFailed);
  before[PathOf("a")] = later.at(PathOf("a"));
  EXPECT_EQ(Snapshot(), before);
}

// Names the journal never writes neither count as runs nor go.
TEST_F(UndoJournal, TheOldestRunsGoBeyondTheBounds) {
  const std::vector<std::string> foreign = {"2147483647.x", "99999999999.run", "05.run", "7.run.bak", "8.x"};
  ASSERT_TRUE(WriteJournalLimits(layout, JournalLimits{2, int64_t{1} << 40}));
  for (const std::string& name : foreign) WriteFileBytes(layout.UndoDir() + name, {1});
  for (int i = 0; i < 3; ++i) {
    JournalFileSystem journal(RealFileSystem(), layout, "run", "");
    ASSERT_TRUE(journal.Remove(PathOf(std::string(1, static_cast<char>('a' + i)))));
  }
  std::vector<int> ids;
  for (const JournalRun& r : ReadJournal(layout)) ids.push_back(r.id);
  EXPECT_EQ(ids, (std::vector<int>{3, 2}));

  ASSERT_TRUE(WriteJournalLimits(layout, JournalLimits{20, 1}));
  PruneJournal(layout);  // the newest stays whatever it holds
  EXPECT_EQ(NewestRun(), 3);
  EXPECT_EQ(ReadJournal(layout).size(), 1u);
  for (const std::string& name : foreign) EXPECT_TRUE(PathExists(layout.UndoDir() + name)) << name;
}

TEST_F(UndoJournal, AnUndoKilledAnywhereLeavesEachFileBeforeOrAfterAndASecondOneEndsIt) {
  const Tree before = Snapshot();
  ChangeEverything();
  const Tree after = Snapshot();
  const auto same = [](const Tree& tree, const std::string& path, const std::optional<std::vector<uint8_t>>& bytes) {
    auto it = tree.find(path);
    return it == tree.end() ? !bytes : bytes && it->second == *bytes;
  };
  for (std::size_t crashAt = 1;; ++crashAt) {
    ASSERT_LT(crashAt, 200u);
    RemoveTree(layout.HistoryDir());
    SetUp();
    ChangeEverything();
    const pid_t child = fork();
    if (child == 0) {
      FaultFileSystem fault;
      fault.CrashAt(crashAt);
      _exit(Undo(1, false, fault).done() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) break;  // past the undo's last change
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    Tree now = Snapshot();
    std::erase_if(now, [](const auto& file) { return file.first.ends_with(".part"); });
    EXPECT_TRUE(now.contains(PathOf("m")) || now.contains(Other() + "sz/lday/m")) << "at change " << crashAt;
    for (const std::string& path : {PathOf("a"), PathOf("b"), PathOf("c"), PathOf("d"), PathOf("e"), PathOf("f"),
                                    PathOf("g"), PathOf("h"), PathOf("h2"), PathOf("m"), Other() + "sz/lday/m"}) {
      std::optional<std::vector<uint8_t>> bytes;
      if (now.contains(path)) bytes = now[path];
      EXPECT_TRUE(same(before, path, bytes) || same(after, path, bytes)) << path << " at change " << crashAt;
    }
    ASSERT_TRUE(Undo(1).done()) << crashAt;
    EXPECT_EQ(Snapshot(), before) << crashAt;
  }
}

// The newest run, an undo that failed part-way, keeps the run it undoes.
TEST_F(UndoJournal, AnUndoCutShortKeepsItsRunWhateverTheBounds) {
  const Tree before = Snapshot();
  ChangeEverything();
  ASSERT_TRUE(WriteJournalLimits(layout, JournalLimits{1, int64_t{1} << 40}));
  FaultFileSystem fault;
  fault.FailRenames(PathOf("c"));
  EXPECT_FALSE(Undo(1, false, fault).done());
  EXPECT_TRUE(Undo(1).done());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(UndoJournal, AJournalFolderThatIsALinkIsRefused) {
  std::filesystem::create_directory_symlink(Other(), layout.HistoryDir() + ".marbloom-undo");
  const Tree before = Snapshot();
  EXPECT_FALSE(JournalFileSystem(RealFileSystem(), layout, "run", "").Remove(PathOf("a")));
  EXPECT_EQ(Snapshot(), before);
}

TEST(JournalLimitsText, OnlyFinitePositiveSizesRead) {
  for (const char* text : {"nanG", "nan", "inf", "-infK", "-1", "0", "0.0001", "1e30G", "-1e300"})
    EXPECT_FALSE(ParseByteSize(text)) << text;
}

// Without room for the journal a run's change is refused, the journal named,
// also a removal (the kept file holds its room); an undo restores all the same.
TEST_F(UndoJournal, NoRoomForTheJournalRefusesARunsChangeButNotAnUndo) {
  const Tree before = Snapshot();
  ChangeEverything();
  FaultFileSystem fault;
  fault.NoSpaceAfter(300);
  fault.ReportFreeSpace(300);
  EXPECT_TRUE(Undo(1, false, fault).done());
  EXPECT_EQ(Snapshot(), before);
  fault.NoSpaceAfter(4096);
  fault.ReportFreeSpace(4096);
  JournalFileSystem journal(fault, layout, "run", "");
  EXPECT_FALSE(journal.Remove(PathOf("c")));
  EXPECT_FALSE(journal.Open(PathOf("b"), OpenMode::kUpdate).Write("x", 1, 0));
  EXPECT_EQ(Snapshot(), before);
  EXPECT_NE(journal.Problem().find(layout.UndoDir()), std::string::npos);
  // Named in a batch, the files are refused the same way.
  JournalFileSystem batched(fault, layout, "batch", "");
  EXPECT_FALSE(batched.BeforeChanges(std::vector<std::string>{PathOf("c"), PathOf("d")}, ComingChange::kReplacement));
  EXPECT_FALSE(batched.Remove(PathOf("d")));
  EXPECT_EQ(Snapshot(), before);
}

// A manifest from elsewhere: refused whole before anything changes.
struct HostileRun {
  const char* name;
  std::string line;  // after a sound line; {t} the tree's real folder, {o} another
};
class HostileManifest : public UndoJournal, public ::testing::WithParamInterface<HostileRun> {};

TEST_P(HostileManifest, IsRefusedWholeBeforeAnythingChanges) {
  std::string text =
      "marbloom-undo 1\nid\t1\ntime\t0\noperation\tx\narguments\t\ntree\t{t}\ngrown\tT\t2\t-\tsz/lday/b\n" +
      GetParam().line + "\n";
  for (const auto& [key, dir] : {std::pair{"{t}", layout.HistoryDir()}, std::pair{"{o}", Other()}})
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, 3, std::filesystem::canonical(dir).string() + "/");
  std::filesystem::create_directories(layout.UndoDir());
  WriteFileBytes(layout.UndoDir() + "1.run", std::vector<uint8_t>(text.begin(), text.end()));
  const std::vector<std::string> aimedAt = {temp.path() + "victim", layout.UndoDir() + "1.1", layout.WriterLockFile()};
  for (const std::string& file : aimedAt) WriteFileBytes(file, {7});
  std::filesystem::create_directory_symlink(temp.path(), layout.HistoryDir() + "out");
  const Tree before = Snapshot();
  EXPECT_EQ(Undo(1).outcome, Outcome::kInvalid);
  EXPECT_EQ(Snapshot(), before);
  for (const std::string& file : aimedAt)
    EXPECT_TRUE(PathExists(file) && ReadFileBytes(file) == std::vector<uint8_t>{7}) << file;
}

INSTANTIATE_TEST_SUITE_P(
    Journal, HostileManifest,
    ::testing::Values(HostileRun{"UpAndOut", "created\tT\t-\t-\t../victim"},
                      HostileRun{"ThroughAFolderLink", "created\tT\t-\t-\tout/victim"},
                      HostileRun{"EmptyPart", "grown\tT\t0\t-\tsz//lday/a"},
                      HostileRun{"TheJournal", "created\tT\t-\t-\t.marbloom-undo/1.1"},
                      HostileRun{"TheLockFile", "created\tT\t-\t-\tmarbloom.lock"},
                      HostileRun{"OutsideWithoutASource", "created\tO\t-\t-\t{o}../victim"},
                      HostileRun{"OutsideTheSource", "source\t{o}\nsaved\tO\t-1\t1\t{o}../victim"},
                      HostileRun{"TheSourceIsTheTree", "source\t{t}\nsaved\tO\t-1\t1\t{t}sz/lday/a"},
                      HostileRun{"AnotherTree", "tree\t{o}\ngrown\tT\t0\t-\tsz/lday/a"}),
    [](const ::testing::TestParamInfo<HostileRun>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
