// A desktop downloads from the sample server, which signs with its demo key,
// and publishes its download area with mirror --out; nginx serves that
// folder to other desktops, the sample server as their second server.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_test_support.h"
#include "download/download_test_support.h"

namespace marbloom::test {
namespace {

const std::string kDemoKey = std::string(MARBLOOM_SOURCE_DIR) + "/tools/samplegen/demo-key/";

struct Desktop {
  TempDir dir;
  std::string cli = BuiltProgram("src/cli/marbloom-cli") + " -C " + dir.path() + " ";
  int Run(const std::string& args) const { return RunCommand(cli + args + " >/dev/null 2>&1").exitCode; }
  int Set(const std::string& settings) const { return Run("settings set VIPDOC=" + dir.path() + "hist/ " + settings); }
  bool Converted() const {
    const std::string lday = dir.path() + "hist/sz/lday/";
    return std::filesystem::exists(lday) && !std::filesystem::is_empty(lday);
  }
  std::string Log() const { return RunCommand("cat " + dir.path() + "logs/*.log").out; }
};

TEST(CliMirrorThreaded, AMirrorOfADownloadAreaServesWhatThePublisherSigned) {
  if (!NginxServer::Available() || !MinisignSigner::Available()) GTEST_SKIP() << "nginx or minisign is not installed";
  TempDir cache, mirror;
  const int port = FreeLoopbackPort();
  ChildProgram sampled;
  ASSERT_TRUE(sampled.Start({BuiltProgram("tools/samplegen/marbloom-sampled"), "--port", std::to_string(port), "--securities", "40", "--cache",
                             cache.path(), "--sign", kDemoKey + "minisign.key"}, port));
  const std::string upstream = "http://127.0.0.1:" + std::to_string(port) + "/";
  const std::string demoKey = RunCommand("sed -n 2p " + kDemoKey + "minisign.pub").out;
  const std::string range = " --from 20220509 --to 20220510";
  Desktop publisher;
  ASSERT_EQ(publisher.Set("DOMAIN=" + upstream + " TRUSTKEYS=" + demoKey), 0);
  ASSERT_EQ(publisher.Run("download daily --no-convert" + range), 0);
  ASSERT_EQ(publisher.Run("mirror --out " + mirror.path() + range), 0);
  ASSERT_EQ(publisher.Run("archive prune --keep-days 1"), 0);  // the mirror keeps what it serves
  EXPECT_FALSE(PathExists(publisher.dir.path() + "down/dayzip/20220509.zip"));
  NginxServer nginx;
  ASSERT_TRUE(nginx.Start(mirror.path()));

  MinisignSigner stranger;
  const struct { const char* name; bool tamper; std::string keys; int exitCode; const char* from; } rows[] = {
      {"the mirror serves", false, demoKey, 0, "mirror"},
      {"a changed archive is taken from upstream", true, demoKey, 0, "upstream"},
      {"an untrusted key refuses both", false, stranger.publicKey(), 1, ""},
  };
  for (const auto& row : rows) {
    if (row.tamper) {
      std::vector<uint8_t> zip = ReadFileBytes(mirror.path() + "daily/20220510.zip");
      zip[zip.size() / 2] ^= 0x20;
      WriteFileBytes(mirror.path() + "daily/20220510.zip", zip);
    }
    Desktop desktop;
    ASSERT_EQ(desktop.Set("DOMAIN=" + nginx.baseUrl() + " 'MIRRORS=" + upstream + "' TRUSTKEYS=" + row.keys), 0);
    EXPECT_EQ(desktop.Run("download daily" + range), row.exitCode) << row.name;
    const std::string log = desktop.Log();
    const std::string from = std::string(row.from) == "mirror" ? nginx.baseUrl() : upstream;
    EXPECT_EQ(log.find("20220510.zip来自服务器" + from) != std::string::npos, *row.from != '\0') << row.name << log;
    EXPECT_EQ(log.find("服务器" + nginx.baseUrl() + "未能提供20220510.zip") != std::string::npos, row.tamper) << row.name;
    EXPECT_EQ(desktop.Converted(), row.exitCode == 0) << row.name;
    EXPECT_EQ(PathExists(desktop.dir.path() + "down/dayzip/20220510.zip"), row.exitCode == 0) << row.name;
  }
}

}  // namespace
}  // namespace marbloom::test
