#pragma once
// Small pieces shared by the tick store's readers and writers: an owned file
// descriptor and the paths of the store.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace marbloom {

// A file descriptor closed when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when the close reported an error.
  bool Close();

 private:
  int fd_ = -1;
};

UniqueFd OpenForReading(const std::string& path);
// Created or truncated.
UniqueFd OpenForWriting(const std::string& path);

// "<history>newtick/"
std::string TickStoreDir();
// A security's stem: market prefix and code, e.g. "sz000001".
std::string TickStem(int market, std::string_view code);
// "<history>newtick/<stem>.vid" and ".vtc".
std::string TickIndexPath(std::string_view stem);
std::string TickDataPath(std::string_view stem);
// The fixed-name temporaries every rewrite of a pair goes through.
std::string TickIndexTempPath();
std::string TickDataTempPath();
// "<history>newdatetick/<date>.htc"
std::string TickArchivePath(int date);

}  // namespace marbloom
