#pragma once
// The HTTP download client: fetches the configuration archive or one trading
// day's archive from the download server into the download area, streaming
// the body to disk, and hands the complete file to the unpacking step. Each
// call runs the transfer on the calling thread; Cancel and Reset may be
// called from any other thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "common/data_layout.h"
#include "download/download_kind.h"
#include "common/operation_result.h"
#include "download/download_config.h"

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
// which the configuration archive lies) and the credentials it sends when
// the URL itself names none.
struct DownloadServer {
  std::string baseUrl;
  std::string user;
  std::string password;
  // Certificate authorities to trust instead of the system's store (a test's
  // own); verification itself is never turned off.
  std::string caFile = {};
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
  // transfer has ended. Done: obtained and unpacked. Nothing to do: the
  // server has no such file (404, and only that). Failed: the URL, the
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
  std::string Url(DownloadKind type, int date) const;

  DataLayout layout_;
  DownloadServer server_;
  DownloadConfig config_;
  std::string userAgent_;
  DownloadTimings timings_;
  UnpackStep unpack_;
  std::atomic<bool> cancel_{false};
};

}  // namespace marbloom
