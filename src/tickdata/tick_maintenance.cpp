// Range delete and check of the tick store.
#include <algorithm>
#include <new>

#include "base/file_helpers.h"
#include "common/dir_walk.h"
#include "common/shared_state.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_pair.h"

namespace marbloom {
namespace {

constexpr int64_t kHeaderSize = sizeof(TickIndexHeader);
constexpr int64_t kEntrySize = sizeof(TickIndexEntry);

// The first eight characters of an index file's name (sz0000019.vid is
// sz000001); a shorter name without its extension.
std::string StemOf(const std::string& indexName) {
  return indexName.substr(0, std::min<std::size_t>(8, indexName.size() - 4));
}

std::vector<WalkEntry> IndexFiles() { return ListCountedFiles(TickStoreDir(), "*.vid"); }

int Damaged(const char* format, std::string_view stem) {
  const std::string s(stem);
  ReportF(format, s.c_str());
  return 0;
}

// Rules 6 to 8 over the loaded index; the message of the first that fails, or null.
const char* DateRuleFailure(const TickIndexHeader& h, const std::vector<TickIndexEntry>& entries) {
  if (h.firstDate <= 0 || h.lastDate <= 0 || h.firstDate > h.lastDate || h.firstDate > entries.front().date ||
      h.lastDate < entries.back().date)
    return "%s索引文件日期信息异常!";
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const TickIndexEntry& e = entries[k];
    if (e.unpackedLength <= 0 || e.date < h.firstDate || e.date > h.lastDate) return "%s索引文件日期信息异常!";
    if (k > 0 && e.date <= entries[k - 1].date) return "%s索引文件日期信息乱序!";
  }
  return nullptr;
}

}  // namespace

int TickEngine::DeleteTickRange(int first, int last) {
  SetStatusTextF("正在删除%d-%d时间段的分笔数据...", first, last);
  const std::vector<WalkEntry> files = IndexFiles();
  if (files.empty()) return 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string stem = StemOf(files[i].name);
    SetStatusTextF("正在删除股票%s分笔数据", stem.c_str());
    DeleteTickDays(stem, first, last);
    SetProgressFraction(static_cast<double>(i) / static_cast<double>(files.size()));
    if (Cancelled()) {
      ReportF("%s", "删除分笔数据操作被取消!");
      return -3;
    }
  }
  ReportF("%s", "删除分笔数据完成!");
  return 1;
}

void TickEngine::DeleteTickDays(std::string_view stem, int first, int last) {
  TickPairIndex old;
  if (LoadTickPair(stem, &old) != TickPairState::kUsable) return;
  TickPairWriter writer(0);
  if (!writer.Open()) return;
  std::size_t k = 0;
  const std::size_t n = old.entries.size();
  while (k < n) {
    const std::size_t start = k;
    while (k < n && (old.entries[k].date < first || old.entries[k].date > last)) ++k;
    writer.CopyOldDays(old, start, k);
    while (k < n && old.entries[k].date >= first && old.entries[k].date <= last) ++k;
  }
  writer.ReplaceTickFiles(stem, TickPairWriter::WhenEmpty::kRemoveOldPair);
}

int TickEngine::CheckTickFiles() {
  const std::vector<WalkEntry> files = IndexFiles();
  if (files.empty()) {
    ReportF("%s", "路径不存在或无分笔数据!");
    return 0;
  }
  int damaged = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string stem = StemOf(files[i].name);
    SetStatusTextF("正在检查%s分笔数据", stem.c_str());
    if (CheckTickFile(stem) == 0) ++damaged;
    SetProgressFraction(static_cast<double>(i) / static_cast<double>(files.size()));
    if (Cancelled()) {
      ReportF("%s", "检查分笔操作被取消!");
      break;
    }
  }
  return damaged;
}

int TickEngine::CheckTickFile(std::string_view stem) {
  UniqueFd index = OpenForReading(TickIndexPath(stem));
  UniqueFd data = OpenForReading(TickDataPath(stem));
  if (!index.valid() || !data.valid()) return Damaged("%s文件打开失败!", stem);
  const int64_t indexLength = FileLength(index.get());
  const int64_t dataLength = FileLength(data.get());
  if (indexLength < kHeaderSize || dataLength <= 0 || (indexLength - kHeaderSize) % kEntrySize != 0)
    return Damaged("%s索引文件长度异常!", stem);
  const int64_t count = (indexLength - kHeaderSize) / kEntrySize;
  std::vector<TickIndexEntry> entries;
  try {
    entries.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return Damaged("%s内存申请失败!", stem);
  }
  TickIndexHeader header;
  if (!ReadAllAt(index.get(), &header, sizeof header, 0) ||
      !ReadAllAt(index.get(), entries.data(), static_cast<std::size_t>(count * kEntrySize), kHeaderSize))
    return Damaged("%s索引文件读取失败!", stem);
  if (header.count <= 0 || header.count != count) return Damaged("%s索引文件长度校验异常!", stem);
  if (const char* failure = DateRuleFailure(header, entries)) return Damaged(failure, stem);
  int64_t sum = 0;
  for (const TickIndexEntry& e : entries) sum += e.dataLength;
  if (sum != dataLength) return Damaged("%s索引文件和数据文件不匹配!", stem);
  return 1;
}

}  // namespace marbloom
