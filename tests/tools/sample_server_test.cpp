// The sample archive server answering real HTTP requests (libcurl), and the
// two commands run as programs.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "sample_server.h"
#include "samplegen.h"
#include "support/temp_dir.h"

extern char** environ;

namespace marbloom::sample {
namespace {

struct Reply {
  long status = 0;
  curl_off_t contentLength = -1;
  std::string body;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

Reply Fetch(int port, const std::string& path, bool credentials = true, const char* password = kServerPassword) {
  Reply reply;
  CURL* curl = curl_easy_init();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  if (credentials) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, kServerUser);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password);
  }
  if (curl_easy_perform(curl) == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &reply.contentLength);
  }
  curl_easy_cleanup(curl);
  return reply;
}

// A connection to the server on the loopback interface; -1 when refused.
int ConnectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

class SampleServerThreaded : public ::testing::Test {
 protected:
  void StartServer(const std::string& staticDir = {}, int workers = kServerWorkers) {
    ServerOptions options;
    options.port = 0;
    options.workers = workers;
    options.headDeadlineSeconds = 1;
    options.sample = SampleOptions{4, 300, false};
    options.cacheDir = cache_.path();
    options.staticDir = staticDir;
    options.today = [] { return 20220510; };
    options.log = nullptr;
    server_ = std::make_unique<SampleServer>(options);
    ASSERT_TRUE(server_->Start());
    port_ = server_->port();
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }
  test::TempDir cache_;
  std::unique_ptr<SampleServer> server_;
  int port_ = 0;
};

TEST_F(SampleServerThreaded, ServesArchivesWithTheirLength) {
  StartServer();
  const SampleOptions sample{4, 300, false};
  test::TempDir expected;
  ASSERT_TRUE(WriteConfigArchive(expected.path()));
  ASSERT_TRUE(WriteDailyArchiveZip(20220505, sample, expected.path() + "d/"));
  ASSERT_TRUE(WriteTickArchiveZip(20220510, sample, expected.path() + "t/"));
  const std::string daily = std::string("/") + kDailyArchivePath, tick = std::string("/") + kTickArchivePath;
  const struct {
    std::string path;
    std::string file;
  } cases[] = {{"/downit.zip", expected.path() + "downit.zip"},
               {daily + "20220505.zip", expected.path() + "d/20220505.zip"},
               {tick + "20220510.zip", expected.path() + "t/20220510.zip"},
               {daily + "20220505.zip", expected.path() + "d/20220505.zip"}};  // from the cache
  for (const auto& c : cases) {
    const Reply r = Fetch(port_, c.path);
    const std::vector<uint8_t> want = test::ReadFileBytes(c.file);
    EXPECT_EQ(r.status, 200) << c.path;
    EXPECT_EQ(r.contentLength, static_cast<curl_off_t>(want.size())) << c.path;
    EXPECT_EQ(std::vector<uint8_t>(r.body.begin(), r.body.end()), want) << c.path;
  }
}

TEST_F(SampleServerThreaded, DemandsCredentials) {
  StartServer();
  EXPECT_EQ(Fetch(port_, "/downit.zip", false).status, 401);
  EXPECT_EQ(Fetch(port_, "/daily/20220505.zip", true, "wrong").status, 401);
  EXPECT_EQ(Fetch(port_, "/nothing", false).status, 401);
}

TEST_F(SampleServerThreaded, AnswersNotFoundForDaysWithoutArchives) {
  StartServer();
  const std::string daily = std::string("/") + kDailyArchivePath, tick = std::string("/") + kTickArchivePath;
  const std::string paths[] = {daily + "20220507.zip", tick + "20220508.zip", daily + "20220429.zip",
                               tick + "20220511.zip",  daily + "20220230.zip", daily + "2022050a.zip",
                               "/weekly/20220505.zip", "/",                    daily + "../downit.zip"};
  for (const std::string& path : paths) EXPECT_EQ(Fetch(port_, path).status, 404) << path;
  EXPECT_FALSE(test::PathExists(cache_.path() + "seed4-300/daily/20220507.zip"));
}

TEST_F(SampleServerThreaded, StaticModeServesAFolderAndNothingOutside) {
  test::TempDir site;
  std::filesystem::create_directories(site.path() + "hq");
  test::WriteFileBytes(site.path() + "hq/20220505.zip", {1, 2, 3, 4, 5});
  test::WriteFileBytes(cache_.path() + "secret", {9});
  StartServer(site.path());
  const Reply r = Fetch(port_, "/hq/20220505.zip");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.contentLength, 5);
  EXPECT_EQ(r.body, std::string("\1\2\3\4\5"));
  EXPECT_EQ(Fetch(port_, "/hq/20220506.zip").status, 404);
  EXPECT_EQ(Fetch(port_, "/hq").status, 404);
  EXPECT_EQ(server_->Resolve("/../secret").status, 404);
  EXPECT_EQ(server_->Resolve("/hq//20220505.zip").status, 404);
}

