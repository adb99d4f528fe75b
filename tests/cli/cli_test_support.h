#pragma once
// marbloom-cli run as a program in a scratch work directory whose settings
// point at "<tmp>/hist/", with the run log read from "<tmp>/logs/".
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "support/temp_dir.h"

namespace marbloom::test {

class CliTree : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_EQ(Cli("settings set VIPDOC=" + history_).exitCode, 0);
    SetRunLogFolder(temp_.path() + "logs/");
  }
  void TearDown() override { SetRunLogFolder(""); }
  static std::string Program() { return BuiltProgram("src/cli/marbloom-cli"); }
  // The program's standard output; its progress on stderr is dropped.
  CommandResult Cli(const std::string& args) const {
    return RunCommand(Program() + " -C " + temp_.path() + " " + args + " 2>/dev/null");
  }
  DataLayout Layout() const { return DataLayout(temp_.path(), history_); }

  TempDir temp_;
  std::string history_ = temp_.path() + "hist/";
};

// Every file below `dir` but the writer's lock file, by path, with its bytes.
inline std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().filename() != "marbloom.lock")
      files[entry.path().string()] = ReadFileBytes(entry.path().string());
  return files;
}

// A work directory whose history directory cannot be created (a file stands
// in its path): the data tree is never ready.
inline void BlockHistoryDir(const std::string& workDir) {
  WriteFileBytes(workDir + "blocker", {1});
  const std::string ini = "[PATH]\r\nVIPDOC=" + workDir + "blocker/v/\r\n";
  WriteFileBytes(DataLayout(workDir, "").SettingsFile(), std::vector<uint8_t>(ini.begin(), ini.end()));
}

}  // namespace marbloom::test
