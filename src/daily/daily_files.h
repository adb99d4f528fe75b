#pragma once
// The daily files of a tree as the operations read them: the listing of the
// markets' folders, whole-file reads into one buffer, and the rules a sound
// file keeps (whole records; dates that rise, each a calendar date no later
// than the market's today) with the messages that report a file breaking
// them or failing to read or write.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"
#include "common/data_layout.h"
#include "common/security_walk.h"

namespace marbloom {

inline constexpr std::array<bool, 3> kAllMarkets = {true, true, true};

// How the load of a file for an edit ended.
enum class DailyLoad { kLoaded, kMissing, kFailed };

class DailyFiles {
 public:
  explicit DailyFiles(const DataLayout& layout) : layout_(layout) {}

  // A length of whole records, at least one.
  static bool WholeRecords(int64_t length);

  // The daily files of the selected markets under `tree` (this tree, or the
  // one a merge takes from), strays logged; empty files only `withEmpty`.
  std::vector<SecurityFile> List(const DataLayout& tree, const std::array<bool, 3>& markets,
                                 std::string_view codePattern, bool withEmpty = false) const;

  // Reads the first `size` bytes of `file` into the buffer, followed by
  // `spare` zeroed bytes; false on a short read or a size past the limit.
  bool Read(const File& file, std::size_t size, std::size_t spare = 0);
  std::vector<uint8_t>& Buffer() { return buffer_; }

  // Reads the records of the file of market and code for an edit: n whole
  // records, nothing past them. A file that cannot be opened for update or
  // read, or whose length is not whole records, is logged and fails; a
  // missing one is only missing.
  DailyLoad Load(int market, std::string_view code, std::size_t* n);
  // Replaces the file of market and code by the first n records of the
  // buffer (n = 0: removes it); false when that failed (logged).
  bool Rewrite(int market, std::string_view code, std::size_t n);

  // The rules of a sound file applied to the open `file` of market and code,
  // read piece by piece; the first fault is reported (status and log) and
  // makes it false.
  bool Check(const File& file, int market, std::string_view code, int today);

  // The messages of a file that failed.
  void ReadFailed(const std::string& path) const;
  void WriteFailed(const std::string& path) const;
  void Disordered(const std::string& path) const;
  void OpenFailed(int market, std::string_view code) const;

 private:
  bool DatesInOrder(std::size_t n, uint32_t before, bool first, int market, std::string_view code) const;
  bool DatesAreDays(std::size_t n, uint32_t before, int market, std::string_view code) const;

  const DataLayout& layout_;
  std::vector<uint8_t> buffer_;  // one daily file, or one piece of it
};

}  // namespace marbloom
