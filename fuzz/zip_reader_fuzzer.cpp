// Opens the input as a ZIP archive, walks every entry, reads each to its end,
// asks whether its data goes on beyond its stated size, and closes the
// archive. The reader works on files, so the input goes through a temporary
// file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zip/zip_reader.h"

namespace {

// One temporary file for the whole run, removed at exit. A plain array, so
// that it outlives the exit handlers.
char gTempPath[64];

std::string TempPath() {
  if (gTempPath[0] == '\0') {
    std::snprintf(gTempPath, sizeof gTempPath, "/tmp/zip_reader_fuzzer-XXXXXX");
    int fd = ::mkstemp(gTempPath);
    if (fd < 0) std::abort();
    ::close(fd);
    std::atexit([] { ::unlink(gTempPath); });
  }
  return gTempPath;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void ReadAll(const std::string& path) {
  marbloom::ZipReader reader(marbloom::RealFileSystem(), path);
  reader.GoToFirstEntry();
  std::vector<char> piece(4096);
  do {
    marbloom::ZipEntryInfo info;
    reader.GetCurrentEntryInfo(&info, nullptr, 0);
    std::vector<char> name(info.nameLength + 2u);
    reader.GetCurrentEntryInfo(nullptr, name.data(), info.nameLength + 1);
    reader.OpenCurrentEntry();
    while (reader.ReadCurrentEntry(piece.data(), 4096) == 4096) {
    }
    reader.HasDataBeyondStatedSize();
  } while (reader.GoToNextEntry());
  reader.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = TempPath();
  if (!WriteInput(path, data, size)) std::abort();
  try {
    ReadAll(path);
  } catch (const marbloom::ZipError&) {
  } catch (const marbloom::ZipFileError&) {
  }
  return 0;
}
