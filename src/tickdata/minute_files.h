#pragma once
// Where minute-line files live, and the whole-file steps of the minute
// builder: reading the newest day blocks, merging new days under the
// retention limit, and replacing a file through its temporary.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/data_layout.h"
#include "tickdata/minute_bar.h"

namespace marbloom {

enum class MinuteKind { kOneMinute, kFiveMinute };

struct MinuteFileKind {
  const char* extension;  // file name = prefix + code + extension
  int barsPerDay;
  std::size_t blockBytes;
};

const MinuteFileKind& KindInfo(MinuteKind kind);

// The layout's folder, file and temporary of the kind.
std::string MinuteDirectory(const DataLayout& layout, MinuteKind kind, int market);
std::string MinuteFilePath(const DataLayout& layout, MinuteKind kind, int market, std::string_view code);
std::string MinuteTempPath(const DataLayout& layout, MinuteKind kind, int market);

// The block date of a day (its first bar's date).
inline int BlockDate(const MinuteBar* day) { return UnpackMinuteDate(day->packedDate); }

// Merges `freshCount` days of `barsPerDay` bars, in date order, into the
// `count` existing days of `days` (at most `retention`, oldest first): an equal
// date overwrites; a new date goes into its place while fewer than
// `retention` days are held, else pushes out the oldest, and a date older
// than every held day of a full file is discarded. Returns the new count.
int MergeMinuteDays(MinuteBar* days, int count, int retention, const MinuteBar* fresh, int freshCount,
                    int barsPerDay);

enum class TailRead { kRead, kNoFile, kDamaged };

// Reads the newest min(maxDays, days in file) day blocks of `path` into `days`.
// A missing or empty file gives kNoFile and no days; a length that is not a
// multiple of the block size, a failed read, or anything but a regular file
// (a symbolic link is not followed) gives kDamaged.
TailRead ReadNewestDays(FileSystem& files, const std::string& path, const MinuteFileKind& kind, int maxDays,
                        MinuteBar* days, int* count);

// Whether the file at `path`, of at most `retention` days, already ends with
// the `freshCount` days of `fresh` byte for byte, so that merging them leaves
// it as it is. Reads only its newest freshCount + 1 blocks into `scratch`
// (room for min(retention, freshCount + 1) days): the file's days rise, so
// the day before them is older than every fresh one.
bool HoldsFreshDays(FileSystem& files, const std::string& path, const MinuteFileKind& kind, int retention,
                    const MinuteBar* fresh, int freshCount, MinuteBar* scratch);

// Every bar of a file for reading; kDamaged when its length is not a
// multiple of 32, larger than kMaxWholeFileBytes, or the read fails.
TailRead ReadAllMinuteBars(FileSystem& files, const std::string& path, std::vector<MinuteBar>* bars);
// The same for a file already open.
TailRead ReadAllMinuteBars(const File& file, std::vector<MinuteBar>* bars);

// Writes `count` days as the file at `path`. A file that holds days
// (`replaces`) is replaced: the days go to `temp`, which is closed and
// renamed over it; on failure the temporary is removed and the old file is
// left as it was. A missing or empty file is written in place (a new file
// holds only days of the run writing it, which a run that did not end
// writes again); on failure it is removed.
bool ReplaceMinuteFile(FileSystem& files, const std::string& temp, const std::string& path, const MinuteBar* days,
                       int count, const MinuteFileKind& kind, bool replaces = true);

}  // namespace marbloom
