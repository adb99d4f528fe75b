#include "download/archive_unpack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "common/shared_state.h"
#include "zip/zip_reader.h"
#include "zip/zip_test_support.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace marbloom::test {
namespace {

// The unpacking step as the download client once saw it: 1 done, -1 otherwise.
int UnpackArchive(const DataLayout& layout, const std::string& fileName, DownloadKind type) {
  return UnpackDownloadedArchive(layout, fileName, type).done() ? 1 : -1;
}

const std::vector<SourceFile> kTree = {
    {"sz220505.cod", PatternBytes(15000, 1, true)},
    {"sz220505.md1", PatternBytes(70000, 2, false)},
    {"deep/er/nested.bin", PatternBytes(4096 * 3, 3, false)},
    {"four.bin", {1, 2, 3, 4}},
    {"empty.txt", {}},
};

std::string LogText() { return test::ReadRunLog(); }

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0;
}

// ---------------------------------------------------------------------------
// Archives of the independent writers, unpacked and compared byte for byte.

struct Writer {
  const char* name;
  // Writes `archive` from the files under `src` (the kTree names).
  std::function<bool(const std::string& archive, const std::string& src)> write;
};

void PrintTo(const Writer& w, std::ostream* os) { *os << w.name; }

std::string Names() {
  std::string names;
  for (const SourceFile& f : kTree) names += " '" + f.name + "'";
  return names;
}

bool InDir(const std::string& dir, const std::string& command) { return Shell("cd '" + dir + "' && " + command) == 0; }

const Writer kWriters[] = {
    {"infozip_deflated", [](auto& a, auto& s) { return InDir(s, "zip -q -9 '" + a + "'" + Names()); }},
    {"infozip_stored_with_comment",
     [](auto& a, auto& s) { return InDir(s, "echo a comment | zip -q -0 -z '" + a + "'" + Names()); }},
    {"infozip_streamed_descriptors",
     [](auto& a, auto& s) { return InDir(s, "zip -q -fd - " + Names() + " | cat > '" + a + "'"); }},
    {"infozip_recursive_with_dirs", [](auto& a, auto& s) { return InDir(s, "zip -q -r '" + a + "' ."); }},
    {"bsdtar_deflated", [](auto& a, auto& s) { return InDir(s, "bsdtar --format zip -cf '" + a + "'" + Names()); }},
    {"bsdtar_stored",
     [](auto& a, auto& s) {
       return InDir(s, "bsdtar --format zip --options zip:compression=store -cf '" + a + "'" + Names());
     }},
    {"bsdtar_streamed", [](auto& a, auto& s) { return InDir(s, "bsdtar --format zip -cf - " + Names() + " | cat > '" + a + "'"); }},
    {"python_deflated",
     [](auto& a, auto& s) {
       return InDir(s, "python3 -c \"import zipfile,sys; z=zipfile.ZipFile('" + a +
                           "','w',zipfile.ZIP_DEFLATED); [z.write(n) for n in sys.argv[1:]]; z.comment=b'x'*300; "
                           "z.close()\"" + Names());
     }},
    {"python_stored_with_prefix",
     [](auto& a, auto& s) {
       return InDir(s, "python3 -c \"import zipfile,sys; z=zipfile.ZipFile('/dev/stdout','w'); "
                       "[z.write(n) for n in sys.argv[1:]]; z.close()\"" + Names() +
                           " > x.zip && (head -c 5000 /dev/urandom; cat x.zip) > '" + a + "' && rm x.zip");
     }},
    {"libzip_deflated", [](auto& a, auto& s) { return LibzipWrite(a, s, kTree, true); }},
    {"libzip_stored", [](auto& a, auto& s) { return LibzipWrite(a, s, kTree, false); }},
};

class ZipWriters : public ::testing::TestWithParam<Writer> {};

