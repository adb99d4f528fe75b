#pragma once
// Small path and file helpers shared by the whole program.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marbloom {

constexpr std::size_t kPathCapacity = 260;

// The most the engines read of one data file into memory at once (8 million
// daily records or minute bars): a damaged file claiming more is refused
// rather than allocated.
inline constexpr std::size_t kMaxWholeFileBytes = std::size_t{256} << 20;

// Without the space, LF, CR and tab at both ends.
std::string TrimSpaces(std::string_view s);
std::string_view TrimmedView(std::string_view s);

// Backslashes become '/', and a '/' is appended when it and the terminator fit
// in `capacity` bytes. An empty path is left alone.
std::string NormalizeDirPath(std::string_view path, std::size_t capacity = kPathCapacity);

// Creates the directory (normalised first) and its parents, errors ignored;
// with `probe` proves it writable by creating and deleting "$.tmp" in it.
// False when the probe fails or the path does not fit kPathCapacity.
bool MakeDirTree(const std::string& path, bool probe);

// Length of an open file, position unchanged; -1 on failure. A regular
// file takes one fstat, which matters on walks over tens of thousands of files.
int64_t FileLength(int fd);

// Writes all of `size` bytes at `offset`; false on any short or failed write.
bool WriteAllAt(int fd, const void* data, std::size_t size, int64_t offset);
// Reads exactly `size` bytes at `offset`; false on a short or failed read.
bool ReadAllAt(int fd, void* data, std::size_t size, int64_t offset);

// What a temporary beside the file it will replace adds to that file's name
// (an unpacked entry, a copied archive, a file moved across file systems).
inline constexpr const char* kPartialFileSuffix = ".part";

// The one way a file is replaced: `source`, a temporary in the same folder
// that is complete and closed, is renamed over `target` in one atomic step.
bool ReplaceFileAtomically(const std::string& source, const std::string& target);

// Writes everything cached for the file system holding `path` to disk. A
// writing operation calls it once at its end, so that an operation that
// reports done has its data on disk; false when the flush failed.
bool SyncFileSystemOf(const std::string& path);

// Moves a file, also across file systems (copy, sync, then remove the source).
bool MoveFileAnywhere(const std::string& source, const std::string& target);

bool FileExists(const std::string& path);

}  // namespace marbloom
