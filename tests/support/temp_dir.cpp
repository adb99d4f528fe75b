#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "app/data_tree.h"
#include "app/settings.h"
#include "base/run_log.h"
#include "base/text_encoding.h"
#include "common/dir_walk.h"
#include "common/shared_state.h"

namespace marbloom::test {
namespace {

TestTree* g_liveTree = nullptr;
std::string g_logFolder;

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "marbloom-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(made) + "/";
}

TempDir::~TempDir() { RemoveTree(path_); }

TestTree::TestTree() : reporter_(board_, RunLogFile(temp_.path() + "work/logs/")) {
  workDir_ = temp_.path() + "work/";
  historyDir_ = temp_.path() + "vipdoc/";
  std::filesystem::create_directories(workDir_);
  SetWorkDirectory(workDir_);
  AppSettings& s = Settings();
  s = AppSettings{};
  s.downloadBase = kDefaultDownloadBase;
  s.historyDir = historyDir_;
  g_logFolder = workDir_ + "logs/";
  g_liveTree = this;
  reporter_.SetStatusObserver([this](const std::string& line) {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard<std::mutex> lock(linesMutex_);
      lines_.push_back(line);
      hook = hook_;
    }
    if (hook) hook(line);
  });
  SetFrontReporter(&reporter_);
  s.minuteDays = 120;
  s.fiveMinuteDays = 500;
  s.minutesAfterTick = 1;
  s.tckv4 = 1;
  DataTreeReady = CreateDataTree(layout(), true);
  EXPECT_EQ(DataTreeReady.load(), 1);
  KeptDownloadConfig().Forget();  // a new tree fetches its download configuration afresh
}

DataLayout TestTree::layout() const {
  return DataLayout(workDir_, historyDir_, RealFileSystem(), reporter_);
}

std::vector<std::string> TestTree::TakeStatusLines() {
  std::lock_guard<std::mutex> lock(linesMutex_);
  return std::exchange(lines_, {});
}

void TestTree::OnStatus(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(linesMutex_);
  hook_ = std::move(hook);
}

std::string StatusText() { return g_liveTree != nullptr ? g_liveTree->StatusText() : std::string(); }

double ProgressFraction() { return g_liveTree != nullptr ? g_liveTree->ProgressFraction() : 0.0; }

void ShowStatus(const std::string& text) {
  if (g_liveTree != nullptr) g_liveTree->reports().Status(text);
}

void OnStatus(std::function<void(const std::string&)> hook) {
  if (g_liveTree != nullptr) g_liveTree->OnStatus(std::move(hook));
}

std::vector<std::string> TakeStatusLines() {
  return g_liveTree != nullptr ? g_liveTree->TakeStatusLines() : std::vector<std::string>{};
}

void SetRunLogFolder(const std::string& dir) { g_logFolder = dir; }

TestTree::~TestTree() {
  SetWorkDirectory("");
  SetFrontReporter(nullptr);
  if (g_liveTree == this) g_liveTree = nullptr;
  g_logFolder.clear();
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
  const std::string dir = g_logFolder;
  if (dir.empty()) return text;
  for (const WalkEntry& e : ListCountedFiles(RealFileSystem(), dir, "*.log")) text += ReadFileText(dir + e.name);
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
