#pragma once
// Test helpers: a temporary folder removed with its contents, a work directory
// with a data tree set up as start-up would, and small file utilities.
#include <cstdint>
#include <string>
#include <vector>

#include "common/data_layout.h"

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
// settings, the data tree created, DataTreeReady set, status and progress cleared.
class TestTree {
 public:
  TestTree();
  ~TestTree();
  const std::string& root() const { return temp_.path(); }
  const std::string& workDir() const { return workDir_; }
  const std::string& historyDir() const { return historyDir_; }
  DataLayout layout() const;

 private:
  TempDir temp_;
  std::string workDir_, historyDir_;
};

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

// Every run-log file under the settings' log directory, in name order, as UTF-8.
std::string ReadRunLog();
void RemoveTree(const std::string& path);

}  // namespace marbloom::test
