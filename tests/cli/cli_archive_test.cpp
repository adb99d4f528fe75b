// The archive commands run as a program: archives made with Info-ZIP zip,
// listed, extracted and imported into a scratch work directory and data tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/data_layout.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

// Bytes that do not compress, so that stored and deflated sizes differ visibly.
std::vector<uint8_t> Noise(std::size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

class CliArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Cli("settings set VIPDOC=" + History()).exitCode, 0);
  }

  // `shell` runs before the program in the same shell.
  test::CommandResult Cli(const std::string& args, const std::string& shell = "") {
    return test::RunCommand(shell + test::BuiltProgram("src/cli/marbloom-cli") + " -C " + temp_.path() + " " +
                            args + " 2>/dev/null");
  }

  std::string History() const { return temp_.path() + "hist/"; }
  std::string Src() const { return temp_.path() + "src/"; }

  // Writes the files under src/ with the given modification time (touch -t).
  void Source(const std::string& name, const std::vector<uint8_t>& bytes, const char* stamp = "202205050930.14") {
    std::filesystem::create_directories(std::filesystem::path(Src() + name).parent_path());
    test::WriteFileBytes(Src() + name, bytes);
    ASSERT_EQ(test::RunCommand("touch -t " + std::string(stamp) + " '" + Src() + name + "'").exitCode, 0);
  }

  // Runs Info-ZIP zip in src/ with `options` on `names` into `archive`.
  std::string Zip(const std::string& archive, const std::string& options, const std::string& names) {
    std::string path = temp_.path() + archive;
    EXPECT_EQ(test::RunCommand("cd '" + Src() + "' && zip -q -X " + options + " '" + path + "' " + names).exitCode, 0);
    return path;
  }

  test::TempDir temp_;
};

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

TEST_F(CliArchive, ListShowsSizesCrcMethodTimeAndName) {
  Source("greeting.txt", Text("hello, zip\n"));
  Source("dir/noise.bin", Noise(5000, 1));
  Source("dir/text.txt", std::vector<uint8_t>(20000, 'a'));
  std::string stored = Zip("stored.zip", "-0", "greeting.txt");
  auto r = Cli("archive list " + stored);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "      size     packed crc32    method   time                name\n"
            "        11         11 cb72381b stored   2022-05-05 09:30:14 greeting.txt\n");

  std::string mixed = Zip("mixed.zip", "-9 -r", "dir greeting.txt");
  r = Cli("archive list " + mixed);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find(" stored   "), std::string::npos) << r.out;  // the directory entry
  EXPECT_NE(r.out.find(" dir/\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("     20000 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" deflated 2022-05-05 09:30:14 dir/text.txt\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 2022-05-05 09:30:14 greeting.txt\n"), std::string::npos) << r.out;
}

TEST_F(CliArchive, ListShowsControlCharactersInNamesAsQuestionMarks) {
  Source("two\nlines\x1b[31m.txt", Text("x"));
  auto r = Cli("archive list " + Zip("a.zip", "-0", "'two\nlines\x1b[31m.txt'"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find(" 2022-05-05 09:30:14 two?lines?[31m.txt\n"), std::string::npos) << r.out;
}

TEST_F(CliArchive, ListOfADamagedOrMissingArchiveFails) {
  Source("greeting.txt", Text("hello, zip\n"));
  std::string path = Zip("a.zip", "-0", "greeting.txt");
  std::filesystem::resize_file(path, 30);
  auto r = Cli("archive list " + path);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("-103"), std::string::npos) << r.out;
  EXPECT_EQ(Cli("archive list " + temp_.path() + "none.zip").exitCode, 1);
}

