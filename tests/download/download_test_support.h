#pragma once
// Servers for the download tests: free loopback ports, programs the test
// starts and stops (nginx, marbloom-sampled), and the run-log lines a test adds.
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace marbloom::test {

// Binds (port 0: any free port) or connects a loopback socket; the port, or 0.
inline int LoopbackSocket(int port, bool connect) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t n = sizeof a;
  auto* sa = reinterpret_cast<sockaddr*>(&a);
  const bool ok = connect ? ::connect(fd, sa, n) == 0 : ::bind(fd, sa, n) == 0 && ::getsockname(fd, sa, &n) == 0;
  ::close(fd);
  return ok ? ntohs(a.sin_port) : 0;
}
inline int FreeLoopbackPort() { return LoopbackSocket(0, false); }

// A program run for the length of a test, stopped with SIGTERM.
class ChildProgram {
 public:
  ~ChildProgram() {
    if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) ::waitpid(pid_, nullptr, 0);
  }
  // Starts `argv` and waits (about 20 s at most) until it accepts on `port`.
  bool Start(std::vector<std::string> argv, int port) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
    for (int i = 0; i < 400 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
      if (LoopbackSocket(port, true) == port) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  pid_t pid_ = 0;
};

// nginx serving `site` on a free loopback port behind HTTP Basic
// authentication with the client's fixed credentials; with `tls`, over HTTPS
// with a certificate for 127.0.0.1 from a certificate authority made for the
// test (caFile()).
class NginxServer {
 public:
  static bool Available() { return ::access("/usr/sbin/nginx", X_OK) == 0; }
  bool Start(const std::string& site, bool tls = false) {
    const std::string d = dir_.path(), hash = RunCommand("openssl passwd -apr1 MARLIN39").out;
    tls_ = tls;
    if (tls && RunCommand("cd " + d + " && K='-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes' && "
                          "openssl req -x509 $K -keyout ca.key -out ca.pem -days 2 -subj /CN=test-ca && "
                          "openssl req $K -keyout tls.key -out tls.csr -subj /CN=127.0.0.1 && "
                          "echo subjectAltName=IP:127.0.0.1 > ext && openssl x509 -req -in tls.csr -CA ca.pem "
                          "-CAkey ca.key -CAcreateserial -days 2 -extfile ext -out tls.pem 2>&1").exitCode != 0)
      return false;
    const std::string listen = std::to_string(port_) + (tls ? " ssl; ssl_certificate " + d + "tls.pem; "
                                                        "ssl_certificate_key " + d + "tls.key" : "");
    const std::string conf = "daemon off; master_process off; pid " + d + "pid; events {} http { access_log off; "
                             "client_body_temp_path " + d + "b; proxy_temp_path " + d + "p; fastcgi_temp_path " + d +
                             "f; uwsgi_temp_path " + d + "u; scgi_temp_path " + d + "s; server { listen 127.0.0.1:" +
                             listen + "; root " + site + "; auth_basic on; auth_basic_user_file " + d +
                             "htpasswd; } }\n";
    WriteFileBytes(d + "htpasswd", Bytes("BRIMSTONEX52:" + hash));
    WriteFileBytes(d + "nginx.conf", Bytes(conf));
    return !hash.empty() && program_.Start({"/usr/sbin/nginx", "-p", d, "-c", d + "nginx.conf", "-e", d + "log"}, port_);
  }
  std::string baseUrl() const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/";
  }
  std::string caFile() const { return dir_.path() + "ca.pem"; }

 private:
  static std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
  TempDir dir_;
  ChildProgram program_;
  int port_ = FreeLoopbackPort();
  bool tls_ = false;
};

// A key pair made by the minisign program for one test: it signs files as a
// publisher would, so that the verification reads the real format.
class MinisignSigner {
 public:
  static bool Available() { return ::access("/usr/bin/minisign", X_OK) == 0; }
  MinisignSigner() {
    RunCommand("minisign -G -W -p " + dir_.path() + "key.pub -s " + dir_.path() + "key.sec 2>&1");
    const std::string pub = ReadFileText(dir_.path() + "key.pub");
    const std::size_t line = pub.find('\n');
    publicKey_ = line == std::string::npos ? std::string() : pub.substr(line + 1, pub.find('\n', line + 1) - line - 1);
  }
  // The base64 line of the key's minisign.pub (a TRUSTKEYS word).
  const std::string& publicKey() const { return publicKey_; }
  // Writes `file`.minisig; `legacy` signs the file itself instead of its hash.
  bool Sign(const std::string& file, const std::string& comment = "test", bool legacy = false) const {
    return RunCommand("minisign -S " + std::string(legacy ? "-l " : "") + "-s " + dir_.path() + "key.sec -m '" +
                      file + "' -t '" + comment + "' >/dev/null 2>&1").exitCode == 0;
  }
  // Writes SHA256SUMS of every *.zip in `folder` and signs it.
  bool SignFolder(const std::string& folder) const {
    return RunCommand("cd '" + folder + "' && sha256sum -b *.zip > SHA256SUMS").exitCode == 0 &&
           Sign(folder + "SHA256SUMS");
  }

 private:
  TempDir dir_;
  std::string publicKey_;
};

// The run-log messages (time stamps cut) written after the log read `before`.
inline std::vector<std::string> NewLogMessages(const std::string& before) {
  std::istringstream in(ReadRunLog().substr(before.size()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(11));
  return lines;
}

}  // namespace marbloom::test