// Ten times as many clients as workers trickle their request headers, one
// byte at a time: the other clients are served meanwhile, and the slow ones
// are dropped once their headers are overdue.
TEST_F(SampleServerThreaded, ClientsTricklingTheirHeadersDoNotStarveTheOthers) {
  StartServer({}, 4);
  constexpr int kSlowClients = 40;
  std::vector<int> slow;
  for (int i = 0; i < kSlowClients; ++i) {
    const int fd = ConnectTo(port_);
    ASSERT_GE(fd, 0);
    const char start[] = "GET /downit.zip HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    ASSERT_EQ(::send(fd, start, sizeof start - 1, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof start - 1));
    slow.push_back(fd);
  }
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    while (!stop) {
      for (int fd : slow) ::send(fd, "x", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  const Reply reply = Fetch(port_, "/downit.zip");  // connected after every slow client
  EXPECT_EQ(reply.status, 200);
  for (int fd : slow) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    EXPECT_TRUE(::poll(&p, 1, 20000) == 1 && ::recv(fd, &byte, 1, 0) <= 0);
  }
  stop = true;
  trickle.join();
  for (int fd : slow) ::close(fd);
}

// The commands, run as programs.
const std::string kToolDir = std::string(MARBLOOM_BINARY_DIR) + "/tools/samplegen/";

TEST(SampleCommands, DayWritesTheSevenFiles) {
  test::TempDir out;
  const std::string command = kToolDir + "marbloom-samplegen day --date 2022-05-05 --securities 200 --out '" +
                              out.path() + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const char* name : {"sz220505.cod", "sz220505.md1", "sh220505.cod", "sh220505.md1", "bj220505.cod",
                           "bj220505.md1", "20220505.htc"}) {
    EXPECT_TRUE(test::PathExists(out.path() + name)) << name;
  }
  const std::string bad = kToolDir + "marbloom-samplegen day --date 20221345 --out '" + out.path() + "' 2>/dev/null";
  EXPECT_NE(std::system(bad.c_str()), 0);
}

// Into a data tree, each file lands where the conversions read it, with the
// same bytes as in a plain folder.
TEST(SampleCommands, DayWritesIntoADataTree) {
  test::TempDir out;
  const DataLayout layout({}, out.path() + "hist/");
  const std::string day = kToolDir + "marbloom-samplegen day --date 20220505 --securities 200 ";
  ASSERT_EQ(std::system((day + "--tree '" + layout.HistoryDir() + "' 2>/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((day + "--out '" + out.path() + "flat/' 2>/dev/null").c_str()), 0);
  std::vector<std::string> files = {layout.TickArchiveFile(20220505)};
  for (int market = 0; market < 3; ++market) {
    files.push_back(layout.CodeListFile(market, 20220505));
    files.push_back(layout.QuoteFile(market, 20220505));
  }
  for (const std::string& file : files) {
    const std::string flat = out.path() + "flat/" + std::filesystem::path(file).filename().string();
    EXPECT_EQ(test::ReadFileBytes(file), test::ReadFileBytes(flat)) << file;
    EXPECT_FALSE(test::ReadFileBytes(file).empty()) << file;
  }
  const std::string both = day + "--tree '" + layout.HistoryDir() + "' --out '" + out.path() + "' 2>/dev/null";
  EXPECT_NE(std::system(both.c_str()), 0);
}

// A loopback port that nothing listens on right now.
int FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 18650;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

TEST(SampleCommandsThreaded, ServerStopsCleanlyOnSigterm) {
  test::TempDir cache;
  const std::string program = kToolDir + "marbloom-sampled";
  const int portNumber = FreeLoopbackPort();
  const std::string port = std::to_string(portNumber);
  const std::string cacheDir = cache.path();
  const char* argv[] = {program.c_str(), "--port", port.c_str(), "--securities", "100",
                        "--cache", cacheDir.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  long status = 0;
  for (int i = 0; i < 100 && status == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    status = Fetch(portNumber, "/downit.zip").status;
  }
  EXPECT_EQ(status, 200);
  EXPECT_EQ(Fetch(portNumber, "/downit.zip", false).status, 401);
  kill(pid, SIGTERM);
  int wstatus = 0;
  ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
  EXPECT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
}

}  // namespace
}  // namespace marbloom::sample
