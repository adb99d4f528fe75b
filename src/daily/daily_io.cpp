#include "daily/daily_io.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "base/file_helpers.h"

namespace marbloom {

UniqueFd OpenOrCreateForUpdate(const std::string& path, bool* created) {
  *created = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    UniqueFd fd = OpenForUpdate(path);
    if (fd) return fd;
    if (errno != ENOENT) return fd;
    fd = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    *created = fd.valid();
    if (fd || errno != EEXIST) return fd;  // created, or failed for good
  }
  return UniqueFd();
}

namespace {

// Gives a file back its old length after a failed write grew it.
void TruncateBack(int fd, int64_t length) {
  if (::ftruncate(fd, length) != 0) return;  // nothing more can be done; the caller reports the failure
}

}  // namespace

bool WriteChange(int fd, const uint8_t* fresh, std::size_t size, int64_t from, int64_t oldLength,
                 const uint8_t* old) {
  const int64_t end = from + static_cast<int64_t>(size);
  const int64_t growFrom = std::max(from, oldLength);
  const int64_t keptEnd = std::min(end, oldLength);  // existing bytes end here
  const bool grown = end > growFrom;
  if (grown && !WriteAllAt(fd, fresh + (growFrom - from), static_cast<std::size_t>(end - growFrom), growFrom)) {
    TruncateBack(fd, oldLength);
    return false;
  }
  if (keptEnd <= from || WriteAllAt(fd, fresh, static_cast<std::size_t>(keptEnd - from), from)) return true;
  // Best effort: the caller reports the failure whatever this achieves.
  WriteAllAt(fd, old, static_cast<std::size_t>(keptEnd - from), from);
  if (grown) TruncateBack(fd, oldLength);
  return false;
}

namespace {
DailyWriteObserver g_writeObserver = nullptr;
}  // namespace

void SetDailyWriteObserver(DailyWriteObserver observer) { g_writeObserver = observer; }

void ObserveDailyWrite(DailyWriteStep step) {
  if (g_writeObserver != nullptr) g_writeObserver(step);
}

bool ReplaceDailyFile(const std::string& temp, const std::string& path, const uint8_t* data, std::size_t size) {
  UniqueFd file = OpenNewTemporary(temp);
  bool written = file && WriteAllAt(file.get(), data, size, 0);
  if (written) ObserveDailyWrite(DailyWriteStep::kTemporaryWritten);
  written = file.Close() && written && ReplaceFileAtomically(temp, path);
  if (written) {
    ObserveDailyWrite(DailyWriteStep::kReplaced);
    return true;
  }
  ::unlink(temp.c_str());
  return false;
}

bool DatesRise(const uint8_t* base, std::size_t n, uint32_t before) {
  unsigned fault = 0;
  for (std::size_t i = 0; i < n; ++i) {
    uint32_t date;
    std::memcpy(&date, base + i * kDailyRecordSize, sizeof date);
    fault |= DailyDateFaultOf(date, before) != DailyDateFault::kNone;
    before = date;
  }
  return fault == 0;
}

bool TryResize(std::vector<uint8_t>& buffer, std::size_t size, std::size_t limit) {
  // A damaged or hostile file must not make us allocate whatever its length says.
  if (size > limit) return false;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ReadPrefix(int fd, std::size_t size, std::size_t spare, std::vector<uint8_t>& buffer) {
  if (size > kMaxWholeFileBytes || !TryResize(buffer, size + spare, kMaxWholeFileBytes + spare)) return false;
  if (spare > 0) std::memset(buffer.data() + size, 0, spare);
  return ReadAllAt(fd, buffer.data(), size, 0);
}

}  // namespace marbloom
