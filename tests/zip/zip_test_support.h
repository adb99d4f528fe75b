#pragma once
// Archives for the ZIP tests: a small builder whose layout is known byte for
// byte (for damage at chosen offsets), and the independent writers installed
// on the machine (Info-ZIP zip, bsdtar, Python's zipfile, libzip).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace marbloom::test {

using Bytes = std::vector<uint8_t>;

struct BuildEntry {
  std::string name;
  Bytes data;
  uint16_t method = 0;           // 0 stored, 8 deflated
  uint16_t flag = 0;             // bit 3: zero CRC and sizes locally, descriptor after the data
  uint16_t madeBy = 20;          // high byte 3 = Unix
  uint32_t external = 0;         // external attributes
  uint32_t dosDateTime = 0x54A54BC7;  // 2022-05-05 09:30:14
};

struct BuiltZip {
  Bytes bytes;
  std::vector<uint32_t> localOffsets;  // of each local header
  std::vector<uint32_t> dataOffsets;   // of each entry's data
  std::vector<uint32_t> centralOffsets;  // of each central header
  uint32_t centralOffset = 0;
  uint32_t endOffset = 0;
};

// Local headers and data, central directory, end record, comment.
BuiltZip BuildZip(const std::vector<BuildEntry>& entries, const std::string& comment = "");

// Changes the CRC-32 and uncompressed size that both headers of an entry state.
void RestateEntry(BuiltZip& z, std::size_t entry, uint32_t crc, uint32_t uncompressedSize);

Bytes RawDeflate(const Bytes& data);
Bytes PatternBytes(std::size_t size, uint32_t seed, bool compressible);

void Put16(Bytes& b, std::size_t at, uint16_t v);
void Put32(Bytes& b, std::size_t at, uint32_t v);

// Runs a shell command; its exit status.
int Shell(const std::string& command);

// Files of a source tree for the external writers: relative name -> bytes.
struct SourceFile {
  std::string name;
  Bytes data;
};
void WriteSourceTree(const std::string& dir, const std::vector<SourceFile>& files);

// True when every file of `files` exists under `dir` with the same bytes.
::testing::AssertionResult SameTree(const std::string& dir, const std::vector<SourceFile>& files);

// Writes `archive` with libzip from the files under `dir`; `deflate` picks
// the method for every entry.
bool LibzipWrite(const std::string& archive, const std::string& dir, const std::vector<SourceFile>& files,
                 bool deflate);

}  // namespace marbloom::test
