#pragma once
// The HTTP download client: fetches the configuration archive or one trading
// day's archive from the download server into the download area, streaming
// the body to disk, and hands the complete file to the unpacking step. Each
// call runs the transfer on a thread of its own while the caller waits;
// Cancel and Reset may be called from any thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "common/data_layout.h"

namespace marbloom {

// Results of StartDownload.
inline constexpr int kDownloadOk = 1;
inline constexpr int kDownloadMissing = -1;    // no such file on the server, or unpacking failed
inline constexpr int kDownloadError = -2;      // URL, connection, request, transfer or local file
inline constexpr int kDownloadCancelled = -3;

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

// A URL as it may be shown or logged: without its user information and
// without its query (either may carry credentials or a token) or fragment.
std::string RedactedUrl(std::string_view url);

// A transfer slower than this for the stall time is abandoned.
inline constexpr long kStallBytesPerSecond = 1024;

// How long the client waits. Tests shorten them.
struct DownloadTimings {
  std::chrono::milliseconds connect{10000};  // connection set-up
  int stallSeconds = 15;                     // below kStallBytesPerSecond this long ends the transfer
};

class DownloadClient {
 public:
  // Unpacks a complete archive of a type; 1 on success, -1 on failure.
  using UnpackStep = std::function<int(const std::string& fileName, int type)>;

  // `baseUrl` is the DOMAIN setting: the configuration archive lies directly under it.
  DownloadClient(DataLayout layout, std::string baseUrl);
  virtual ~DownloadClient();
  DownloadClient(const DownloadClient&) = delete;
  DownloadClient& operator=(const DownloadClient&) = delete;

  // Fetches the archive of `type` (-1 the configuration, 10 daily, 11 tick;
  // 1, 7, 8, 9 older kinds) for `date` (YYYYMMDD, ignored for -1) and unpacks
  // it. Blocks until the transfer has ended; one of the results above.
  int StartDownload(int type, int date);

  // Cancel stays in force for every later call until Reset.
  void Cancel() { cancel_.store(true); }
  void Reset() { cancel_.store(false); }
  bool Cancelled() const { return cancel_.load(); }

  // True when the last call ended because the server has no such file (404,
  // an empty length or an error page), as opposed to a fault.
  bool LastWasMissing() const { return lastMissing_.load(); }

  void SetTimings(const DownloadTimings& timings) { timings_ = timings; }
  // Test seam: trust the certificate authorities of this file instead of
  // the system's store. Verification itself is never turned off.
  void SetTrustedCertificates(std::string caFile) { caFile_ = std::move(caFile); }
  // Replaces the unpacking step (a benchmark measures the transfer alone).
  void SetUnpackStep(UnpackStep step) { unpack_ = std::move(step); }

  const DataLayout& layout() const { return layout_; }
  const std::string& baseUrl() const { return baseUrl_; }

 private:
  friend class DownloadTransfer;

  DataLayout layout_;
  std::string baseUrl_;
  std::string userAgent_;
  DownloadTimings timings_;
  std::string caFile_;
  UnpackStep unpack_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> lastMissing_{false};
};

}  // namespace marbloom
