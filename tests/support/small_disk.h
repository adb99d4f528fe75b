#pragma once
// A small tmpfs mounted on a temporary folder for the length of a test, so
// that operations can run on a file system that is full. Mounting needs root
// (the sandbox and CI have it); tests skip where it is refused. FileSizeLimit
// (temp_dir.h) is the lighter stand-in where one process's writes are enough.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace marbloom::test {

class SmallDisk {
 public:
  explicit SmallDisk(std::size_t bytes) : path_(temp_.path() + "disk/") {
    std::filesystem::create_directories(path_);
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& path() const { return path_; }  // ends in '/'

  // Takes every free page with a filler file: from now on any write that
  // needs a new page fails with ENOSPC.
  void Fill() const {
    const int fd = ::open((path_ + "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::vector<char> page(4096, 'f');
    while (::write(fd, page.data(), page.size()) > 0) {
    }
    ::close(fd);
  }

 private:
  TempDir temp_;
  std::string path_;
  bool mounted_ = false;
};

}  // namespace marbloom::test
