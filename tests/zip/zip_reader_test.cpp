#include "zip/zip_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

#include <zlib.h>

#include "zip/zip_test_support.h"
#include "support/temp_dir.h"

namespace marbloom::test {
namespace {

// Info-ZIP zip 3.0, "zip -X -0": greeting.txt = "hello, zip\n", made on Unix,
// mode 0644, 2022-05-05 09:30:14.
const Bytes kInfoZipStored = {
    0x50, 0x4b, 0x03, 0x04, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc7, 0x4b, 0xa5, 0x54, 0x1b, 0x38, 0x72,
    0xcb, 0x0b, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00, 0x67, 0x72, 0x65, 0x65,
    0x74, 0x69, 0x6e, 0x67, 0x2e, 0x74, 0x78, 0x74, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x2c, 0x20, 0x7a, 0x69,
    0x70, 0x0a, 0x50, 0x4b, 0x01, 0x02, 0x1e, 0x03, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc7, 0x4b, 0xa5,
    0x54, 0x1b, 0x38, 0x72, 0xcb, 0x0b, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xa4, 0x81, 0x00, 0x00, 0x00, 0x00, 0x67, 0x72, 0x65,
    0x65, 0x74, 0x69, 0x6e, 0x67, 0x2e, 0x74, 0x78, 0x74, 0x50, 0x4b, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x01, 0x00, 0x3a, 0x00, 0x00, 0x00, 0x35, 0x00, 0x00, 0x00, 0x00, 0x00};

std::string Save(const TempDir& dir, const Bytes& bytes, const std::string& name = "t.zip") {
  WriteFileBytes(dir.path() + name, bytes);
  return dir.path() + name;
}

// Reads the current entry to its end in pieces of `piece` bytes.
Bytes ReadEntry(ZipReader& reader, uint32_t piece = 4096) {
  Bytes out, buffer(piece);
  reader.OpenCurrentEntry();
  for (;;) {
    uint32_t n = reader.ReadCurrentEntry(buffer.data(), piece);
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    if (n < piece) return out;
  }
}

std::string EntryName(ZipReader& reader) {
  ZipEntryInfo info;
  reader.GetCurrentEntryInfo(&info, nullptr, 0);
  std::string name(info.nameLength + 1, '\0');
  reader.GetCurrentEntryInfo(nullptr, name.data(), info.nameLength + 1);
  name.resize(info.nameLength);
  return name;
}

int CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ZipError& e) {
    return e.code();
  }
  return 0;
}

TEST(ZipReader, DecodesInfoZipHeadersFieldByField) {
  TempDir dir;
  ZipReader reader(RealFileSystem(), Save(dir, kInfoZipStored));
  EXPECT_EQ(reader.EntryCount(), 1u);
  EXPECT_EQ(reader.BytesBeforeArchive(), 0u);
  ZipEntryInfo info;
  reader.GetCurrentEntryInfo(&info, nullptr, 0);
  EXPECT_EQ(info.versionMadeBy, 0x031Eu);
  EXPECT_EQ(info.versionNeeded, 10u);
  EXPECT_EQ(info.flag, 0u);
  EXPECT_EQ(info.method, 0u);
  EXPECT_EQ(info.dosDateTime, 0x54A54BC7u);
  EXPECT_EQ(info.crc32, 0xCB72381Bu);
  EXPECT_EQ(info.compressedSize, 11u);
  EXPECT_EQ(info.uncompressedSize, 11u);
  EXPECT_EQ(info.nameLength, 12u);
  EXPECT_EQ(info.externalAttributes, 0x81A40000u);
  EXPECT_EQ(info.modificationTime, DosDateTimeToTime(0x54A54BC7));
  EXPECT_EQ(EntryName(reader), "greeting.txt");
  Bytes text = ReadEntry(reader);
  EXPECT_EQ(std::string(text.begin(), text.end()), "hello, zip\n");
  EXPECT_FALSE(reader.GoToNextEntry());
  reader.Close();
  EXPECT_TRUE(reader.IsClosed());
}

