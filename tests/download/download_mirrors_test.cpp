// Download runs over two servers (nginx) with manifests signed by the
// minisign program: a server that is down or serves a changed archive is
// skipped for the next; an untrusted signature fails everywhere; a day every
// server lacks stays lacked.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "common/calendar.h"
#include "download/download_run.h"
#include "download/download_test_support.h"
#include "samplegen.h"

namespace marbloom::test {
namespace {

struct MirrorRow {
  const char* name;
  enum First { kServing, kDown, kTampered } first = kServing;
  bool signedByTrusted = true;  // else by a key the client does not trust
  bool keySet = true;
  bool holiday = false;         // neither server has 20220510
  Outcome outcome = Outcome::kDone;
  bool fromFirst = false;       // 20220509 came from the first server
};

class MirrorsThreaded : public ::testing::TestWithParam<MirrorRow> {};

// A server tree of 20220509..20220511 with its three folders signed.
void WriteSignedTree(const std::string& dir, const MinisignSigner& signer, bool holiday) {
  ASSERT_TRUE(sample::WriteServerTree(20220509, 20220511, sample::SampleOptions{7, 40, false}, dir));
  if (holiday)
    for (const char* folder : {sample::kDailyArchivePath, sample::kTickArchivePath})
      std::filesystem::remove(dir + folder + "20220510.zip");
  for (const std::string folder : {"", sample::kDailyArchivePath, sample::kTickArchivePath})
    ASSERT_TRUE(signer.SignFolder(dir + folder));
}

TEST_P(MirrorsThreaded, EachArchiveComesFromTheFirstServerThatGivesItVerified) {
  if (!NginxServer::Available() || !MinisignSigner::Available()) GTEST_SKIP() << "nginx or minisign is not installed";
  const MirrorRow& row = GetParam();
  TestTree tree;
  TempDir first, second;
  MinisignSigner trusted, other;
  const MinisignSigner& signer = row.signedByTrusted ? trusted : other;
  WriteSignedTree(first.path(), signer, row.holiday);
  WriteSignedTree(second.path(), signer, row.holiday);
  if (row.first == MirrorRow::kTampered) {  // one byte changed, the size kept, the manifest as it was
    std::vector<uint8_t> zip = ReadFileBytes(first.path() + "daily/20220509.zip");
    zip[zip.size() / 2] ^= 0x01;
    WriteFileBytes(first.path() + "daily/20220509.zip", zip);
  }
  NginxServer a, b;
  ASSERT_TRUE(b.Start(second.path()));
  std::string firstUrl = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/";
  if (row.first != MirrorRow::kDown) {
    ASSERT_TRUE(a.Start(first.path()));
    firstUrl = a.baseUrl();
  }
  DownloadServer server{firstUrl, kDefaultServerUser, kDefaultServerPassword};
  server.mirrors = {b.baseUrl()};
  if (row.keySet) server.trustedKeys = {*ParseMinisignKey(trusted.publicKey())};
  const std::string logBefore = ReadRunLog();
  DownloadRun run(DownloadRunSetup{tree.layout(), true, server, false, MinuteOptions{}, nullptr});
  run.Reset();
  const DownloadRunResult result =
      run.Run(DownloadRequest{DownloadKind::kDaily, LocalNoonOf(20220509), LocalNoonOf(20220511), true});

  EXPECT_EQ(result.outcome, row.outcome) << result.message;
  // An untrusted signature already refuses the configuration archive.
  ASSERT_EQ(result.days.size(), row.signedByTrusted ? 3u : 0u);
  if (row.signedByTrusted) {
    EXPECT_EQ(result.days[1].fetched.outcome, row.holiday ? Outcome::kNothingToDo : row.outcome);
  }
  const DataLayout layout = tree.layout();
  EXPECT_EQ(PathExists(layout.QuoteFile(0, 20220509)), row.outcome == Outcome::kDone);
  const std::string log = ReadRunLog().substr(logBefore.size());
  const std::string fromFirst = "20220509.zip来自服务器" + firstUrl;
  EXPECT_EQ(log.find("可信注释: test") != std::string::npos, row.keySet && row.signedByTrusted);
  EXPECT_EQ(log.find(fromFirst) != std::string::npos, row.fromFirst) << log;
  const bool skipped = row.first != MirrorRow::kServing || !row.signedByTrusted;
  EXPECT_EQ(log.find("服务器" + firstUrl + "未能提供") != std::string::npos, skipped) << log;
  EXPECT_EQ(log.find(kUnverifiedMessage) != std::string::npos, !row.keySet);
  // What a server gave and was not taken is not left in the download area.
  EXPECT_EQ(PathExists(layout.DayZipDir() + "20220509.zip"), row.outcome == Outcome::kDone);
  EXPECT_EQ(PathExists(layout.DayZipDir() + kManifestName), row.keySet && row.outcome == Outcome::kDone);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MirrorsThreaded,
    ::testing::Values(MirrorRow{"first_down", MirrorRow::kDown},
                      MirrorRow{"first_tampered", MirrorRow::kTampered},
                      MirrorRow{"untrusted_key", MirrorRow::kServing, false, true, false, Outcome::kFailed},
                      MirrorRow{"every_server_lacks_a_day", MirrorRow::kServing, true, true, true, Outcome::kDone, true},
                      MirrorRow{"no_key", MirrorRow::kServing, true, false, false, Outcome::kDone, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