TEST_P(ZipWriters, ExtractedBytesEqualTheOriginals) {
  TempDir dir;
  std::string src = dir.path() + "src/", out = dir.path() + "out/", archive = dir.path() + "a.zip";
  WriteSourceTree(src, kTree);
  ASSERT_TRUE(GetParam().write(archive, src));
  std::string reason;
  ASSERT_TRUE(ExtractArchive(RealFileSystem(), archive, out, &reason).done()) << reason;
  EXPECT_TRUE(SameTree(out, kTree));
}

INSTANTIATE_TEST_SUITE_P(Table, ZipWriters, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Names

struct NameCase {
  const char* name;
  bool unsafe;
};

class ZipEntryNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ZipEntryNames, UnsafeNamesAreRecognised) {
  EXPECT_EQ(IsUnsafeEntryName(GetParam().name), GetParam().unsafe) << GetParam().name;
}

const NameCase kNames[] = {
    {"a.txt", false},      {"a/b/c.txt", false},  {"a\\b\\c.txt", false}, {"a..b", false},
    {"..a/b", false},      {"a/./b", false},      {"../x", true},         {"..", true},
    {"a/../../x", true},   {"a\\..\\..\\x", true}, {"a/b/..", true},      {"/etc/passwd", true},
    {"\\x", true},         {"C:x", true},         {"c:\\x", true},        {"dir/..\\x", true},
};

INSTANTIATE_TEST_SUITE_P(Table, ZipEntryNames, ::testing::ValuesIn(kNames));

// The whole archive is refused before anything is written.
TEST(ZipExtraction, ClimbingNamesFailAndWriteNothing) {
  TestTree tree;
  for (const char* bad : {"../escape.txt", "sub/../../escape.txt", "/tmp/marbloom-escape.txt", "..\\escape.txt",
                          "C:escape.txt"}) {
    std::string archive = tree.root() + "bad.zip";
    WriteFileBytes(archive, BuildZip({{"ok.txt", {'o'}}, {bad, {'x'}}}).bytes);
    std::string out = tree.root() + "dest/inner/";
    ExtractRules rules;
    rules.reporter = &tree.reports();
    EXPECT_FALSE(ExtractArchive(RealFileSystem(), archive, out, nullptr, rules).done()) << bad;
    EXPECT_FALSE(PathExists(out + "ok.txt"));
    EXPECT_FALSE(PathExists(tree.root() + "dest/escape.txt")) << bad;
    EXPECT_FALSE(PathExists("/tmp/marbloom-escape.txt"));
    EXPECT_NE(LogText().find(std::string("解压失败，请检查Zip文件! ") + bad), std::string::npos) << bad;
  }
}

TEST(ZipExtraction, DirectoriesComeFromBothSeparators) {
  TempDir dir;
  std::string archive = dir.path() + "a.zip";
  WriteFileBytes(archive, BuildZip({{"only/dir/", {}},
                                    {"one\\two\\three.txt", {'3'}},
                                    {"mix\\ed/path/f.txt", {'m'}},
                                    {"a/b/c/d.txt", {'d'}}})
                              .bytes);
  ASSERT_TRUE(ExtractArchive(RealFileSystem(), archive, dir.path() + "out").done());
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "out/only/dir"));
  EXPECT_EQ(ReadFileText(dir.path() + "out/one/two/three.txt"), "3");
  EXPECT_EQ(ReadFileText(dir.path() + "out/mix/ed/path/f.txt"), "m");
  EXPECT_EQ(ReadFileText(dir.path() + "out/a/b/c/d.txt"), "d");
}

TEST(ZipExtraction, GbkNamesBecomeUtf8AndFlaggedNamesStay) {
  TempDir dir;
  std::string archive = dir.path() + "a.zip";
  BuildEntry gbk{"\xC8\xD5\xCF\xDF.txt", {'g'}};  // 日线 in GBK
  BuildEntry flagged{"分笔.txt", {'f'}, 0, 0x800};
  WriteFileBytes(archive, BuildZip({gbk, flagged}).bytes);
  ASSERT_TRUE(ExtractArchive(RealFileSystem(), archive, dir.path() + "out/").done());
  EXPECT_EQ(ReadFileText(dir.path() + "out/日线.txt"), "g");
  EXPECT_EQ(ReadFileText(dir.path() + "out/分笔.txt"), "f");
}

