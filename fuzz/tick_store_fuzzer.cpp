// LoadTickArchive, the judgement of a pair and the day reader over arbitrary
// files. The input is split into an archive, an index and a data file: two
// 16-bit lengths, then the archive bytes, the index bytes, and the rest as the
// data file.
#include <stdlib.h>

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/file_helpers.h"
#include "tickdata/tick_pair.h"
#include "tickdata/tick_reader.h"

namespace {

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

int32_t DateAt(const uint8_t* data, size_t size, size_t offset, int32_t fallback) {
  if (offset + 4 > size) return fallback;
  int32_t date;
  std::memcpy(&date, data + offset, 4);
  return date;
}

std::string g_tree;
marbloom::DataLayout g_layout;
void RemoveTree() { std::filesystem::remove_all(g_tree); }

bool SetUpTree() {
  char dir[] = "/tmp/marbloom-tick-fuzz-XXXXXX";
  if (::mkdtemp(dir) == nullptr) return false;
  g_tree = dir;
  std::atexit(RemoveTree);
  g_layout = marbloom::DataLayout(g_tree + "/", g_tree + "/");
  marbloom::MakeDirTree(g_layout.Files(), g_layout.TickStoreDir(), 0);
  marbloom::MakeDirTree(g_layout.Files(), g_layout.TickArchiveDir(), 0);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marbloom;
  static const bool ready = SetUpTree();
  if (!ready || size < 4) return 0;
  const size_t archiveSize = std::min<size_t>(data[0] | (data[1] << 8), size - 4);
  const size_t indexSize = std::min<size_t>(data[2] | (data[3] << 8), size - 4 - archiveSize);
  const uint8_t* archive = data + 4;
  const uint8_t* index = archive + archiveSize;
  const uint8_t* blocks = index + indexSize;
  const size_t blocksSize = size - 4 - archiveSize - indexSize;

  // The archive is read under the date of its first entry.
  const int32_t archiveDate = DateAt(archive, archiveSize, 16 + 8, 20240105);
  const std::string archivePath = g_layout.TickArchiveFile(archiveDate);
  WriteFile(archivePath, archive, archiveSize);
  TickArchiveLoad load = LoadTickArchive(g_layout, archiveDate);
  if (load.archive) {
    GrowBuffer<uint8_t> block;
    for (const TickArchiveItem& item : load.archive->directory) ReadArchiveBlock(*load.archive, item, &block);
  }
  std::remove(archivePath.c_str());

  // sh510050 is a running-extra type; its first and last index dates are read.
  WriteFile(g_layout.TickIndexFile("sh510050"), index, indexSize);
  WriteFile(g_layout.TickDataFile("sh510050"), blocks, blocksSize);
  static TickSecurityReader reader(g_layout);
  TickDayView day;
  if (TickPairIsWhole(reader.Open(1, "510050"))) {
    reader.ReadDay(DateAt(index, indexSize, 16, 20240105), &day);
    if (indexSize >= 38) reader.ReadDay(DateAt(index, indexSize, indexSize - 22, 20240105), &day);
  }
  return 0;
}
