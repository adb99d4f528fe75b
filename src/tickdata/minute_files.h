#pragma once
// Where minute-line files live, and the file steps of the minute builder:
// finding a file's whole days, appending new days to it, and, when days must
// go or come between held ones, reading the newest day blocks, merging new
// days under the retention limit and replacing the file through its
// temporary.
#include <cstddef>
#include <cstdint>
#include <span>
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
// Both kinds' files of a security, which a build may replace, named before
// a batch of securities is built (FileSystem::BeforeChanges).
void AddMinuteFilePaths(const DataLayout& layout, int market, std::string_view code, std::vector<std::string>* paths);

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

// Whether `day` is a whole day as the build writes it: its bars end at the
// kind's slot times in order and all carry one date. An append cut short
// leaves none: its last block is short, or of full size but its bars not (yet)
// written (zeros, or a part of them).
bool IsWholeDay(const MinuteBar* day, const MinuteFileKind& kind);

// Where the days of a minute file end. Its days are its blocks up to the
// last whole day; whatever follows is the tail of an append cut short, which
// no reader takes and the next write cuts. A file without a whole day is
// taken as it stands: its blocks are its days, and a length that is not a
// multiple of the block is damage (a file shorter than a block holds only a
// tail).
struct HeldDays {
  int64_t length = 0;  // of the file
  int days = 0;        // blocks from the start that count
  int newestDate = 0;  // of the last of them, when it is a whole day
  bool HasTail(const MinuteFileKind& kind) const {
    return length != days * static_cast<int64_t>(kind.blockBytes);
  }
};

// Finds the days of an open file, reading its blocks from the end into
// `scratch` (room for `scratchDays` days) until a whole day: normally the
// last block alone. kNoFile for an empty file; kDamaged when a read fails or
// the file is damaged as above.
TailRead FindHeldDays(const File& file, const MinuteFileKind& kind, MinuteBar* scratch, int scratchDays,
                      HeldDays* held);

// Reads the newest min(maxDays, held days) day blocks of the file into `days`.
bool ReadNewestDays(const File& file, const HeldDays& held, const MinuteFileKind& kind, int maxDays,
                    MinuteBar* days, int* count);

// Whether a file holding `held` days (at most `retention`, no tail) already
// ends with the `freshCount` days of `fresh` byte for byte, so that merging
// them leaves it as it is. Reads only its newest freshCount + 1 blocks into
// `scratch` (room for min(retention, freshCount + 1) days): the file's days
// rise, so the day before them is older than every fresh one.
bool HoldsFreshDays(const File& file, const HeldDays& held, const MinuteFileKind& kind, int retention,
                    const MinuteBar* fresh, int freshCount, MinuteBar* scratch);

// Appends `count` days, every one newer than the file's newest, to a file
// opened for update, in one write after its held days (a tail is cut
// first). On failure the file is cut back to its held days where it can be.
bool AppendMinuteDays(File& file, const HeldDays& held, const MinuteBar* days, int count,
                      const MinuteFileKind& kind);

// Every bar of a file's days for reading, bar-by-bar maintenance and the
// shown data; a tail is left out. A file without a whole day gives all its
// bars when its length is a multiple of 32. kDamaged when it is not, when
// the file is larger than kMaxWholeFileBytes, or the read fails.
TailRead ReadAllMinuteBars(FileSystem& files, const std::string& path, const MinuteFileKind& kind,
                           std::vector<MinuteBar>* bars);
// How many bars from the start ReadAllMinuteBars would give, for a reader
// that reads them piece by piece: only the last blocks are read, into
// `scratch`, until a whole day.
TailRead HeldMinuteBars(const File& file, const MinuteFileKind& kind, std::vector<MinuteBar>* scratch,
                        int64_t* bars);
// The same for a file already open.
TailRead ReadAllMinuteBars(const File& file, const MinuteFileKind& kind, std::vector<MinuteBar>* bars);

// Writes `bars` (whole days) as the file at `path`. A file that holds days
// (`replaces`) is replaced: the days go to `temp`, which is closed and
// renamed over it; on failure the temporary is removed and the old file is
// left as it was. A missing or empty file is written in place (a new file
// holds only days of the run writing it, which a run that did not end
// writes again); on failure it is removed.
bool ReplaceMinuteFile(FileSystem& files, const std::string& temp, const std::string& path,
                       std::span<const MinuteBar> bars, bool replaces = true);

}  // namespace marbloom