TEST(ZipReader, EntryTimeIsLocalTime) {
  std::time_t t = DosDateTimeToTime(0x54A54BC7);
  std::tm tm{};
  ASSERT_NE(localtime_r(&t, &tm), nullptr);
  EXPECT_EQ(tm.tm_year + 1900, 2022);
  EXPECT_EQ(tm.tm_mon + 1, 5);
  EXPECT_EQ(tm.tm_mday, 5);
  EXPECT_EQ(tm.tm_hour, 9);
  EXPECT_EQ(tm.tm_min, 30);
  EXPECT_EQ(tm.tm_sec, 14);
}

TEST(ZipReader, ShortNameBufferGetsExactlyItsSizeWithoutTerminator) {
  TempDir dir;
  ZipReader reader(RealFileSystem(), Save(dir, kInfoZipStored));
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  reader.GetCurrentEntryInfo(nullptr, buffer, 5);
  EXPECT_EQ(std::string(buffer, 8), "greet###");
  reader.GetCurrentEntryInfo(nullptr, buffer, 8);
  EXPECT_EQ(std::string(buffer, 8), "greeting");
}

TEST(ZipReader, PrefixShiftsEveryOffset) {
  TempDir dir;
  Bytes bytes(777 + kInfoZipStored.size(), 0x90);
  std::memcpy(bytes.data() + 777, kInfoZipStored.data(), kInfoZipStored.size());
  ZipReader reader(RealFileSystem(), Save(dir, bytes));
  EXPECT_EQ(reader.BytesBeforeArchive(), 777u);
  Bytes text = ReadEntry(reader);
  EXPECT_EQ(std::string(text.begin(), text.end()), "hello, zip\n");
}

TEST(ZipReader, TwoArchivesBackToBackReadTheLastOne) {
  TempDir dir;
  BuiltZip second = BuildZip({{"second.txt", {'2'}}});
  Bytes bytes = kInfoZipStored;
  bytes.insert(bytes.end(), second.bytes.begin(), second.bytes.end());
  ZipReader reader(RealFileSystem(), Save(dir, bytes));
  EXPECT_EQ(reader.BytesBeforeArchive(), kInfoZipStored.size());
  EXPECT_EQ(EntryName(reader), "second.txt");
}

// The scan steps back 1024 bytes at a time in windows of 1028: signatures at
// every position around a window edge, and at the far end of the reach.
TEST(ZipReader, FindsTheEndRecordAcrossWindowEdges) {
  TempDir dir;
  for (std::size_t comment : {0, 1, 997, 998, 999, 1000, 1001, 1002, 1003, 2022, 2023, 2024, 2025, 65513}) {
    BuiltZip z = BuildZip({{"a", {'a'}}}, std::string(comment, 'c'));
    ZipReader reader(RealFileSystem(), Save(dir, z.bytes));
    EXPECT_EQ(EntryName(reader), "a") << comment;
  }
}

TEST(ZipReader, WalksManyEntriesWithCommentAndDescriptors) {
  TempDir dir;
  std::vector<BuildEntry> entries;
  for (int i = 0; i < 40; ++i) {
    BuildEntry e{"dir" + std::to_string(i % 3) + "/file" + std::to_string(i), PatternBytes(100 * i, i, i % 2)};
    e.method = i % 2 ? 8 : 0;
    e.flag = i % 4 == 1 ? 8 : 0;
    entries.push_back(e);
  }
  ZipReader reader(RealFileSystem(), Save(dir, BuildZip(entries, std::string(3000, 'c')).bytes));
  reader.GoToFirstEntry();
  int i = 0;
  do {
    EXPECT_EQ(EntryName(reader), entries[i].name);
    EXPECT_EQ(ReadEntry(reader, 1000), entries[i].data) << entries[i].name;
    ++i;
  } while (reader.GoToNextEntry());
  EXPECT_EQ(i, 40);
  reader.Close();
}

