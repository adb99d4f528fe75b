// marbloom-cli run as a program while it converts a big range: Ctrl-C and
// SIGTERM stop the engine at its next item with its own message and exit 3;
// progress is one line per status on a pipe and one redrawn line on a
// terminal. The tests wait for the program's own output before they act.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "common/calendar.h"
#include "daily/daily_record.h"
#include "download/download_test_support.h"
#include "samplegen.h"

namespace marbloom::test {
namespace {

const char* const kCancelled = "日线转档被取消!";
const char* const kEngineCancelled = "本次转档日线操作被取消!";
const char* const kConverting = "正在转换深圳20220502日四代日线数据...";
constexpr int kFirstDay = 20220502;
constexpr int kLastDay = 20220527;  // 20 weekdays
constexpr int kWaitMs = 120000;     // only a guard against a hung program

// A started program: its id and the read ends of what it writes.
struct Child {
  pid_t pid = -1;
  std::vector<int> fds;  // stdout and stderr, or the terminal
  std::vector<std::string> text;
};

// Starts `args` writing to two pipes (stdout, stderr), or to one terminal.
Child Spawn(std::vector<std::string> args, bool terminal = false, bool ignoreInterrupt = false) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Child child;
  int out[2], err[2];
  if (terminal) {
    winsize size{24, 100, 0, 0};
    int master = -1;
    child.pid = ::forkpty(&master, nullptr, nullptr, &size);
    child.fds = {master};
  } else {
    if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
    child.pid = ::fork();
    if (child.pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      ::close(out[0]), ::close(err[0]), ::close(out[1]), ::close(err[1]);
    }
    child.fds = {out[0], err[0]};
  }
  if (child.pid == 0) {
    // A suite started in the background hands its children SIGINT ignored:
    // each child starts from the defaults unless the test says otherwise.
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, ignoreInterrupt ? SIG_IGN : SIG_DFL);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (!terminal) ::close(out[1]), ::close(err[1]);
  child.text.resize(child.fds.size());
  return child;
}

// Reads whatever the child writes until `done` holds or every stream ended
// (EOF, or EIO once a terminal's last writer is gone). False if neither
// happened within the guard time.
template <class Done>
bool ReadUntil(Child& child, Done done) {
  while (!done(child)) {
    std::vector<pollfd> fds;
    for (int fd : child.fds) fds.push_back({fd, POLLIN, 0});
    bool open = false;
    for (const pollfd& p : fds) open = open || p.fd >= 0;
    if (!open) return true;
    if (::poll(fds.data(), fds.size(), kWaitMs) <= 0) return false;
    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        child.text[k].append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(child.fds[k]);
        child.fds[k] = -1;
      }
    }
  }
  return true;
}

int WaitForExit(Child& child) {
  EXPECT_TRUE(ReadUntil(child, [](const Child&) { return false; }));
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class CliCancelThreaded : public CliTree {
 protected:
  // One set of sources, the size of the whole market, linked into each test's tree.
  static void SetUpTestSuite() {
    sample::SampleOptions options = sample::SampleOptions::Quick(5);
    options.securities = sample::kFullMarketSecurities;
    sources_ = new TempDir;
    for (int date = kFirstDay; date <= kLastDay; date = NextTradingDay(date))
      ASSERT_TRUE(sample::WriteDailySources(date, options, sources_->path()));
    code_ = sample::MarketQuotes(kFirstDay, 0, options).front().code;
  }
  static void TearDownTestSuite() {
    delete sources_;
    sources_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CliTree::SetUp());
    const std::string dir = Layout().DailySourceDir();
    std::filesystem::create_directories(dir);
    for (const auto& entry : std::filesystem::directory_iterator(sources_->path()))
      std::filesystem::create_symlink(entry.path(), dir + entry.path().filename().string());
  }
  std::vector<std::string> Convert(int last = kLastDay) const {
    return {Program(), "-C", temp_.path(), "daily", "convert", "--from", std::to_string(kFirstDay), "--to",
            std::to_string(last)};
  }
  // The days the conversion stored for a security that trades every day.
  std::size_t StoredDays() const { return ReadFileBytes(Layout().DailyFile(0, code_)).size() / sizeof(DailyRecord); }

  static TempDir* sources_;
  static std::string code_;
};

TempDir* CliCancelThreaded::sources_ = nullptr;
std::string CliCancelThreaded::code_;

struct SignalCase {
  const char* name;
  std::vector<int> signals;  // sent one after the other once the first status line is out
  bool engineMessage;        // the engine's cancel message is the final status
};

