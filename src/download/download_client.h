#pragma once
// The HTTP download client: fetches the configuration archive or one trading
// day's archive from the download server into the download area, streaming
// the body to disk, and hands the complete file to the unpacking step. Each
// call runs the transfer on the calling thread; Cancel and Reset may be
// called from any other thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/data_layout.h"
#include "download/download_kind.h"
#include "common/operation_result.h"
#include "download/download_config.h"
#include "download/manifest_verify.h"

namespace marbloom {

// Messages of the client.
inline constexpr const char* kBadUrlMessage = "下载位置有误!";
inline constexpr const char* kConnectFailedMessage = "连接服务器失败!";
inline constexpr const char* kNoRequestMessage = "找不到网络地址!";
inline constexpr const char* kConnectingMessage = "正在连接到数据下载网站...";
inline constexpr const char* kTransferErrorMessage = "下载出错!";
inline constexpr const char* kNotFoundSuffix = "不存在!";
inline constexpr const char* kEmptyLengthMessage = "下载出错或无相应文件可供下载!";
inline constexpr const char* kCannotSaveMessage = "不能将下载文件存盘!";
inline constexpr const char* kHtmlPageMessage = "无相应文件可供下载!";
inline constexpr const char* kDownloadCancelledMessage = "下载被取消!";
inline constexpr const char* kCertificateFailedMessage = "服务器证书验证失败!";
inline constexpr const char* kStalledMessage = "下载速度过慢, 已中止!";
inline constexpr const char* kTooLargeMessage = "下载文件超过应有的大小, 已中止!";
inline constexpr const char* kUnverifiedMessage = "未设置信任的签名公钥, 本次下载的文件未经签名校验!";
// An archive a server gave that was not taken: the server, the file, why.
inline constexpr const char* kServerSkippedFormat = "服务器%s未能提供%s(%s), 改用下一个服务器.";
// Verification of an archive (the manifest's URL, or the archive's name).
inline constexpr const char* kManifestProblemFormat = "校验清单%s未通过验证: %s!";
inline constexpr const char* kManifestTakenFormat = "校验清单%s签名有效, 可信注释: %s";
inline constexpr const char* kManifestRefusedMessage = "校验清单未通过验证!";
inline constexpr const char* kDigestMismatchFormat = "%s与校验清单不符, 已丢弃!";
inline constexpr const char* kNotListedFormat = "校验清单中没有%s, 已丢弃!";
// Any answer but 200 and 404: the status and the URL.
inline constexpr const char* kHttpStatusFormat = "下载出错! 服务器应答%ld: %s";

// A URL as it may be shown or logged: without its user information and
// without its query (either may carry credentials or a token) or fragment.
std::string RedactedUrl(std::string_view url);

// A transfer slower than this for the stall time is abandoned.
inline constexpr long kStallBytesPerSecond = 1024;

// How long the client waits. Tests shorten them. Two rules end a transfer as
// stalled: under kStallBytesPerSecond for stallSeconds, and, from
// averageAfterSeconds after its body started on, an average rate since that
// start under minAverageBytesPerSecond. A transfer thus ends by a deadline
// that its type's size bound (DownloadedArchiveBound) sets: about 9 hours
// for a daily archive, 36 for a tick archive at the bound; a trickle just
// above the stall rate ends after a minute. A cancel ends it at once
// whatever the rules.
struct DownloadTimings {
  std::chrono::milliseconds connect{10000};  // connection set-up
  int stallSeconds = 15;                     // below kStallBytesPerSecond this long ends the transfer
  int averageAfterSeconds = 60;
  long minAverageBytesPerSecond = 16 * 1024;
};

// Where the client fetches from: the base URL (the DOMAIN setting, under
// which the configuration archive lies), further servers with the same
// layout, and the credentials it sends when a URL itself names none.
struct DownloadServer {
  std::string baseUrl;
  std::string user;
  std::string password;
  // Certificate authorities to trust instead of the system's store (a test's
  // own); verification itself is never turned off.
  std::string caFile = {};
  // MIRRORS: base URLs tried in order after baseUrl for each archive.
  std::vector<std::string> mirrors = {};
  // TRUSTKEYS: with any, an archive is taken only when a manifest signed by
  // one of them lists its SHA-256 (download/manifest_verify.h).
  std::vector<MinisignKey> trustedKeys = {};
  // Why the keys of the settings could not be read; when set, every download
  // fails with it rather than run unverified.
  std::string keysProblem = {};
};

class DownloadClient {
 public:
  // Unpacks a complete archive of a type (the result of the download).
  using UnpackStep = std::function<OperationResult(const std::string& fileName, DownloadKind type)>;

