#pragma once
// Test helpers: a temporary folder removed with its contents, a work directory
// with a data tree set up as start-up would, and small file utilities.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "common/shared_state.h"

namespace marbloom::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder, ending in '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A work directory "<tmp>/work/" and history directory "<tmp>/vipdoc/" in the
// settings, the data tree created, DataTreeReady set. Its reporter, which
// its layout and CurrentLayout() hand the engines, keeps the status line and
// every status line shown, and logs into "<tmp>/work/logs/".
class TestTree {
 public:
  TestTree();
  ~TestTree();
  const std::string& root() const { return temp_.path(); }
  const std::string& workDir() const { return workDir_; }
  const std::string& historyDir() const { return historyDir_; }
  DataLayout layout() const;
  FrontReporter& reports() { return reporter_; }
  std::string StatusText() const { return board_.StatusText(); }
  double ProgressFraction() const { return board_.ProgressFraction(); }
  // Every status line shown since the tree was made, or since the last Take.
  std::vector<std::string> TakeStatusLines();
  // Called on the reporting thread with every status line (empty: none).
  void OnStatus(std::function<void(const std::string&)> hook);

 private:
  TempDir temp_;
  std::string workDir_, historyDir_;
  StatusBoard board_;
  mutable FrontReporter reporter_;
  std::mutex linesMutex_;
  std::vector<std::string> lines_;
  std::function<void(const std::string&)> hook_;
};

// The status line of the test's one live TestTree, and the lines it showed
// since it was made or since the last call.
std::string StatusText();
std::vector<std::string> TakeStatusLines();
double ProgressFraction();
// Shows a status line through the live TestTree's reporter; sets its hook.
void ShowStatus(const std::string& text);
void OnStatus(std::function<void(const std::string&)> hook);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::string ReadFileText(const std::string& path);
bool PathExists(const std::string& path);
// Runs a shell command; its exit status and standard output.
struct CommandResult {
  int exitCode = -1;
  std::string out;
};
CommandResult RunCommand(const std::string& command);

// Path of a program built in this build tree, such as "src/cli/marbloom-cli".
std::string BuiltProgram(const std::string& relativePath);

// Every run-log file of the live TestTree (or of the folder named by
// SetRunLogFolder), in name order.
std::string ReadRunLog();
void SetRunLogFolder(const std::string& dir);
void RemoveTree(const std::string& path);

}  // namespace marbloom::test