TEST(ZipReader, ReadBeyondTheEntryDeliversWhatIsLeftThenZero) {
  TempDir dir;
  Bytes data = PatternBytes(8192, 3, true);
  for (uint16_t method : {0, 8}) {
    ZipReader reader(RealFileSystem(), Save(dir, BuildZip({{"x", data, method}}).bytes));
    reader.OpenCurrentEntry();
    Bytes buffer(10000);
    EXPECT_EQ(reader.ReadCurrentEntry(buffer.data(), 10000), 8192u);
    EXPECT_EQ(reader.ReadCurrentEntry(buffer.data(), 10000), 0u);
    EXPECT_EQ(reader.ReadCurrentEntry(buffer.data(), 0), 0u);
    reader.Close();
  }
}

TEST(ZipReader, DeflatedStreamShorterThanStatedSizeIsNotChecked) {
  TempDir dir;
  BuiltZip z = BuildZip({{"x", {'h', 'i'}, 8}});
  for (uint32_t at : {z.localOffsets[0] + 22, z.centralOffset + 24}) Put32(z.bytes, at, 10);
  ZipReader reader(RealFileSystem(), Save(dir, z.bytes));
  EXPECT_EQ(ReadEntry(reader), (Bytes{'h', 'i'}));
  EXPECT_NO_THROW(reader.Close());
}

TEST(ZipReader, DecompressorBlocksAreTrackedAndReleased) {
  TempDir dir;
  ZipReader reader(RealFileSystem(), Save(dir, BuildZip({{"x", PatternBytes(50000, 1, true), 8}}).bytes));
  reader.OpenCurrentEntry();
  char buffer[100];
  reader.ReadCurrentEntry(buffer, sizeof buffer);
  EXPECT_GT(reader.TrackedBlockCount(), 0u);
  reader.CloseCurrentEntry();  // not read to its end: no CRC check
  EXPECT_EQ(reader.TrackedBlockCount(), 0u);
  reader.OpenCurrentEntry();
  reader.ReadCurrentEntry(buffer, sizeof buffer);
  // Destroyed with the entry open: the guard frees what zlib holds.
}

TEST(ZipReader, OperationsOutOfOrder) {
  TempDir dir;
  ZipReader reader(RealFileSystem(), Save(dir, kInfoZipStored));
  char buffer[4];
  EXPECT_EQ(CodeOf([&] { reader.ReadCurrentEntry(buffer, 4); }), kZipOutOfOrder);
  EXPECT_NO_THROW(reader.CloseCurrentEntry());
}

TEST(ZipReader, MissingFileIsAFileError) {
  EXPECT_THROW(ZipReader(RealFileSystem(), "/nonexistent/dir/a.zip"), ZipFileError);
}

// ---------------------------------------------------------------------------
// Damage at chosen offsets. Stage: where the fault surfaces.

enum class Stage { kOpen, kOpenEntry, kRead, kClose };

