#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/data_tree.h"
#include "app/settings.h"
#include "base/run_log.h"
#include "base/text_encoding.h"
#include "common/dir_walk.h"
#include "common/shared_state.h"

namespace marbloom::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "marbloom-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(made) + "/";
}

TempDir::~TempDir() { RemoveTree(path_); }

TestTree::TestTree() {
  workDir_ = temp_.path() + "work/";
  historyDir_ = temp_.path() + "vipdoc/";
  std::filesystem::create_directories(workDir_);
  SetWorkDirectory(workDir_);
  AppSettings& s = Settings();
  s = AppSettings{};
  s.downloadBase = kDefaultDownloadBase;
  s.historyDir = historyDir_;
  SetRunLogDirectory(workDir_ + "logs/");
  s.minuteDays = 120;
  s.fiveMinuteDays = 500;
  s.minutesAfterTick = 1;
  s.tckv4 = 1;
  DataTreeReady = CreateDataTree(layout(), true);
  EXPECT_EQ(DataTreeReady.load(), 1);
  KeptDownloadConfig().Forget();  // a new tree fetches its download configuration afresh
  SetStatusText("");
  SetProgressFraction(0);
}

DataLayout TestTree::layout() const { return DataLayout(workDir_, historyDir_); }

TestTree::~TestTree() {
  SetWorkDirectory("");
  SetRunLogDirectory("");
  Settings() = AppSettings{};
  DataTreeReady = 0;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PathExists(const std::string& path) { return std::filesystem::exists(path); }

std::string ReadRunLog() {
  std::string text;
  const std::string dir = RunLogDirectory();
  for (const WalkEntry& e : ListCountedFiles(RealFileSystem(), dir, "*.log")) text += GbkToUtf8(ReadFileText(dir + e.name));
  return text;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  // Read-only entries left by tests must not keep the tree alive.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path, ec);
}

}  // namespace marbloom::test

namespace marbloom::test {

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string BuiltProgram(const std::string& relativePath) {
  return std::string(MARBLOOM_TEST_BINARY_DIR) + "/" + relativePath;
}

}  // namespace marbloom::test