TEST(ZipExtraction, ReadOnlyEntryUnpacksTwice) {
  TempDir dir;
  std::string archive = dir.path() + "a.zip";
  BuildEntry ro{"ro.txt", {'r'}};
  ro.external = 0x01;
  BuildEntry unixMode{"mode.txt", {'u'}};  // setuid and writable by all: the archive's mode is not taken
  unixMode.madeBy = 0x031E;
  unixMode.external = 0104777u << 16;
  WriteFileBytes(archive, BuildZip({ro, unixMode}).bytes);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(ExtractArchive(RealFileSystem(), archive, dir.path() + "out/").done()) << run;
    EXPECT_EQ(ModeOf(dir.path() + "out/ro.txt") & 0222, 0u);
    EXPECT_EQ(ModeOf(dir.path() + "out/mode.txt"), 0666u & ~mask);
  }
  EXPECT_EQ(ReadFileText(dir.path() + "out/ro.txt"), "r");
}

TEST(ZipExtraction, FileGetsTheEntryTime) {
  TempDir dir;
  std::string archive = dir.path() + "a.zip";
  WriteFileBytes(archive, BuildZip({{"t.txt", {'t'}}}).bytes);
  ASSERT_TRUE(ExtractArchive(RealFileSystem(), archive, dir.path() + "out/").done());
  struct stat st {};
  ASSERT_EQ(::stat((dir.path() + "out/t.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, DosDateTimeToTime(0x54A54BC7));
}

TEST(ZipExtraction, UnwritableEntryFailsTheExtractionButTheOthersAreWritten) {
  TempDir dir;
  std::string archive = dir.path() + "a.zip";
  WriteFileBytes(archive, BuildZip({{"blocked", {'b'}}, {"after.txt", {'a'}}}).bytes);
  std::filesystem::create_directories(dir.path() + "out/blocked");
  std::string reason;
  EXPECT_FALSE(ExtractArchive(RealFileSystem(), archive, dir.path() + "out/", &reason).done());
  EXPECT_NE(reason.find("blocked"), std::string::npos) << reason;
  EXPECT_EQ(ReadFileText(dir.path() + "out/after.txt"), "a");
}

TEST(ZipExtraction, MissingArchiveFails) {
  TempDir dir;
  std::string reason;
  EXPECT_FALSE(ExtractArchive(RealFileSystem(), dir.path() + "none.zip", dir.path() + "out/", &reason).done());
  EXPECT_NE(reason.find("none.zip"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The unpacking step by download type

TEST(ZipUnpack, DailyArchiveGoesToRefmhq) {
  TestTree tree;
  WriteFileBytes(tree.layout().DayZipDir() + "20220505.zip", BuildZip({{"sz220505.cod", {'c'}}}).bytes);
  EXPECT_EQ(UnpackArchive(tree.layout(), "20220505.zip", DownloadKind::kDaily), 1);
  EXPECT_EQ(ReadFileText(tree.historyDir() + "refmhq/sz220505.cod"), "c");
  EXPECT_EQ(test::StatusText(), "下载成功!");
  std::string log = LogText();
  EXPECT_NE(log.find("准备解压文件 " + tree.layout().DayZipDir() + "20220505.zip"), std::string::npos);
  EXPECT_NE(log.find("下载成功!"), std::string::npos);
  EXPECT_TRUE(PathExists(tree.layout().DayZipDir() + "20220505.zip"));  // the archive stays
}

TEST(ZipUnpack, TickArchiveGoesToNewdatetick) {
  TestTree tree;
  Bytes htc = PatternBytes(100000, 5, false);
  WriteFileBytes(tree.layout().TickZipDir() + "20220505.zip", BuildZip({{"20220505.htc", htc, 8}}).bytes);
  EXPECT_EQ(UnpackArchive(tree.layout(), "20220505.zip", DownloadKind::kTick), 1);
  EXPECT_EQ(ReadFileBytes(tree.historyDir() + "newdatetick/20220505.htc"), htc);
}

// Nothing but the configuration comes out of the configuration archive: every
// other name is logged and leaves the work directory as it was.
TEST(ZipUnpack, ConfigArchiveOverwritesTheOlderConfigurationAndNothingElse) {
  TestTree tree;
  const std::string work = tree.workDir();
  WriteFileBytes(work + "downit5.cfg", Bytes(500, 'o'));
  WriteFileBytes(work + "marbloom.ini", {'i'});
  std::vector<BuildEntry> entries{{"downit5.cfg", {'n', 'e', 'w'}}};
  const char* others[] = {"marbloom.ini", ".ssh/authorized_keys", "down/dayzip/20220505.zip/", "logs/x.log",
                          "../up.txt", "sub/downit5.cfg", "DOWNIT5.CFG", "e\x1b[2Jsc"};
  for (const char* name : others) entries.push_back({name, {'x'}});
  WriteFileBytes(tree.layout().DownDir() + "downit.zip", BuildZip(entries).bytes);
  EXPECT_EQ(UnpackArchive(tree.layout(), "downit.zip", DownloadKind::kConfig), 1);
  EXPECT_EQ(ReadFileText(work + "downit5.cfg"), "new");
  EXPECT_EQ(ReadFileText(work + "marbloom.ini"), "i");
  for (const char* name : others) {
    EXPECT_FALSE(PathExists(work + name) && std::string(name) != "marbloom.ini") << name;
    EXPECT_NE(LogText().find(PrintableText(std::string("已忽略压缩包中的") + name)), std::string::npos) << name;
  }
}

TEST(ZipUnpack, MissingArchiveAsksForADownload) {
  TestTree tree;
  EXPECT_EQ(UnpackArchive(tree.layout(), "20220505.zip", DownloadKind::kDaily), -1);
  EXPECT_EQ(test::StatusText(), "文件不存在，请先下载!");
  EXPECT_NE(LogText().find(tree.layout().DayZipDir() + "20220505.zip 文件不存在，请先下载!"), std::string::npos);
}

TEST(ZipUnpack, FifoInPlaceOfTheArchiveFailsWithoutBlocking) {
  TestTree tree;
  std::string fifo = tree.layout().DayZipDir() + "20220505.zip";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(UnpackArchive(tree.layout(), "20220505.zip", DownloadKind::kDaily), -1);
  EXPECT_EQ(test::StatusText(), "文件不存在，请先下载!");
  EXPECT_FALSE(ExtractArchive(RealFileSystem(), fifo, tree.root() + "out/").done());
}

TEST(ZipUnpack, BadCrcInTheLastEntryFailsAfterTheOthersAreWritten) {
  TestTree tree;
  BuiltZip z = BuildZip({{"sz220505.cod", {'c'}}, {"sz220505.md1", PatternBytes(5000, 4, true)}});
  z.bytes[z.dataOffsets[1] + 10] ^= 1;
  WriteFileBytes(tree.layout().DayZipDir() + "20220505.zip", z.bytes);
  EXPECT_EQ(UnpackArchive(tree.layout(), "20220505.zip", DownloadKind::kDaily), -1);
  EXPECT_EQ(test::StatusText(), "解压失败，请检查Zip文件!");
  EXPECT_EQ(ReadFileText(tree.historyDir() + "refmhq/sz220505.cod"), "c");
  EXPECT_FALSE(PathExists(tree.historyDir() + "refmhq/sz220505.md1"));
}

// A day archive is refused before anything is written when it holds no data
// of its day, or an entry larger than any real file of its kind.
TEST(ZipUnpack, DayArchivesWithoutTheirDayOrBeyondRealSizesWriteNothing) {
  const struct {
    DownloadKind type;
    std::vector<BuildEntry> entries;
    const char* status;
  } rows[] = {
      {DownloadKind::kDaily, {{"sz220506.cod", {'c'}}, {"sz220506.md1", {'q'}}}, "下载文件中没有20220505的数据!"},
      {DownloadKind::kDaily, {{"readme.txt", {'r'}}, {"SZ220505.COD", {'c'}}}, "下载文件中没有20220505的数据!"},
      {DownloadKind::kTick, {{"20220506.htc", {'t'}}, {"sub/20220505.htc", {'t'}}},
       "下载文件中没有20220505的数据!"},
      // Honest zeros, a little more than the bound of a code list.
      {DownloadKind::kDaily, {{"sz220505.md1", {'q'}}, {"sz220505.cod", Bytes((32u << 20) + 1, 0), 8}},
       kUnpackFailedMessage},
  };
  for (const auto& row : rows) {
    TestTree tree;
    const DataLayout layout = tree.layout();
    WriteFileBytes(ArchiveDownloadDir(layout, row.type) + "20220505.zip", BuildZip(row.entries).bytes);
    EXPECT_EQ(UnpackArchive(layout, "20220505.zip", row.type), -1) << row.entries[0].name;
    EXPECT_EQ(test::StatusText(), row.status);
    EXPECT_TRUE(std::filesystem::is_empty(ArchiveDestinationDir(layout, row.type))) << row.entries[0].name;
  }
}

TEST(ZipUnpack, DamagedArchiveFails) {
  TestTree tree;
  WriteFileBytes(tree.layout().TickZipDir() + "20220506.zip", PatternBytes(3000, 8, false));
  EXPECT_EQ(UnpackArchive(tree.layout(), "20220506.zip", DownloadKind::kTick), -1);
  EXPECT_EQ(test::StatusText(), "解压失败，请检查Zip文件!");
}

TEST(ZipUnpack, PlacesByType) {
  TestTree tree;
  EXPECT_EQ(ArchiveDownloadDir(tree.layout(), DownloadKind::kConfig), tree.layout().DownDir());
  EXPECT_EQ(ArchiveDestinationDir(tree.layout(), DownloadKind::kConfig), tree.workDir());
  EXPECT_EQ(ArchiveDownloadDir(tree.layout(), DownloadKind::kDaily), tree.layout().DayZipDir());
  EXPECT_EQ(ArchiveDestinationDir(tree.layout(), DownloadKind::kDaily), tree.historyDir() + "refmhq/");
  EXPECT_EQ(ArchiveDownloadDir(tree.layout(), DownloadKind::kTick), tree.layout().TickZipDir());
  EXPECT_EQ(ArchiveDestinationDir(tree.layout(), DownloadKind::kTick), tree.historyDir() + "newdatetick/");
}

// ---------------------------------------------------------------------------
// Damaged entries and full disks: the file an entry would replace stays as it
// was, whether in the tree or in the work directory, and no temporary is left.
// The archive holds that entry, then `fillers` entries of one byte.

uint32_t CrcOf(const Bytes& data, std::size_t length) {
  return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(length)));
}

const Bytes kNewData = PatternBytes(5000, 11, true);

struct EntryDamage {
  const char* name;
  uint16_t method;
  std::function<void(BuiltZip&)> apply;
  int64_t fileLimit = 0;  // non-zero: no room after this many bytes, as on a full disk
  int fillers = 0;
  const char* status = kUnpackFailedMessage;  // what the status line holds
};

void PrintTo(const EntryDamage& d, std::ostream* os) { *os << d.name; }

const EntryDamage kEntryDamages[] = {
    // Good entries after the damaged one are not written either.
    {"bad_crc", 0, [](BuiltZip& z) { z.bytes[z.dataOffsets[0] + 4000] ^= 1; }, 0, 2},
    // Holds 5000 bytes but claims a million.
    {"stated_size_larger_than_the_data", 8, [](BuiltZip& z) { RestateEntry(z, 0, CrcOf(kNewData, 5000), 1000000); }},
    // Claims its first 100 bytes, with their CRC, but its data goes on.
    {"deflated_data_beyond_the_stated_size", 8, [](BuiltZip& z) { RestateEntry(z, 0, CrcOf(kNewData, 100), 100); },
     0, 2},
    {"stored_data_beyond_the_stated_size", 0, [](BuiltZip& z) { RestateEntry(z, 0, CrcOf(kNewData, 100), 100); }},
    {"disk_full", 0, [](BuiltZip&) {}, 3000},
    // States 10 TB in all, no entry beyond its kind's bound: refused before
    // anything is written (a day archive only: the configuration archive
    // gives one entry, which cannot state that much).
    {"larger_than_the_free_space", 0,
     [](BuiltZip& z) {
       for (std::size_t i = 0; i < z.localOffsets.size(); ++i) RestateEntry(z, i, 0, i == 0 ? 100u << 20 : 2u << 30);
     },
     0, 4999, "磁盘空间不足"},
};

class ZipEntryDamage : public ::testing::TestWithParam<std::tuple<EntryDamage, DownloadKind>> {};

TEST_P(ZipEntryDamage, LeavesTheFileItWouldReplace) {
  const auto& [damage, type] = GetParam();
  TestTree tree;
  const DataLayout layout = tree.layout();
  const std::string name = type == DownloadKind::kConfig ? "downit5.cfg" : "sz220505.md1";
  if (damage.fillers > 100 && type == DownloadKind::kConfig) GTEST_SKIP();
  const std::string target = ArchiveDestinationDir(layout, type) + name;
  WriteFileBytes(target, {'o', 'l', 'd'});
  std::vector<BuildEntry> entries{{name, kNewData, damage.method}};
  for (int i = 0; i < damage.fillers; ++i) entries.push_back({"f" + std::to_string(i) + ".htc", {'x'}});
  BuiltZip z = BuildZip(entries);
  damage.apply(z);
  WriteFileBytes(ArchiveDownloadDir(layout, type) + "a.zip", z.bytes);
  FaultFileSystem files;
  if (damage.fileLimit > 0) files.NoSpaceAfter(damage.fileLimit);
  EXPECT_EQ(UnpackArchive(layout.WithFiles(files), "a.zip", type), -1);
  EXPECT_NE(test::StatusText().find(damage.status), std::string::npos) << test::StatusText();
  EXPECT_EQ(ReadFileText(target), "old");
  EXPECT_FALSE(PathExists(target + ".part"));
  EXPECT_FALSE(PathExists(ArchiveDestinationDir(layout, type) + "f0.htc"));
}

INSTANTIATE_TEST_SUITE_P(Table, ZipEntryDamage,
                         ::testing::Combine(::testing::ValuesIn(kEntryDamages),
                                            ::testing::Values(DownloadKind::kDaily, DownloadKind::kConfig)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == DownloadKind::kConfig ? "_config" : "_daily");
                         });

// Unpacking into the tree is a writing operation: refused while another holds the tree.
TEST(ZipUnpack, TakesTheTreeWriterLock) {
  TestTree tree;
  const DataLayout layout = tree.layout();
  WriteFileBytes(layout.DayZipDir() + "20220505.zip", BuildZip({{"sz220505.cod", {'n'}}}).bytes);
  WriteFileBytes(layout.DailySourceDir() + "sz220505.cod", {'o'});
  const File other = RealFileSystem().Open(layout.WriterLockFile(), OpenMode::kAppend);
  ASSERT_EQ(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(UnpackDownloadedArchive(layout, "20220505.zip", DownloadKind::kDaily).outcome, Outcome::kBusy);
  EXPECT_EQ(ReadFileText(layout.DailySourceDir() + "sz220505.cod"), "o");
}

}  // namespace
}  // namespace marbloom::test