class CliCancelSignalThreaded : public CliCancelThreaded, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(CliCancelSignalThreaded, StopsAtTheNextItemWithExitThree) {
  Child child = Spawn(Convert());
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(ReadUntil(child, [](const Child& c) { return c.text[1].find(kConverting) != std::string::npos; }));
  for (int signal : GetParam().signals) ::kill(child.pid, signal);
  EXPECT_EQ(WaitForExit(child), 3);
  if (GetParam().engineMessage) {
    EXPECT_EQ(child.text[0], std::string(kCancelled) + "\n");
    EXPECT_NE(child.text[1].find(std::string("\n") + kEngineCancelled + "\n"), std::string::npos) << child.text[1];
    EXPECT_NE(ReadRunLog().find(kEngineCancelled), std::string::npos);
  }
  EXPECT_LT(StoredDays(), 20u);
  // On a pipe every status is a line of its own, never redrawn.
  EXPECT_EQ(child.text[1].rfind(std::string(kConverting) + "\n", 0), 0u) << child.text[1];
  EXPECT_EQ(child.text[1].find('\r'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliCancelSignalThreaded,
                         ::testing::Values(SignalCase{"Interrupt", {SIGINT}, true},
                                           SignalCase{"Terminate", {SIGTERM}, true},
                                           SignalCase{"InterruptTwice", {SIGINT, SIGINT}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C typed on the terminal: the line discipline sends SIGINT to the
// program, which was drawing one line in place.
TEST_F(CliCancelThreaded, CtrlCOnATerminalCancelsARunDrawnInPlace) {
  Child child = Spawn(Convert(), true);
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(ReadUntil(child, [](const Child& c) {
    return c.text[0].find("\r[#") != std::string::npos && c.text[0].find("% 正在转换") != std::string::npos;
  }));
  ASSERT_EQ(::write(child.fds[0], "\x03", 1), 1);
  EXPECT_EQ(WaitForExit(child), 3);
  const std::string& screen = child.text[0];
  EXPECT_NE(screen.find(std::string(kCancelled) + "\r\n"), std::string::npos) << screen;
  // Statuses are redrawn over each other: none ends a line.
  EXPECT_EQ(screen.find("数据...\r\n"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("数据...\n"), std::string::npos) << screen;
  EXPECT_LT(StoredDays(), 20u);
}

// Started with SIGINT ignored, as a script's background job is, the program
// leaves it ignored and converts the whole day.
TEST_F(CliCancelThreaded, AnInterruptIgnoredAtStartStaysIgnored) {
  Child child = Spawn(Convert(kFirstDay), false, true);
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(ReadUntil(child, [](const Child& c) { return c.text[1].find(kConverting) != std::string::npos; }));
  ::kill(child.pid, SIGINT);
  EXPECT_EQ(WaitForExit(child), 0);
  EXPECT_EQ(child.text[0], "日线转档完成!\n");
  EXPECT_EQ(StoredDays(), 1u);
}

// Quiet: nothing on stderr when all goes well, the final status on stdout.
TEST_F(CliCancelThreaded, QuietRunPrintsOnlyTheFinalStatus) {
  const CommandResult r = RunCommand(Program() + " --quiet -C " + temp_.path() + " daily convert --from " +
                                     std::to_string(kFirstDay) + " --to " + std::to_string(kFirstDay) + " 2>" +
                                     temp_.path() + "stderr");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "日线转档完成!\n");
  EXPECT_EQ(ReadFileText(temp_.path() + "stderr"), "");
}

// SIGINT while the second day downloads: the loop ends after that day, and
// no conversion starts on the days obtained.
using CliDownloadCancelThreaded = CliTree;

TEST_F(CliDownloadCancelThreaded, AnInterruptWhileDownloadingAlsoStopsTheConversion) {
  TempDir site;
  sample::SampleOptions options = sample::SampleOptions::Quick(5);
  options.securities = sample::kFullMarketSecurities;
  ASSERT_TRUE(sample::WriteConfigArchive(site.path()));
  const int last = 20220513;
  for (int date = kFirstDay; date <= last; date = NextTradingDay(date))
    ASSERT_TRUE(sample::WriteDailyArchiveZip(date, options, site.path() + sample::kDailyArchivePath));
  // The second day's archive waits at the server until the interrupt is sent.
  TempDir gate;
  const std::string hold = gate.path() + "20220503.zip.hold";
  WriteFileBytes(hold, {});
  const int port = FreeLoopbackPort();
  ChildProgram server;
  ASSERT_TRUE(server.Start({BuiltProgram("tools/samplegen/marbloom-sampled"), "--port", std::to_string(port),
                            "--static", site.path(), "--hold", gate.path()},
                           port));
  ASSERT_EQ(Cli("settings set DOMAIN=http://127.0.0.1:" + std::to_string(port) + "/").exitCode, 0);
  Child child = Spawn({Program(), "-C", temp_.path(), "download", "daily", "--from", std::to_string(kFirstDay), "--to",
                       std::to_string(last)});
  ASSERT_GT(child.pid, 0);
  // The first day is in once the second one is asked for.
  ASSERT_TRUE(ReadUntil(child, [](const Child& c) { return c.text[1].find("正在下载20220503") != std::string::npos; }));
  ::kill(child.pid, SIGINT);
  std::filesystem::remove(hold);
  EXPECT_EQ(WaitForExit(child), 3);
  EXPECT_EQ(child.text[0], "下载被取消!\n");
  EXPECT_TRUE(PathExists(Layout().CodeListFile(0, kFirstDay)));
  std::size_t records = 0;
  for (int market = 0; market < 3; ++market)
    for (const auto& file : std::filesystem::directory_iterator(Layout().DailyDir(market)))
      records += std::filesystem::file_size(file.path()) / sizeof(DailyRecord);
  EXPECT_EQ(records, 0u);
}

}  // namespace
}  // namespace marbloom::test