  DownloadClient(DataLayout layout, DownloadServer server);
  virtual ~DownloadClient();
  DownloadClient(const DownloadClient&) = delete;
  DownloadClient& operator=(const DownloadClient&) = delete;

  // Fetches the archive of `type` (-1 the configuration, 10 daily, 11 tick)
  // for `date` (YYYYMMDD, ignored for -1) and unpacks it; returns when the
  // transfer has ended. The servers are tried in order (one that failed
  // earlier in the client's life comes last) until one gives the archive;
  // one that fails is logged and skipped. With trusted keys, the archive's
  // SHA-256 (taken as it arrives) must be listed in its folder's manifest on
  // the same server, whose signature must hold; the manifests taken are kept
  // beside the archives. Done: obtained and unpacked. Nothing to do: every
  // server that answered has no such file (404, and only that). Failed: the URL, the
  // connection, any other answer, the transfer (stalled, cut short or
  // beyond the type's size bound), a body that is empty or an error page,
  // the local file or the unpacking. Cancelled; or busy when another
  // operation writes the tree. The answer's length may be unknown (chunked,
  // or until the connection closes). The message is the call's last status
  // line.
  OperationResult StartDownload(DownloadKind type, int date);
  // The archive's URL as it may be shown (see RedactedUrl).
  std::string ShownUrl(DownloadKind type, int date) const;

  // Cancel stays in force for every later call until Reset.
  void Cancel() { cancel_.store(true); }
  void Reset() { cancel_.store(false); }
  bool Cancelled() const { return cancel_.load(); }

  // Where the day archives lie on the server (see LoadDownloadConfig).
  void SetConfig(DownloadConfig config) { config_ = std::move(config); }
  const DownloadConfig& config() const { return config_; }

  void SetTimings(const DownloadTimings& timings) { timings_ = timings; }
  // Replaces the unpacking step (a benchmark measures the transfer alone).
  void SetUnpackStep(UnpackStep step) { unpack_ = std::move(step); }

  const DataLayout& layout() const { return layout_; }
  const DownloadServer& server() const { return server_; }

 private:
  friend class DownloadTransfer;
  struct Attempt;
  // The folder of a kind's archives on server `index` (0 the base URL, then
  // the mirrors), ending in '/'; empty when the configuration gives none.
  std::string FolderUrl(DownloadKind type, std::size_t index) const;
  std::string BaseUrl(std::size_t index) const;
  std::string Url(DownloadKind type, int date) const;
  Attempt FetchFrom(std::size_t index, DownloadKind type, const std::string& fileName, const std::string& localPath);
  OperationResult CheckListed(std::size_t index, DownloadKind type, const std::string& fileName,
                              const std::optional<Sha256Digest>& digest);
  const Manifest* ManifestOf(std::size_t index, DownloadKind type, bool fresh);
  std::optional<std::string> FetchSmallFile(const std::string& url, const std::string& localPath, uint64_t bound);
  void Demote(std::size_t index);

  DataLayout layout_;
  DownloadServer server_;
  std::vector<std::size_t> order_;  // the servers in the order they are tried
  std::map<std::pair<std::size_t, DownloadKind>, Manifest> manifests_;  // verified, by server and folder
  bool unverifiedLogged_ = false;
  DownloadConfig config_;
  std::string userAgent_;
  DownloadTimings timings_;
  UnpackStep unpack_;
  std::atomic<bool> cancel_{false};
};

}  // namespace marbloom
