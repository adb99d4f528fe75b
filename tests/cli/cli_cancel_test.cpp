// marbloom-cli run as a program while it downloads from the sample server,
// which holds its answer for an archive the test names: Ctrl-C and SIGTERM
// sent while the answer is held stop the run with exit 3 and its cancel
// message, leaving the days obtained unconverted; progress is one line per
// status on a pipe and one redrawn line on a terminal. The tests act on the
// program's own output, never on time.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "daily/daily_record.h"
#include "download/download_client.h"
#include "download/download_test_support.h"
#include "samplegen.h"

namespace marbloom::test {
namespace {

constexpr int kFirstDay = 20220502, kHeldDay = 20220503, kLastDay = 20220504;
constexpr int kWaitMs = 120000;  // only a guard against a hung program

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

// Each test's work directory downloads a small market's three days from its
// own sample server.
class CliCancelThreaded : public CliTree {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CliTree::SetUp());
    ASSERT_TRUE(sample::WriteServerTree(kFirstDay, kLastDay, sample::SampleOptions{5, 80, false}, site_.path()));
    const int port = FreeLoopbackPort();
    ASSERT_TRUE(server_.Start({BuiltProgram("tools/samplegen/marbloom-sampled"), "--port", std::to_string(port),
                               "--static", site_.path(), "--hold", gate_.path()},
                              port));
    ASSERT_EQ(Cli("settings set DOMAIN=http://127.0.0.1:" + std::to_string(port) + "/").exitCode, 0);
  }
  // The server answers a request for `name` only once it stops; the client
  // gives that request up after its stall time, long after a test has acted.
  void Hold(const std::string& name) const { WriteFileBytes(gate_.path() + name + ".hold", {}); }
  std::vector<std::string> Download() const {
    return {Program(), "-C", temp_.path(), "download", "daily", "--from", std::to_string(kFirstDay), "--to",
            std::to_string(kLastDay)};
  }
  // The dates of every record of the three markets' daily files.
  std::set<uint32_t> StoredDates() const {
    std::set<uint32_t> dates;
    for (int market = 0; market < 3; ++market)
      for (const auto& file : std::filesystem::directory_iterator(Layout().DailyDir(market))) {
        const std::vector<uint8_t> bytes = ReadFileBytes(file.path());
        for (std::size_t at = 0; at + sizeof(DailyRecord) <= bytes.size(); at += sizeof(DailyRecord)) {
          DailyRecord record;
          std::memcpy(&record, bytes.data() + at, sizeof record);
          dates.insert(record.date);
        }
      }
    return dates;
  }

  TempDir site_, gate_;
  ChildProgram server_;
};

struct SignalCase {
  const char* name;
  std::vector<int> signals;  // sent one after the other while the second day is held
  bool ignoreInterrupt;      // started as a script's background job is, with SIGINT ignored
  bool cancelMessage;        // the run closes with its cancel message (a second signal ends it at once)
};

