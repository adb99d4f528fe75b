// LoadTickArchive and ReadTickDay over arbitrary files. The input is split
// into an archive, an index and a data file: two 16-bit lengths, then the
// archive bytes, the index bytes, and the rest as the data file.
#include <stdlib.h>

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/file_helpers.h"
#include "app/settings.h"
#include "tickdata/tick_file.h"
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
void RemoveTree() { std::filesystem::remove_all(g_tree); }

bool SetUpTree() {
  char dir[] = "/tmp/marbloom-tick-fuzz-XXXXXX";
  if (::mkdtemp(dir) == nullptr) return false;
  g_tree = dir;
  std::atexit(RemoveTree);
  marbloom::Settings().historyDir = std::string(dir) + "/";
  marbloom::MakeDirTree(marbloom::Settings().historyDir + "newtick/", 0);
  marbloom::MakeDirTree(marbloom::Settings().historyDir + "newdatetick/", 0);
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
  const std::string archivePath = TickArchivePath(archiveDate);
  WriteFile(archivePath, archive, archiveSize);
  TickReader reader;
  if (auto loaded = reader.LoadTickArchive(archiveDate)) {
    for (const TickArchiveItem& item : loaded->directory) (void)item.dataLength;
  }
  std::remove(archivePath.c_str());

  // sh510050 is a running-extra type; its first and last index dates are read.
  WriteFile(TickIndexPath("sh510050"), index, indexSize);
  WriteFile(TickDataPath("sh510050"), blocks, blocksSize);
  reader.ReadTickDay(1, "510050", DateAt(index, indexSize, 16, 20240105));
  if (indexSize >= 38) reader.ReadTickDay(1, "510050", DateAt(index, indexSize, indexSize - 22, 20240105));
  return 0;
}