TEST_F(CliArchive, ExtractWritesTheOriginalBytesAndTimes) {
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"sz220505.md1", Noise(70000, 2)},
      {"deep/er/nested.bin", std::vector<uint8_t>(4096 * 3, 'n')},
      {"four.bin", {1, 2, 3, 4}},
      {"empty.txt", {}},
  };
  for (const auto& [name, bytes] : files) Source(name, bytes, "202001020304.06");
  std::string archive = Zip("a.zip", "-r", ".");
  std::string out = temp_.path() + "out/new";  // missing, and given without a trailing '/'
  auto r = Cli("archive extract " + archive + " " + out);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "下载成功!\n");
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(test::ReadFileBytes(out + "/" + name), bytes) << name;
    struct stat extracted {}, original {};
    ASSERT_EQ(::stat((out + "/" + name).c_str(), &extracted), 0);
    ASSERT_EQ(::stat((Src() + name).c_str(), &original), 0);
    EXPECT_EQ(extracted.st_mtime, original.st_mtime) << name;
  }
}

TEST_F(CliArchive, ReadOnlyFilesExtractTwice) {
  Source("ro.txt", Text("first"));
  ::chmod((Src() + "ro.txt").c_str(), 0444);
  std::string archive = Zip("a.zip", "", "ro.txt");
  std::string out = temp_.path() + "out/";
  for (int run = 0; run < 2; ++run) {
    auto r = Cli("archive extract " + archive + " " + out);
    EXPECT_EQ(r.exitCode, 0) << run;
    EXPECT_EQ(r.out, "下载成功!\n") << run;
  }
  struct stat st {};
  ASSERT_EQ(::stat((out + "ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(test::ReadFileText(out + "ro.txt"), "first");
}

TEST_F(CliArchive, DamagedArchivesFailWithTheUnpackMessage) {
  Source("sz220505.md1", Noise(30000, 3));
  std::string archive = Zip("20220505.zip", "-0", "sz220505.md1");
  auto bytes = test::ReadFileBytes(archive);
  bytes[30 + 12 + 1000] ^= 0x40;  // a data byte: the CRC check at the close
  test::WriteFileBytes(archive, bytes);
  auto r = Cli("archive extract " + archive + " " + temp_.path() + "out");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "解压失败，请检查Zip文件!\n");

  r = Cli("import " + archive + " --kind daily");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "解压失败，请检查Zip文件!\n");
  EXPECT_TRUE(test::PathExists(temp_.path() + "down/dayzip/20220505.zip"));  // kept for a look

  std::filesystem::resize_file(archive, bytes.size() / 2);
  r = Cli("import " + archive + " --kind tick");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "解压失败，请检查Zip文件!\n");
}

TEST_F(CliArchive, ImportDailyUnpacksIntoRefmhq) {
  Source("sz220505.cod", Text("000001"));
  Source("sh220505.md1", Noise(40000, 4));
  std::string archive = Zip("20220505.zip", "-9", "sz220505.cod sh220505.md1");
  auto r = Cli("import " + archive + " --kind daily");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "下载成功!\n");
  EXPECT_EQ(test::ReadFileBytes(temp_.path() + "down/dayzip/20220505.zip"), test::ReadFileBytes(archive));
  EXPECT_EQ(test::ReadFileText(History() + "refmhq/sz220505.cod"), "000001");
  EXPECT_EQ(test::ReadFileBytes(History() + "refmhq/sh220505.md1"), Noise(40000, 4));
  std::string log = test::RunCommand("cat " + temp_.path() + "logs/*.log").out;
  EXPECT_NE(log.find("准备解压文件 " + temp_.path() + "down/dayzip/20220505.zip"), std::string::npos) << log;
}

TEST_F(CliArchive, ImportTickUnpacksIntoNewdatetick) {
  Source("20220505.htc", Noise(100000, 5));
  std::string archive = Zip("20220505.zip", "", "20220505.htc");
  auto r = Cli("import " + archive + " --kind tick");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "下载成功!\n");
  EXPECT_EQ(test::ReadFileBytes(temp_.path() + "down/tickzip/20220505.zip"), test::ReadFileBytes(archive));
  EXPECT_EQ(test::ReadFileBytes(History() + "newdatetick/20220505.htc"), Noise(100000, 5));
  // Importing the archive that already lies in the download folder unpacks it again.
  std::filesystem::remove(History() + "newdatetick/20220505.htc");
  EXPECT_EQ(Cli("import " + temp_.path() + "down/tickzip/20220505.zip --kind tick").exitCode, 0);
  EXPECT_EQ(test::ReadFileBytes(History() + "newdatetick/20220505.htc"), Noise(100000, 5));
}

