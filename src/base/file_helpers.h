#pragma once
// Small path and file helpers shared by the whole program; files are
// reached through the file system seam (base/file_system.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_system.h"

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
bool MakeDirTree(FileSystem& files, const std::string& path, bool probe);

// What a temporary beside the file it will replace adds to that file's name
// (an unpacked entry, a copied archive, a file moved across file systems).
inline constexpr const char* kPartialFileSuffix = ".part";

// Moves a file, also across file systems (copy, sync, then remove the source).
bool MoveFileAnywhere(FileSystem& files, const std::string& source, const std::string& target);

}  // namespace marbloom
