#pragma once
// A file being written that is removed again unless it is kept: a download's
// archive until its whole body is on disk, an extracted entry's temporary
// until it has been renamed into place.
#include <string>
#include <utility>

#include "base/file_system.h"

namespace marbloom {

class PartialFile {
 public:
  explicit PartialFile(FileSystem& files, std::string path = {}) : files_(files), path_(std::move(path)) {}
  ~PartialFile() { Remove(); }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::string& path() const { return path_; }
  // From now on the file at `path` is removed unless kept.
  void Track(std::string path) {
    Remove();
    path_ = std::move(path);
  }
  // The file stays.
  void Keep() { path_.clear(); }
  void Remove() {
    if (!path_.empty()) files_.Remove(path_);
    path_.clear();
  }

 private:
  FileSystem& files_;
  std::string path_;
};

}  // namespace marbloom
