// The command line front end, run as a program against a scratch work directory.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace marbloom {
namespace {

class CliSettings : public ::testing::Test {
 protected:
  // `shell` runs before the program in the same shell (limits, traps).
  test::CommandResult Cli(const std::string& args, const std::string& shell = "") {
    return test::RunCommand(shell + test::BuiltProgram("src/cli/marbloom-cli") + " -C " + temp_.path() + " " +
                            args + " 2>/dev/null");
  }
  test::TempDir temp_;
};

TEST_F(CliSettings, ShowPrintsDefaultsAndDerivedDirectories) {
  auto r = Cli("settings show");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("VIPDOC=../data/vipdoc/\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("MINDAYS=120\nTRANSMIN=1\nTCKV4=1\nFIVEMINDAYS=500\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("DOWNDIR=" + temp_.path() + "down/\n"), std::string::npos) << r.out;
}

TEST_F(CliSettings, SetConfirmsSavesAndBuildsTheTree) {
  auto r = Cli("settings set VIPDOC=" + temp_.path() + "hist MINDAYS=60 TCKV4=0");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "设置已更改!\n");
  EXPECT_TRUE(std::filesystem::is_directory(temp_.path() + "hist/sh/minline"));
  auto shown = Cli("settings show");
  EXPECT_NE(shown.out.find("VIPDOC=" + temp_.path() + "hist/\nMINDAYS=60\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("FIVEMINDAYS=300\n"), std::string::npos);
}

TEST_F(CliSettings, RefusesBadEntriesWithoutSaving) {
  EXPECT_EQ(Cli("settings set MINDAYS=49").exitCode, 2);
  EXPECT_EQ(Cli("settings set MINDAYS=abc").exitCode, 2);
  EXPECT_EQ(Cli("settings set COLOUR=red").exitCode, 2);
  EXPECT_EQ(Cli("settings bogus").exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(temp_.path() + "marbloom.ini"));
}

TEST_F(CliSettings, AnUnwritableHistoryDirectoryFails) {
  test::WriteFileBytes(temp_.path() + "blocker", {1});
  auto r = Cli("settings set VIPDOC=" + temp_.path() + "blocker/v");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "创建sz\\fzline目录失败或者权限不足!\n");
}

// A change that cannot be saved, or would not read back as entered, is
// reported with its reason and changes nothing.
TEST_F(CliSettings, FailedOrRefusedChangesAreReported) {
  ASSERT_EQ(Cli("settings set VIPDOC=" + temp_.path() + "hist").exitCode, 0);
  const std::string ini = temp_.path() + "marbloom.ini", before = test::ReadFileText(ini);
  std::string longPath = temp_.path();
  longPath.resize(230, 'v');
  const struct {
    std::string shell, args;
    int exitCode;
    const char* reason;
  } cases[] = {
      {"trap '' XFSZ; ulimit -f 0; ", "settings set MINDAYS=200", 1, "写入失败"},  // no file may grow: a full disk
      {"", "settings set VIPDOC=" + longPath, 2, "229"},
      {"", "settings set 'DOMAIN=http://h/😀/'", 2, "GBK"},
      {"", "settings set 'MIRRORS=http://m/ http://h/😀/'", 2, "GBK"},
      {"", "settings set 'MIRRORS=http://m/ " + std::string(230, 'm') + "'", 2, "229"},
      {"", "settings set 'TRUSTKEYS=RWQ-not-a-key'", 2, "RWQ-not-a-key"},
  };
  for (const auto& c : cases) {
    auto r = Cli(c.args, c.shell);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
    EXPECT_NE(r.out.find(c.reason), std::string::npos) << r.out;
    EXPECT_EQ(test::ReadFileText(ini), before) << c.args;
  }
  EXPECT_FALSE(std::filesystem::exists(longPath));
}

}  // namespace
}  // namespace marbloom
