// marbloom-cli download against the sample server run as a program: the
// configuration, the page's refusals, and two weeks with a weekend and days
// the server lacks, converted from the first to the last day obtained.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "cli/cli_test_support.h"
#include "download/download_test_support.h"
#include "samplegen.h"

namespace marbloom::test {
namespace {

// Every path below `dir`, folders included, with its size and modification time.
auto EntriesBelow(const std::string& dir) {
  std::map<std::string, std::pair<std::uintmax_t, std::filesystem::file_time_type>> entries;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    entries[e.path().string()] = {e.is_regular_file() ? e.file_size() : 0, e.last_write_time()};
  return entries;
}

TEST(CliDownloadThreaded, TwoWeeksFromTheSampleServer) {
  TempDir root, site;
  const std::string history = root.path() + "vipdoc/";
  const sample::SampleOptions sample{5, 80, false};
  ASSERT_TRUE(sample::WriteServerTree(20220509, 20220520, sample, site.path()));
  // The server lacks a day inside the range and its last day, whose sources
  // already lie in the tree: only the first is inside the conversion's range.
  for (int date : {20220511, 20220520}) {
    std::filesystem::remove(site.path() + sample::kDailyArchivePath + sample::DayArchiveName(date));
    ASSERT_TRUE(sample::WriteDailySources(date, sample, history + "refmhq/"));
  }
  const int port = FreeLoopbackPort();
  ChildProgram server;
  ASSERT_TRUE(server.Start({BuiltProgram("tools/samplegen/marbloom-sampled"), "--port", std::to_string(port),
                            "--static", site.path()}, port));
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
  const std::string daily = base + sample::kDailyArchivePath;
  const std::string cli = BuiltProgram("src/cli/marbloom-cli") + " -C " + root.path() + " ";
  ASSERT_EQ(RunCommand(cli + "settings set DOMAIN=" + base + " VIPDOC=" + history + " 2>/dev/null").exitCode, 0);
  const struct { const char* args; int exitCode; std::string out, status; } rows[] = {
      {"config", 0, "PATH11=" + daily + "\nPATH12=" + base + sample::kTickArchivePath + "\n下载成功!\n", "下载配置文件..."},
      {"daily --from 2022-05-10 --to 2022-05-01", 2, "日期区间不合法!\n", ""},
      {"daily --from 2022-04-01 --to 2022-05-10", 2, "日期区间太长!\n", ""},
      {"daily --from 2022-05-07 --to 2022-05-08", 1, "下载完成!\n", "周末无数据."},
      {"daily --from 2022-05-07 --to 2022-05-20", 0, "下载完成! 共8天, 日线转档完成!\n", daily + "20220520.zip不存在!"},
      {"tick --from 20220509 --to 20220510 --no-convert", 0, "下载完成!\n", "正在下载20220510四代分笔数据文件..."},
  };
  for (const auto& row : rows) {
    const CommandResult r = RunCommand(cli + "download " + row.args + " 2>" + root.path() + "status");
    EXPECT_EQ(r.exitCode, row.exitCode) << row.args;
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), row.out.size())), row.out) << row.args;
    EXPECT_NE(ReadFileText(root.path() + "status").find(row.status), std::string::npos) << row.status;
  }
  std::set<uint32_t> dates;  // of every daily file
  for (const auto& file : std::filesystem::directory_iterator(history + "sz/lday/")) {
    const std::vector<uint8_t> records = ReadFileBytes(file.path());
    for (std::size_t at = 0; at + 32 <= records.size(); at += 32) {
      uint32_t date = 0;
      std::memcpy(&date, records.data() + at, sizeof date);
      dates.insert(date);
    }
  }
  EXPECT_EQ(dates, (std::set<uint32_t>{20220509, 20220510, 20220511, 20220512, 20220513, 20220516, 20220517,
                                       20220518, 20220519}));
  EXPECT_TRUE(PathExists(history + "newdatetick/20220510.htc"));
  // The catch-up after the tree's last day, 20220519: a dry run names the
  // next day and changes nothing on disk; the run fails on it (long past, none after), naming its URL.
  std::filesystem::remove_all(history + "bj/fzline");
  const auto tree = EntriesBelow(root.path());
  const CommandResult dry = RunCommand(cli + "update --dry-run --daily --to 20220520 2>/dev/null");
  EXPECT_TRUE(dry.exitCode == 0 && dry.out.find("20220520") != std::string::npos && EntriesBelow(root.path()) == tree);
  const CommandResult update = RunCommand(cli + "--quiet update --daily --to 20220520");
  EXPECT_TRUE(update.exitCode == 1 && update.out.find(daily + "20220520.zip") != std::string::npos) << update.out;
  EXPECT_NE(ReadFileText(root.path() + "update.ini").find("LAST=20220519"), std::string::npos);
}

}  // namespace
}  // namespace marbloom::test
