#include "daily/daily_store.h"

#include <cerrno>
#include <cstdio>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "daily/daily_io.h"

namespace marbloom {
namespace {

// The first record whose date is not smaller than `key` (n when none). The
// dates rise, so a key after the last one needs no scan.
std::size_t ScanFor(const std::vector<uint8_t>& buffer, std::size_t n, uint32_t key) {
  if (n > 0 && DateAt(buffer, n - 1) < key) return n;
  std::size_t i = 0;
  while (i < n && DateAt(buffer, i) < key) ++i;
  return i;
}

}  // namespace

bool DailyStore::StoreDailyRecord(int market, std::string_view code, const DailyRecord& record) {
  return StoreInOrder(layout_.DailyFile(market, code), market, code, record.date, record, true);
}

bool DailyStore::StoreConverted(const std::string& path, int market, std::string_view code,
                                const DailyRecord& record) {
  return StoreInOrder(path, market, code, record.date, record, true);
}

bool DailyStore::WriteDailyRecord(int market, std::string_view code, uint32_t date, const DailyRecord& record) {
  return StoreInOrder(layout_.DailyFile(market, code), market, code, date, record, false);
}

// Same bytes as reading the whole file, inserting in memory and rewriting it
// from offset 0. Appending or replacing writes the one record in place; an
// insert moves records and rewrites the file through its temporary. A write
// that fails leaves the file as it was (a file made here is removed again);
// a file whose dates do not rise is reported and left alone. `creating`: the
// conversion's store, whose open failure is logged as a file not created.
bool DailyStore::StoreInOrder(const std::string& path, int market, std::string_view code, uint32_t key,
                              const DailyRecord& record, bool creating) {
  bool created = false;
  File file = OpenOrCreateForUpdate(layout_.Files(), path, &created);
  if (!file) {
    if (creating) layout_.Reports().LogF("创建%s文件失败!", path.c_str());
    else daily_.WriteFailed(path);
    engine_.NoteFailure();
    return false;
  }
  const int64_t length = file.Length();
  const Placement placed = length < 0 ? Placement::kFailed : PlaceInOrder(file, length, key, record, market, code);
  if (placed == Placement::kStored) return true;
  file.Close();
  if (created) layout_.Files().Remove(path);
  if (placed == Placement::kDisordered) daily_.Disordered(path);
  else daily_.WriteFailed(path);
  engine_.NoteFailure();
  return false;
}

// The whole file is read (a partial last record too), so that a failed write
// can put back every byte it covered.
DailyStore::Placement DailyStore::PlaceInOrder(File& file, int64_t length, uint32_t key, const DailyRecord& record,
                                               int market, std::string_view code) {
  constexpr std::size_t kSize = kDailyRecordSize;
  const auto* fresh = reinterpret_cast<const uint8_t*>(&record);
  const std::size_t size = static_cast<std::size_t>(length);
  const std::size_t n = size / kSize;
  auto written = [](bool ok) { return ok ? Placement::kStored : Placement::kFailed; };
  std::vector<uint8_t>& buffer = daily_.Buffer();
  if (!daily_.Read(file, size, (n + 1) * kSize - size)) return Placement::kFailed;
  if (n == 0) return written(WriteChange(file, fresh, kSize, 0, length, buffer.data()));
  if (!DatesRise(buffer.data(), n, 0)) return Placement::kDisordered;
  const std::size_t i = ScanFor(buffer, n, key);
  if (i == n || DateAt(buffer, i) == key) {
    return written(
        WriteChange(file, fresh, kSize, static_cast<int64_t>(i * kSize), length, buffer.data() + i * kSize));
  }
  uint8_t* base = buffer.data();
  std::memmove(base + (i + 1) * kSize, base + i * kSize, (n - i) * kSize);
  PutRecordAt(buffer, i, record);
  return written(ReplaceDailyFile(layout_.Files(), layout_.DailyTemp(market), layout_.DailyFile(market, code), base,
                                  (n + 1) * kSize));
}

bool DailyStore::ReadDailyRecord(int market, std::string_view code, uint32_t date, DailyRecord* out) {
  const std::string path = layout_.DailyFile(market, code);
  const File file = layout_.Files().Open(path, OpenMode::kRead);
  if (!file) {
    if (errno != ENOENT) engine_.NoteFailure();
    daily_.ReadFailed(path);
    return false;
  }
  const int64_t length = file.Length();
  if (length < static_cast<int64_t>(kDailyRecordSize)) {
    if (length >= 0) {
      layout_.Reports().LogF("%s文件无数据!", path.c_str());
      return false;
    }
    engine_.NoteFailure();
    daily_.ReadFailed(path);
    return false;
  }
  const std::size_t n = static_cast<std::size_t>(length) / kDailyRecordSize;
  if (!daily_.Read(file, n * kDailyRecordSize)) {
    engine_.NoteFailure();
    daily_.ReadFailed(path);
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (DateAt(daily_.Buffer(), i) != date) continue;
    *out = RecordAt(daily_.Buffer(), i);
    return true;
  }
  return false;
}

}  // namespace marbloom