class CliCancelSignalThreaded : public CliCancelThreaded, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(CliCancelSignalThreaded, StopsTheRunWithExitThree) {
  const std::vector<int>& signals = GetParam().signals;
  Hold(sample::DayArchiveName(kHeldDay));
  Child child = Spawn(Download(), false, GetParam().ignoreInterrupt);
  ASSERT_GT(child.pid, 0);
  const std::string& err = child.text[1];
  // The held day's request is under way once, after the first line naming
  // that day, its transfer's status came as a line of its own; the program
  // then writes nothing more until a signal comes.
  const std::string connecting = "\n" + std::string(kConnectingMessage) + "\n";
  ASSERT_TRUE(ReadUntil(child, [&](const Child&) {
    const std::size_t at = err.find(std::to_string(kHeldDay));
    return at != std::string::npos && err.find(connecting, at) != std::string::npos;
  })) << err;
  for (std::size_t k = 0; k < signals.size(); ++k) {
    const auto lines = std::count(err.begin(), err.end(), '\n');
    ::kill(child.pid, signals[k]);
    // Two alike pending at once would be taken as one: the next goes once
    // the program has answered this one with a line.
    if (k + 1 < signals.size() && signals[k + 1] == signals[k]) {
      ASSERT_TRUE(ReadUntil(child, [&](const Child&) { return std::count(err.begin(), err.end(), '\n') > lines; }));
    }
  }
  EXPECT_EQ(WaitForExit(child), 3);
  if (GetParam().cancelMessage) {
    const std::string cancelled = kDownloadCancelledMessage;
    EXPECT_EQ(child.text[0], cancelled + "\n");
    EXPECT_NE(err.find("\n" + cancelled + "\n"), std::string::npos) << err;
    EXPECT_NE(ReadRunLog().find(cancelled), std::string::npos);
  }
  // The first day came, the held one and the next did not, and no conversion started.
  EXPECT_TRUE(PathExists(Layout().CodeListFile(0, kFirstDay)));
  for (int date : {kHeldDay, kLastDay}) EXPECT_FALSE(PathExists(Layout().CodeListFile(0, date))) << date;
  EXPECT_EQ(StoredDates(), std::set<uint32_t>{});
  // On a pipe statuses are never redrawn.
  EXPECT_EQ(err.find('\r'), std::string::npos);
}

// An ignored SIGINT counts for nothing: had the program taken it, the SIGTERM
// after it would be a second signal, which ends the program at once.
INSTANTIATE_TEST_SUITE_P(Signals, CliCancelSignalThreaded,
                         ::testing::Values(SignalCase{"Interrupt", {SIGINT}, false, true},
                                           SignalCase{"Terminate", {SIGTERM}, false, true},
                                           SignalCase{"InterruptTwice", {SIGINT, SIGINT}, false, false},
                                           SignalCase{"IgnoredInterrupt", {SIGINT, SIGTERM}, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C typed on the terminal: the line discipline sends SIGINT to the
// program, which was drawing one line in place. The answer for the
// configuration, the run's first request, is held: the first transfer status
// drawn is that of the request the program waits on.
TEST_F(CliCancelThreaded, CtrlCOnATerminalCancelsARunDrawnInPlace) {
  Hold(sample::kConfigArchiveName);
  Child child = Spawn(Download(), true);
  ASSERT_GT(child.pid, 0);
  const std::string& screen = child.text[0];
  const std::string drawn = std::string("% ") + kConnectingMessage;  // in the progress line
  ASSERT_TRUE(ReadUntil(child, [&](const Child&) { return screen.find(drawn) != std::string::npos; })) << screen;
  ASSERT_EQ(::write(child.fds[0], "\x03", 1), 1) << screen;
  EXPECT_EQ(WaitForExit(child), 3);
  EXPECT_NE(screen.find(std::string(kDownloadCancelledMessage) + "\r\n"), std::string::npos) << screen;
  // Statuses are drawn over each other: what stays on a line the terminal
  // ended (after its last carriage return) is never the progress line.
  for (std::size_t from = 0, end; (end = screen.find("\r\n", from)) != std::string::npos; from = end + 2) {
    const std::string line = screen.substr(from, end - from);
    EXPECT_FALSE(line.substr(line.rfind('\r') + 1).starts_with("[")) << screen;
  }
}

// Quiet, with nothing held: nothing on stderr, the final status alone on
// stdout, and every day converted.
TEST_F(CliCancelThreaded, QuietRunPrintsOnlyTheFinalStatus) {
  const CommandResult r = RunCommand(Program() + " --quiet -C " + temp_.path() + " download daily --from " +
                                     std::to_string(kFirstDay) + " --to " + std::to_string(kLastDay) + " 2>" +
                                     temp_.path() + "stderr");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(std::count(r.out.begin(), r.out.end(), '\n') == 1 && r.out.back() == '\n') << r.out;
  EXPECT_EQ(ReadFileText(temp_.path() + "stderr"), "");
  EXPECT_EQ(StoredDates(), (std::set<uint32_t>{kFirstDay, kHeldDay, kLastDay}));
}

}  // namespace
}  // namespace marbloom::test
