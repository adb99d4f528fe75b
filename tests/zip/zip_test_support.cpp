#include "zip/zip_test_support.h"

#include <zip.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace marbloom::test {

void Put16(Bytes& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

namespace {

void Append16(Bytes& b, uint16_t v) {
  b.resize(b.size() + 2);
  Put16(b, b.size() - 2, v);
}

void Append32(Bytes& b, uint32_t v) {
  b.resize(b.size() + 4);
  Put32(b, b.size() - 4, v);
}

void AppendText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

}  // namespace

Bytes RawDeflate(const Bytes& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes PatternBytes(std::size_t size, uint32_t seed, bool compressible) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    out[i] = compressible ? static_cast<uint8_t>("0123456789 ,.\n"[(x >> 24) % 14]) : static_cast<uint8_t>(x >> 24);
  }
  return out;
}

BuiltZip BuildZip(const std::vector<BuildEntry>& entries, const std::string& comment) {
  BuiltZip z;
  std::vector<Bytes> stored;
  for (const BuildEntry& e : entries) {
    stored.push_back(e.method == 8 ? RawDeflate(e.data) : e.data);
    const Bytes& s = stored.back();
    uint32_t crc = static_cast<uint32_t>(crc32(0, e.data.data(), static_cast<uInt>(e.data.size())));
    bool descriptor = (e.flag & 8) != 0;
    z.localOffsets.push_back(static_cast<uint32_t>(z.bytes.size()));
    Append32(z.bytes, 0x04034B50);
    Append16(z.bytes, 20);
    Append16(z.bytes, e.flag);
    Append16(z.bytes, e.method);
    Append32(z.bytes, e.dosDateTime);
    Append32(z.bytes, descriptor ? 0 : crc);
    Append32(z.bytes, descriptor ? 0 : static_cast<uint32_t>(s.size()));
    Append32(z.bytes, descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
    Append16(z.bytes, static_cast<uint16_t>(e.name.size()));
    Append16(z.bytes, 0);
    AppendText(z.bytes, e.name);
    z.dataOffsets.push_back(static_cast<uint32_t>(z.bytes.size()));
    z.bytes.insert(z.bytes.end(), s.begin(), s.end());
    if (descriptor) {
      Append32(z.bytes, 0x08074B50);
      Append32(z.bytes, crc);
      Append32(z.bytes, static_cast<uint32_t>(s.size()));
      Append32(z.bytes, static_cast<uint32_t>(e.data.size()));
    }
  }
  z.centralOffset = static_cast<uint32_t>(z.bytes.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const BuildEntry& e = entries[i];
    z.centralOffsets.push_back(static_cast<uint32_t>(z.bytes.size()));
    Append32(z.bytes, 0x02014B50);
    Append16(z.bytes, e.madeBy);
    Append16(z.bytes, 20);
    Append16(z.bytes, e.flag);
    Append16(z.bytes, e.method);
    Append32(z.bytes, e.dosDateTime);
    Append32(z.bytes, static_cast<uint32_t>(crc32(0, e.data.data(), static_cast<uInt>(e.data.size()))));
    Append32(z.bytes, static_cast<uint32_t>(stored[i].size()));
    Append32(z.bytes, static_cast<uint32_t>(e.data.size()));
    Append16(z.bytes, static_cast<uint16_t>(e.name.size()));
    Append16(z.bytes, 0);
    Append16(z.bytes, 0);
    Append16(z.bytes, 0);
    Append16(z.bytes, 0);
    Append32(z.bytes, e.external);
    Append32(z.bytes, z.localOffsets[i]);
    AppendText(z.bytes, e.name);
  }
  z.endOffset = static_cast<uint32_t>(z.bytes.size());
  Append32(z.bytes, 0x06054B50);
  Append16(z.bytes, 0);
  Append16(z.bytes, 0);
  Append16(z.bytes, static_cast<uint16_t>(entries.size()));
  Append16(z.bytes, static_cast<uint16_t>(entries.size()));
  Append32(z.bytes, z.endOffset - z.centralOffset);
  Append32(z.bytes, z.centralOffset);
  Append16(z.bytes, static_cast<uint16_t>(comment.size()));
  AppendText(z.bytes, comment);
  return z;
}

void RestateEntry(BuiltZip& z, std::size_t entry, uint32_t crc, uint32_t uncompressedSize) {
  for (uint32_t header : {z.localOffsets[entry] + 14, z.centralOffsets[entry] + 16}) {
    Put32(z.bytes, header, crc);
    Put32(z.bytes, header + 8, uncompressedSize);
  }
}

int Shell(const std::string& command) {
  int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

void WriteSourceTree(const std::string& dir, const std::vector<SourceFile>& files) {
  for (const SourceFile& f : files) {
    std::filesystem::path p = std::filesystem::path(dir) / f.name;
    std::filesystem::create_directories(p.parent_path());
    WriteFileBytes(p.string(), f.data);
  }
}

::testing::AssertionResult SameTree(const std::string& dir, const std::vector<SourceFile>& files) {
  for (const SourceFile& f : files) {
    std::string path = dir + f.name;
    if (!PathExists(path)) return ::testing::AssertionFailure() << "missing " << path;
    if (ReadFileBytes(path) != f.data) return ::testing::AssertionFailure() << "different bytes in " << path;
  }
  return ::testing::AssertionSuccess();
}

bool LibzipWrite(const std::string& archive, const std::string& dir, const std::vector<SourceFile>& files,
                 bool deflate) {
  int error = 0;
  zip_t* z = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (z == nullptr) return false;
  bool ok = true;
  for (const SourceFile& f : files) {
    zip_source_t* src = zip_source_file(z, (dir + f.name).c_str(), 0, -1);
    zip_int64_t index = src == nullptr ? -1 : zip_file_add(z, f.name.c_str(), src, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      if (src != nullptr) zip_source_free(src);
      ok = false;
      break;
    }
    zip_set_file_compression(z, static_cast<zip_uint64_t>(index), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
  }
  if (zip_close(z) != 0) {
    zip_discard(z);
    ok = false;
  }
  return ok;
}

}  // namespace marbloom::test