struct Damage {
  const char* name;
  std::function<void(BuiltZip&)> apply;
  Stage stage;
  int code;
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class ZipDamage : public ::testing::TestWithParam<Damage> {};

const Bytes kData = PatternBytes(20000, 9, true);

BuiltZip DamageTarget(const std::string& name) {
  uint16_t method = name.find("deflated") != std::string::npos ? 8 : 0;
  return BuildZip({{"first.bin", kData, method}, {"second.bin", {'x'}}});
}

TEST_P(ZipDamage, SurfacesWithTheExpectedCode) {
  const Damage& d = GetParam();
  TempDir dir;
  BuiltZip z = DamageTarget(d.name);
  d.apply(z);
  std::string path = Save(dir, z.bytes);
  Stage reached = Stage::kOpen;
  int code = CodeOf([&] {
    ZipReader reader(RealFileSystem(), path);
    reached = Stage::kOpenEntry;
    reader.OpenCurrentEntry();
    reached = Stage::kRead;
    Bytes buffer(4096);
    while (reader.ReadCurrentEntry(buffer.data(), 4096) == 4096) {
    }
    reached = Stage::kClose;
    reader.Close();
  });
  EXPECT_EQ(code, d.code);
  EXPECT_EQ(static_cast<int>(reached), static_cast<int>(d.stage));
}

const Damage kDamages[] = {
    {"four_byte_file", [](BuiltZip& z) { z.bytes.resize(4); }, Stage::kOpen, kZipBadArchive},
    {"truncated_half", [](BuiltZip& z) { z.bytes.resize(z.bytes.size() / 2); }, Stage::kOpen, kZipBadArchive},
    {"end_record_cut", [](BuiltZip& z) { z.bytes.resize(z.bytes.size() - 4); }, Stage::kOpen, kZipBadArchive},
    {"end_beyond_reach",
     [](BuiltZip& z) {
       Put16(z.bytes, z.endOffset + 20, 65535);
       z.bytes.resize(z.bytes.size() + 65535, 'c');
     },
     Stage::kOpen, kZipBadArchive},
    {"disk_number", [](BuiltZip& z) { Put16(z.bytes, z.endOffset + 4, 1); }, Stage::kOpen, kZipBadArchive},
    {"central_disk", [](BuiltZip& z) { Put16(z.bytes, z.endOffset + 6, 1); }, Stage::kOpen, kZipBadArchive},
    {"entry_totals_differ", [](BuiltZip& z) { Put16(z.bytes, z.endOffset + 10, 3); }, Stage::kOpen,
     kZipBadArchive},
    {"central_past_end", [](BuiltZip& z) { Put32(z.bytes, z.endOffset + 12, z.endOffset); }, Stage::kOpen,
     kZipBadArchive},
    {"central_signature", [](BuiltZip& z) { z.bytes[z.centralOffset + 3] ^= 0xFF; }, Stage::kOpen,
     kZipBadArchive},
    {"local_signature", [](BuiltZip& z) { z.bytes[0] = 'Q'; }, Stage::kOpenEntry, kZipBadArchive},
    {"local_method", [](BuiltZip& z) { Put16(z.bytes, 8, 8); }, Stage::kOpenEntry, kZipBadArchive},
    {"method_12",
     [](BuiltZip& z) {
       Put16(z.bytes, 8, 12);
       Put16(z.bytes, z.centralOffset + 10, 12);
     },
     Stage::kOpenEntry, kZipBadArchive},
    {"local_crc", [](BuiltZip& z) { z.bytes[14] ^= 1; }, Stage::kOpenEntry, kZipBadArchive},
    {"local_size", [](BuiltZip& z) { z.bytes[22] ^= 1; }, Stage::kOpenEntry, kZipBadArchive},
    {"local_name_length", [](BuiltZip& z) { Put16(z.bytes, 26, 8); }, Stage::kOpenEntry, kZipBadArchive},
    {"encrypted", [](BuiltZip& z) { Put16(z.bytes, z.centralOffset + 8, 1); }, Stage::kOpenEntry,
     kZipBadArchive},
    {"stored_data_byte", [](BuiltZip& z) { z.bytes[z.dataOffsets[0] + 777] ^= 0x20; }, Stage::kClose,
     kZipBadCrc},
    {"stored_crc_in_both_headers",
     [](BuiltZip& z) {
       z.bytes[14] ^= 1;
       z.bytes[z.centralOffset + 16] ^= 1;
     },
     Stage::kClose, kZipBadCrc},
    {"deflated_garbage",
     [](BuiltZip& z) {
       for (int i = 0; i < 8; ++i) z.bytes[z.dataOffsets[0] + i] = 0xFF;
     },
     Stage::kRead, Z_DATA_ERROR},
    {"deflated_cut_short",
     [](BuiltZip& z) {
       uint32_t size = z.dataOffsets[1] - 30 - 10 - z.dataOffsets[0];
       for (uint32_t at : {18u, z.centralOffset + 20}) Put32(z.bytes, at, size / 2);
     },
     Stage::kRead, Z_BUF_ERROR},
    {"stored_smaller_than_stated",
     [](BuiltZip& z) {
       for (uint32_t at : {18u, z.centralOffset + 20}) Put32(z.bytes, at, 5000);
     },
     Stage::kRead, kZipBadArchive},
    {"stored_huge_stated_size",
     [](BuiltZip& z) {
       for (uint32_t at : {18u, 22u, z.centralOffset + 20, z.centralOffset + 24}) Put32(z.bytes, at, 0xFFFFFFF0u);
     },
     Stage::kRead, kZipBadArchive},
    {"local_offset_past_end", [](BuiltZip& z) { Put32(z.bytes, z.centralOffset + 42, 0x7FFFFFF0u); },
     Stage::kOpenEntry, kZipBadArchive},
};

INSTANTIATE_TEST_SUITE_P(Table, ZipDamage, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZipReader, DescriptorEntryChecksTheCentralCrc) {
  TempDir dir;
  BuildEntry e{"d.bin", kData, 8, 8};
  BuiltZip z = BuildZip({e});
  ZipReader good(RealFileSystem(), Save(dir, z.bytes, "good.zip"));
  EXPECT_EQ(ReadEntry(good), kData);
  EXPECT_NO_THROW(good.Close());
  z.bytes[z.centralOffset + 16] ^= 1;
  ZipReader bad(RealFileSystem(), Save(dir, z.bytes, "bad.zip"));
  ReadEntry(bad);
  EXPECT_EQ(CodeOf([&] { bad.Close(); }), kZipBadCrc);
  EXPECT_TRUE(bad.IsClosed());
}

TEST(ZipReader, CrcOfAWholeMultipleOfThePieceIsCheckedWhenTheNextEntryOpens) {
  TempDir dir;
  BuiltZip z = BuildZip({{"a", PatternBytes(8192, 2, false)}, {"b", {'b'}}});
  z.bytes[z.dataOffsets[0] + 8191] ^= 1;
  ZipReader reader(RealFileSystem(), Save(dir, z.bytes));
  reader.OpenCurrentEntry();
  char buffer[4096];
  EXPECT_EQ(reader.ReadCurrentEntry(buffer, 4096), 4096u);
  EXPECT_EQ(reader.ReadCurrentEntry(buffer, 4096), 4096u);
  ASSERT_TRUE(reader.GoToNextEntry());
  EXPECT_EQ(CodeOf([&] { reader.OpenCurrentEntry(); }), kZipBadCrc);
}

TEST(ZipReader, EmptyArchiveIsRejectedAtOpening) {
  TempDir dir;
  std::string path = dir.path() + "empty.zip";
  ASSERT_EQ(Shell("python3 -c \"import zipfile; zipfile.ZipFile('" + path + "', 'w').close()\""), 0);
  EXPECT_EQ(CodeOf([&] { ZipReader reader(RealFileSystem(), path); }), kZipBadArchive);
}

TEST(ZipReader, ErrorCarriesCodeAndPath) {
  TempDir dir;
  std::string path = Save(dir, Bytes(100, 0));
  try {
    ZipReader reader(RealFileSystem(), path);
    FAIL();
  } catch (const ZipError& e) {
    EXPECT_EQ(e.code(), kZipBadArchive);
    EXPECT_EQ(e.archivePath(), path);
  }
}

// Hostile archives: claims that the data cannot back must end in an error,
// quickly, with nothing but the fixed buffers in use.
TEST(ZipHostile, DeflateStreamThatNeverEndsStopsWhenItsDataRunsOut) {
  TempDir dir;
  Bytes emptyBlocks;  // non-final stored blocks of length 0: input used, nothing produced
  for (int i = 0; i < 20000; ++i) emptyBlocks.insert(emptyBlocks.end(), {0x00, 0x00, 0x00, 0xFF, 0xFF});
  BuiltZip z = BuildZip({{"x", emptyBlocks}});
  for (uint32_t at : {8u, z.centralOffset + 10}) Put16(z.bytes, at, 8);
  for (uint32_t at : {22u, z.centralOffset + 24}) Put32(z.bytes, at, 0xFFFFFFF0u);
  ZipReader reader(RealFileSystem(), Save(dir, z.bytes));
  reader.OpenCurrentEntry();
  char buffer[4096];
  EXPECT_EQ(CodeOf([&] { reader.ReadCurrentEntry(buffer, sizeof buffer); }), Z_BUF_ERROR);
}

TEST(ZipHostile, ArchiveCutAtAnyLengthIsABadArchive) {
  TempDir dir;
  BuiltZip z = BuildZip({{"s.bin", PatternBytes(100, 1, false)}, {"d.bin", PatternBytes(1000, 2, true), 8, 8}});
  for (std::size_t length = 0; length < z.bytes.size(); ++length) {
    Bytes cut(z.bytes.begin(), z.bytes.begin() + static_cast<std::ptrdiff_t>(length));
    std::string path = Save(dir, cut);
    EXPECT_EQ(CodeOf([&] {
                ZipReader reader(RealFileSystem(), path);
                do ReadEntry(reader);
                while (reader.GoToNextEntry());
                reader.Close();
              }),
              kZipBadArchive)
        << length;
  }
}

TEST(ZipHostile, EntryCountBeyondTheCentralDirectoryEndsAtTheFirstMissingHeader) {
  TempDir dir;
  BuiltZip z = BuildZip({{"a", {'a'}}, {"b", {'b'}}});
  for (uint32_t at : {z.endOffset + 8, z.endOffset + 10}) Put16(z.bytes, at, 65535);
  ZipReader reader(RealFileSystem(), Save(dir, z.bytes));
  EXPECT_EQ(reader.EntryCount(), 65535u);
  EXPECT_TRUE(reader.GoToNextEntry());
  EXPECT_EQ(EntryName(reader), "b");
  EXPECT_EQ(CodeOf([&] { reader.GoToNextEntry(); }), kZipBadArchive);  // the end record is no central header
}

TEST(ZipHostile, NameReachingPastTheFileIsABadArchive) {
  TempDir dir;
  BuiltZip z = BuildZip({{"a", {'a'}}});
  Put16(z.bytes, z.centralOffset + 28, 65535);
  ZipReader reader(RealFileSystem(), Save(dir, z.bytes));
  std::vector<char> name(65537);
  EXPECT_EQ(CodeOf([&] { reader.GetCurrentEntryInfo(nullptr, name.data(), 65536); }), kZipBadArchive);
}

TEST(ZipHostile, FifoInPlaceOfTheArchiveDoesNotBlock) {
  TempDir dir;
  std::string fifo = dir.path() + "pipe.zip";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(CodeOf([&] { ZipReader reader(RealFileSystem(), fifo); }), kZipBadArchive);
}

TEST(ZipEntryMode, DosAndUnixAttributes) {
  ZipEntryInfo dos;
  EXPECT_EQ(EntryFileMode(dos, 0100644), 0644u);
  dos.externalAttributes = 0x01;
  EXPECT_EQ(EntryFileMode(dos, 0100664), 0444u);
  ZipEntryInfo unixInfo;
  unixInfo.versionMadeBy = 0x031E;
  unixInfo.externalAttributes = 0104777u << 16;  // setuid, writable by all: the creation mode stays
  EXPECT_EQ(EntryFileMode(unixInfo, 0644), 0644u);
}

}  // namespace
}  // namespace marbloom::test