TEST_F(CliArchive, ImportConfigReplacesTheConfigurationInTheWorkDirectory) {
  test::WriteFileBytes(temp_.path() + "downit5.cfg", std::vector<uint8_t>(300, 'o'));
  Source("downit5.cfg", Text("[PATH]\n"));
  std::string archive = Zip("server-copy.zip", "", "downit5.cfg");
  auto r = Cli("import " + archive + " --kind config");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "下载成功!\n");
  EXPECT_TRUE(test::PathExists(temp_.path() + "down/downit.zip"));
  EXPECT_EQ(test::ReadFileText(temp_.path() + "downit5.cfg"), "[PATH]\n");
}

TEST_F(CliArchive, ImportOfAMissingArchiveAsksForADownload) {
  auto r = Cli("import " + temp_.path() + "none.zip --kind daily");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "文件不存在，请先下载!\n");
}

// An entry whose bytes were altered (its CRC no longer matches) leaves the
// file it would replace as it was: in the tree, in the work directory and
// under any extraction folder.
TEST_F(CliArchive, DamagedEntryLeavesTheFileItWouldReplace) {
  const struct {
    std::string name, command, target;
  } cases[] = {
      {"sz220505.cod", "import %s --kind daily", History() + "refmhq/sz220505.cod"},
      {"downit5.cfg", "import %s --kind config", temp_.path() + "downit5.cfg"},
      {"sz220505.cod", "archive extract %s " + temp_.path() + "out", temp_.path() + "out/sz220505.cod"},
  };
  for (const auto& c : cases) {
    Source(c.name, Text("new bytes of " + c.name));
    std::string archive = Zip(c.name + ".zip", "-0", c.name);
    std::filesystem::create_directories(std::filesystem::path(c.target).parent_path());
    test::WriteFileBytes(c.target, Text("old"));
    auto bytes = test::ReadFileBytes(archive);
    bytes[30 + c.name.size() + 4] ^= 0x20;  // a data byte of the stored entry
    test::WriteFileBytes(archive, bytes);
    std::string command = c.command;
    command.replace(command.find("%s"), 2, archive);
    auto r = Cli(command);
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_EQ(r.out, "解压失败，请检查Zip文件!\n") << command;
    EXPECT_EQ(test::ReadFileText(c.target), "old") << command;
    EXPECT_FALSE(test::PathExists(c.target + ".part")) << command;
  }
}

// While another process writes the tree, an import is refused with exit 5
// and changes nothing, not even the download folder.
TEST_F(CliArchive, ImportWhileTheTreeIsBusyChangesNothing) {
  Source("sz220505.cod", Text("000001"));
  std::string archive = Zip("20220505.zip", "", "sz220505.cod");
  const std::string lockFile = DataLayout(temp_.path(), History()).WriterLockFile();
  auto r = Cli("import " + archive + " --kind daily", "flock -n '" + lockFile + "' ");
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_NE(r.out.find(History()), std::string::npos) << r.out;
  EXPECT_FALSE(test::PathExists(temp_.path() + "down/dayzip/20220505.zip"));
  EXPECT_FALSE(test::PathExists(History() + "refmhq/sz220505.cod"));
}

TEST_F(CliArchive, UsageErrors) {
  Source("a.txt", Text("a"));
  std::string archive = Zip("a.zip", "", "a.txt");
  const std::vector<std::string> usages = {"archive",         "archive list", "archive extract " + archive,
                                            "archive unpack " + archive, "import " + archive,
                                            "import " + archive + " --kind weekly", "import --kind daily"};
  for (const std::string& args : usages) {
    EXPECT_EQ(Cli(args).exitCode, 2) << args;
  }
  EXPECT_FALSE(test::PathExists(temp_.path() + "down/dayzip/a.zip"));
}

}  // namespace
}  // namespace marbloom
