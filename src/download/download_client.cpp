#include "download/download_client.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>  // program_invocation_short_name
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "base/file_system.h"
#include "base/text_encoding.h"
#include "common/shared_state.h"
#include "base/file_helpers.h"
#include "download/archive_unpack.h"
#include "zip/partial_file.h"

namespace marbloom {
namespace {

constexpr std::size_t kBufferBytes = 51200;
constexpr std::size_t kFirstChunkBytes = 10240;
constexpr std::size_t kMinChunkBytes = 3072;
constexpr long long kChunkTargetMs = 100;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string CutAtHash(const std::string& text) { return text.substr(0, text.find('#')); }

std::string ArchiveFileName(DownloadKind type, int date) {
  return type == DownloadKind::kConfig ? DataLayout::kConfigArchiveName : DataLayout::DayArchiveName(date);
}

// Reads after the first ask for about 100 ms of data at the rate the first
// read measured, in whole kilobytes (so totals stay on the kilobyte grid of
// the progress messages), between 3 and 50 KB.
std::size_t NextChunkBytes(std::size_t bytes, long long ms) {
  const long long perTarget = static_cast<long long>(bytes) * kChunkTargetMs / std::max(ms, 1LL);
  return static_cast<std::size_t>(
      std::clamp<long long>(perTarget / 1024 * 1024, kMinChunkBytes, kBufferBytes));
}

bool LooksLikeHtml(const unsigned char* data, std::size_t n) {
  const char* text = reinterpret_cast<const char*>(data);
  return n > 6 && (::strncasecmp(text, "<html>", 6) == 0 || ::strncasecmp(text, "<!DOCT", 6) == 0);
}

struct CurlUrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

OperationResult Ended(Outcome outcome, std::string message) {
  return OperationResult{outcome, std::move(message), outcome == Outcome::kFailed ? 1 : 0};
}

// Shown and logged.
OperationResult Reported(Reporter& reporter, Outcome outcome, std::string message) {
  reporter.ReportF("%s", message.c_str());
  return Ended(outcome, std::move(message));
}

// Shown, and logged with a detail.
OperationResult ReportedWith(Reporter& reporter, Outcome outcome, const char* message, const std::string& detail) {
  reporter.Status(message);
  reporter.LogF("%s %s", message, detail.c_str());
  return Ended(outcome, message);
}

std::string UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* value = nullptr;
  if (curl_url_get(url, part, &value, flags) != CURLUE_OK || value == nullptr) return {};
  std::string text = value;
  curl_free(value);
  return text;
}

}  // namespace

std::string RedactedUrl(std::string_view url) {
  std::string text(url);
  const std::size_t scheme = text.find("://");
  const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t at = text.substr(start, text.find('/', start) - start).rfind('@');
  if (at != std::string::npos) text.erase(start, at + 1);
  return text.substr(0, text.find_first_of("?#"));
}

// One transfer of a file into the download area: an archive, or a
// manifest or its signature (which are kept as they came, not unpacked).
class DownloadTransfer {
 public:
  // Decides on a complete archive by its SHA-256 before it is kept; done to take it.
  using Check = std::function<OperationResult(const std::optional<Sha256Digest>&)>;

  DownloadTransfer(DownloadClient& client, DownloadKind type, std::string url, std::string fileName, std::string localPath)
      : client_(client), type_(type), url_(CutAtHash(url)), fileName_(std::move(fileName)),
        localPath_(std::move(localPath)) {}
  // A file that is not an archive: bounded by `bound`, kept whole, never unpacked.
  DownloadTransfer& AsPlainFile(uint64_t bound) {
    bound_ = bound;
    unpack_ = false;
    return *this;
  }
  // The archive's SHA-256 is taken as its bytes arrive and handed to `check`.
  DownloadTransfer& CheckedBy(Check check) {
    check_ = std::move(check);
    hash_ = std::make_unique<Sha256Worker>();
    return *this;
  }

  OperationResult Run();
  Reporter& Reports() const { return client_.layout_.Reports(); }
  // The server gave an answer (a status line), whatever it was.
  bool Answered() const { return answered_; }

 private:
  enum class Stage { kHeaders, kBody, kStopped };

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  bool Configure(CURL* curl, CURLU* url, curl_slist* headers);
  void DecideOnHeaders();
  bool Take(const unsigned char* data, std::size_t n);
  bool FlushChunk();
  void ShowProgress() const;
  bool BelowAverageRate() const;
  OperationResult Finish(CURLcode code);
  OperationResult FinishBody();
  void Stop(OperationResult result);
  OperationResult Cancelled();

  DownloadClient& client_;
  const DownloadKind type_;
  const std::string url_;
  const std::string fileName_;
  const std::string localPath_;
  uint64_t bound_ = DownloadedArchiveBound(type_);
  bool unpack_ = true;
  Check check_;
  std::unique_ptr<Sha256Worker> hash_;  // with a check
  bool answered_ = false;
  std::string host_;
  std::string user_, password_;
  CURL* curl_ = nullptr;
  Stage stage_ = Stage::kHeaders;
  OperationResult result_;  // once stopped
  PartialFile partial_{client_.layout().Files()};  // the local file, once created, until the whole body is in
  File file_;
  long long length_ = 0, total_ = 0;  // length_ -1: unknown, the body ends with the answer
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(kBufferBytes);
  std::size_t buffered_ = 0;
  std::size_t chunk_ = kFirstChunkBytes;
  bool firstChunk_ = true;
  std::chrono::steady_clock::time_point bodyStart_;
};

OperationResult DownloadTransfer::Run() {
  std::unique_ptr<CURLU, CurlUrlDeleter> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, url_.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return Reported(Reports(), Outcome::kFailed, kBadUrlMessage);
  const std::string scheme = UrlPart(url.get(), CURLUPART_SCHEME);
  if (::strcasecmp(scheme.c_str(), "http") != 0 && ::strcasecmp(scheme.c_str(), "https") != 0)
    return Ended(Outcome::kFailed, "");
  host_ = UrlPart(url.get(), CURLUPART_HOST);
  const std::string object = UrlPart(url.get(), CURLUPART_PATH);  // the query is not logged
  // Credentials written in the URL are the ones the server asked for.
  user_ = UrlPart(url.get(), CURLUPART_USER, CURLU_URLDECODE);
  password_ = UrlPart(url.get(), CURLUPART_PASSWORD, CURLU_URLDECODE);
  if (user_.empty() && password_.empty()) {
    user_ = client_.server_.user;
    password_ = client_.server_.password;
  }

  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  std::unique_ptr<curl_slist, SlistDeleter> headers(
      curl_slist_append(curl_slist_append(nullptr, "Cache-Control: no-cache"), "Pragma: no-cache"));
  if (!curl || !headers || !Configure(curl.get(), url.get(), headers.get()))
    return ReportedWith(Reports(), Outcome::kFailed, kNoRequestMessage, object);
  curl_ = curl.get();
  Reports().ReportF("%s", kConnectingMessage);
  return Finish(curl_easy_perform(curl_));
}

bool DownloadTransfer::Configure(CURL* curl, CURLU* url, curl_slist* headers) {
  const DownloadTimings& t = client_.timings_;
  bool ok = curl_easy_setopt(curl, CURLOPT_CURLU, url) == CURLE_OK;
  auto set = [&](CURLoption option, auto value) { ok = ok && curl_easy_setopt(curl, option, value) == CURLE_OK; };
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  if (!client_.server_.caFile.empty()) set(CURLOPT_CAINFO, client_.server_.caFile.c_str());
  set(CURLOPT_USERAGENT, client_.userAgent_.c_str());
  set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  set(CURLOPT_USERNAME, user_.c_str());
  set(CURLOPT_PASSWORD, password_.c_str());
  set(CURLOPT_HTTPHEADER, headers);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.connect.count()));
  set(CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
  set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(t.stallSeconds));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &DownloadTransfer::OnProgress);
  set(CURLOPT_XFERINFODATA, this);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_FORBID_REUSE, 1L);
  set(CURLOPT_BUFFERSIZE, static_cast<long>(kBufferBytes));
  set(CURLOPT_HEADERFUNCTION, &DownloadTransfer::OnHeader);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &DownloadTransfer::OnBody);
  set(CURLOPT_WRITEDATA, this);
  return ok;
}

// A blank line ends a header block; informational (1xx) blocks are skipped.
std::size_t DownloadTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto* t = static_cast<DownloadTransfer*>(self);
  const std::size_t n = size * count;
  const bool blank = (n == 2 && data[0] == '\r') || (n == 1 && data[0] == '\n');
  if (blank && t->stage_ == Stage::kHeaders) t->DecideOnHeaders();
  return t->stage_ == Stage::kStopped ? 0 : n;
}

std::size_t DownloadTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto* t = static_cast<DownloadTransfer*>(self);
  const std::size_t n = size * count;
  if (t->stage_ == Stage::kHeaders) t->DecideOnHeaders();
  if (t->stage_ != Stage::kBody) return 0;
  return t->Take(reinterpret_cast<const unsigned char*>(data), n) ? n : 0;
}

// Called at least once a second, also while nothing arrives: a cancel ends
// the transfer at once, wherever it is, and so does a body too slow on average.
int DownloadTransfer::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<DownloadTransfer*>(self);
  if (t->client_.Cancelled()) return 1;
  if (t->stage_ != Stage::kBody || !t->BelowAverageRate()) return 0;
  t->Stop(Reported(t->Reports(), Outcome::kFailed, kStalledMessage));
  return 1;
}

bool DownloadTransfer::BelowAverageRate() const {
  const DownloadTimings& t = client_.timings_;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - bodyStart_).count();
  return seconds >= t.averageAfterSeconds &&
         static_cast<double>(total_ + static_cast<long long>(buffered_)) <
             seconds * static_cast<double>(t.minAverageBytesPerSecond);
}

// Status, length and local file, once the response's headers are in.
void DownloadTransfer::DecideOnHeaders() {
  long status = 0;
  curl_off_t length = -1;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (status >= 100 && status < 200) return;
  answered_ = status != 0;
  // Only a 404 says that the server lacks the file.
  if (status == 404) return Stop(Reported(Reports(), Outcome::kNothingToDo, RedactedUrl(url_) + kNotFoundSuffix));
  if (status != 200)
    return Stop(Reported(Reports(), Outcome::kFailed, FormatText(kHttpStatusFormat, status, RedactedUrl(url_).c_str())));
  if (length == 0) return Stop(Reported(Reports(), Outcome::kFailed, kEmptyLengthMessage));
  if (length > 0 && static_cast<uint64_t>(length) > bound_) return Stop(Reported(Reports(), Outcome::kFailed, kTooLargeMessage));
  length_ = length < 0 ? -1 : length;
  file_ = client_.layout().Files().Open(localPath_, OpenMode::kWrite);
  if (!file_) return Stop(Reported(Reports(), Outcome::kFailed, kCannotSaveMessage));
  partial_.Track(localPath_);
  stage_ = Stage::kBody;
  bodyStart_ = std::chrono::steady_clock::now();
}

// Gathers body bytes into the buffer and writes each chunk as it fills.
// Bytes beyond the announced length are not taken; without one, the body may
// not grow beyond the type's bound.
bool DownloadTransfer::Take(const unsigned char* data, std::size_t n) {
  const long long held = total_ + static_cast<long long>(buffered_);
  if (length_ < 0 && static_cast<uint64_t>(held) + n > bound_) {
    Stop(Reported(Reports(), Outcome::kFailed, kTooLargeMessage));
    return false;
  }
  while (n > 0) {
    const long long wanted = length_ < 0 ? LLONG_MAX : length_ - total_ - static_cast<long long>(buffered_);
    if (wanted <= 0) return true;
    const std::size_t room = chunk_ - buffered_;
    const std::size_t step = std::min({n, room, static_cast<std::size_t>(wanted)});
    std::copy_n(data, step, buffer_.data() + buffered_);
    buffered_ += step;
    data += step;
    n -= step;
    if ((buffered_ == chunk_ || total_ + static_cast<long long>(buffered_) == length_) && !FlushChunk()) return false;
  }
  return true;
}

bool DownloadTransfer::FlushChunk() {
  const std::size_t n = buffered_;
  buffered_ = 0;
  if (firstChunk_) {
    firstChunk_ = false;
    const auto elapsed = std::chrono::steady_clock::now() - bodyStart_;
    chunk_ = NextChunkBytes(n, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    if (LooksLikeHtml(buffer_.data(), n)) {
      Stop(Reported(Reports(), Outcome::kFailed, kHtmlPageMessage));
      return false;
    }
  }
  if (hash_) hash_->Update(buffer_.data(), n);
  if (!file_.Write(buffer_.data(), n, total_)) {
    Stop(Reported(Reports(), Outcome::kFailed, kTransferErrorMessage));
    return false;
  }
  total_ += static_cast<long long>(n);
  if (total_ % 1024 == 0) ShowProgress();
  if (client_.Cancelled()) {
    Stop(Cancelled());
    return false;
  }
  return true;
}

// On the kilobyte grid; without an announced length, the bytes so far alone.
void DownloadTransfer::ShowProgress() const {
  if (length_ < 0) return Reports().StatusF("%s已下载%dK字节.", fileName_.c_str(), static_cast<int>(total_ / 1024));
  Reports().StatusF("%s有%dK字节，已下载%dK字节.", fileName_.c_str(), static_cast<int>(length_ / 1024),
                 static_cast<int>(total_ / 1024));
  Reports().Progress(static_cast<double>(total_) / static_cast<double>(length_));
}

OperationResult DownloadTransfer::Finish(CURLcode code) {
  if (stage_ == Stage::kStopped) return result_;
  if (code == CURLE_OK && stage_ == Stage::kHeaders) DecideOnHeaders();
  // Without an announced length the whole answer is the body; an empty one is
  // no archive.
  if (code == CURLE_OK && stage_ == Stage::kBody && length_ < 0) {
    if (buffered_ > 0 && !FlushChunk()) return result_;
    if (total_ == 0) return Reported(Reports(), Outcome::kFailed, kEmptyLengthMessage);
    length_ = total_;
  }
  if (stage_ == Stage::kStopped) return result_;
  if (code == CURLE_OK && stage_ == Stage::kBody && total_ == length_) return FinishBody();
  // Whatever else ended a transfer that was cancelled (a connection or a
  // handshake cut short), it ends as cancelled.
  if (code == CURLE_ABORTED_BY_CALLBACK || client_.Cancelled()) return Cancelled();
  if (code == CURLE_PEER_FAILED_VERIFICATION) return ReportedWith(Reports(), Outcome::kFailed, kCertificateFailedMessage, host_);
  if (stage_ == Stage::kBody)
    return Reported(Reports(), Outcome::kFailed, code == CURLE_OPERATION_TIMEDOUT ? kStalledMessage : kTransferErrorMessage);
  curl_off_t connectTime = 0;
  curl_easy_getinfo(curl_, CURLINFO_CONNECT_TIME_T, &connectTime);
  if (connectTime == 0) return ReportedWith(Reports(), Outcome::kFailed, kConnectFailedMessage, host_);
  long osError = 0;
  curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
  Reports().Status(kTransferErrorMessage);
  Reports().LogF("%s ErrNo:%ld", kTransferErrorMessage, osError);
  return Ended(Outcome::kFailed, kTransferErrorMessage);
}

// The whole body is on disk: close it, then check and unpack it unless
// cancelled. A file the check refuses goes again.
OperationResult DownloadTransfer::FinishBody() {
  if (!file_.Close()) return Reported(Reports(), Outcome::kFailed, kTransferErrorMessage);
  if (client_.Cancelled()) return Cancelled();
  if (check_) {
    OperationResult checked = check_(hash_->Finish());
    if (!checked.done()) return checked;
  }
  partial_.Keep();
  if (!unpack_) return OperationResult{};
  return client_.unpack_ ? client_.unpack_(fileName_, type_)
                         : UnpackDownloadedArchive(client_.layout_, fileName_, type_);
}

void DownloadTransfer::Stop(OperationResult result) {
  stage_ = Stage::kStopped;
  result_ = std::move(result);
}

OperationResult DownloadTransfer::Cancelled() {
  Reports().Progress(0);
  return Reported(Reports(), Outcome::kCancelled, kDownloadCancelledMessage);
}

struct DownloadClient::Attempt {
  OperationResult result;
  bool answered = false;  // the server gave a status line
};

DownloadClient::DownloadClient(DataLayout layout, DownloadServer server)
    : layout_(std::move(layout)), server_(std::move(server)), userAgent_(program_invocation_short_name) {
  InitCurlOnce();
  for (std::size_t i = 0; i <= server_.mirrors.size(); ++i) order_.push_back(i);
}

DownloadClient::~DownloadClient() = default;

std::string DownloadClient::BaseUrl(std::size_t index) const {
  return index == 0 ? server_.baseUrl : server_.mirrors[index - 1];
}

// The configuration names folders under the base URL; a mirror holds them
// at the same place under its own.
std::string DownloadClient::FolderUrl(DownloadKind type, std::size_t index) const {
  if (type == DownloadKind::kConfig) return BaseUrl(index);
  const std::string primary = config_.ServerPath(ServerPathNumber(type));
  if (index == 0) return primary;
  if (primary.empty() || !primary.starts_with(server_.baseUrl)) return {};
  std::string joined = BaseUrl(index) + primary.substr(server_.baseUrl.size());
  return Utf8ToGbk(joined).size() < kPathCapacity ? joined : std::string();
}

std::string DownloadClient::Url(DownloadKind type, int date) const {
  return FolderUrl(type, 0) + ArchiveFileName(type, date);
}

std::string DownloadClient::ShownUrl(DownloadKind type, int date) const { return RedactedUrl(Url(type, date)); }

void DownloadClient::Demote(std::size_t index) {
  order_.erase(std::find(order_.begin(), order_.end(), index));
  order_.push_back(index);
}

OperationResult DownloadClient::StartDownload(DownloadKind type, int date) {
  const std::string fileName = ArchiveFileName(type, date);
  const std::string localPath = DownloadedArchivePath(layout_, type, fileName);
  if (localPath.empty()) return Reported(layout_.Reports(), Outcome::kFailed, kBadUrlMessage);
  if (!server_.keysProblem.empty()) return Reported(layout_.Reports(), Outcome::kFailed, server_.keysProblem);
  if (server_.trustedKeys.empty() && !unverifiedLogged_) {
    layout_.Reports().LogF("%s", kUnverifiedMessage);
    unverifiedLogged_ = true;
  }
  // A day is lacked when every server that answered lacks it; any other
  // answer from one of them makes it a failure.
  OperationResult lacked, failed;
  bool someLack = false, someAnswered = false;
  const std::vector<std::size_t> order = order_;
  for (const std::size_t index : order) {
    Attempt attempt = FetchFrom(index, type, fileName, localPath);
    const Outcome outcome = attempt.result.outcome;
    if (outcome == Outcome::kDone || outcome == Outcome::kCancelled || outcome == Outcome::kBusy || Cancelled()) {
      layout_.Reports().Progress(0);
      return attempt.result;
    }
    if (outcome == Outcome::kNothingToDo) {
      someLack = true;
      lacked = std::move(attempt.result);
      continue;
    }
    someAnswered = someAnswered || attempt.answered;
    if (order.size() > 1)
      layout_.Reports().LogF(kServerSkippedFormat, RedactedUrl(BaseUrl(index)).c_str(), fileName.c_str(), attempt.result.message.c_str());
    failed = std::move(attempt.result);
    Demote(index);
  }
  layout_.Reports().Progress(0);
  return someLack && !someAnswered ? lacked : failed;
}

// The transfer, its local file and the manifest it may need all end before
// the attempt returns. It runs on the calling thread; a cancel from another
// thread reaches it through the progress callback.
DownloadClient::Attempt DownloadClient::FetchFrom(std::size_t index, DownloadKind type, const std::string& fileName,
                                                  const std::string& localPath) {
  const std::string folder = FolderUrl(type, index);
  if (folder.empty() && index > 0) return Attempt{Reported(layout_.Reports(), Outcome::kFailed, kBadUrlMessage), false};
  const bool several = !server_.mirrors.empty();
  if (several) layout_.Reports().ReportF("正在从%s下载%s...", RedactedUrl(BaseUrl(index)).c_str(), fileName.c_str());
  const std::string url = folder + fileName;
  DownloadTransfer transfer(*this, type, url, fileName, localPath);
  // The manifest names the archive as its folder on the server does.
  const std::string listedName = url.substr(url.rfind('/') + 1);
  if (!server_.trustedKeys.empty())
    transfer.CheckedBy([&](const std::optional<Sha256Digest>& digest) {
      return CheckListed(index, type, listedName, digest);
    });
  Attempt attempt{transfer.Run(), false};
  attempt.answered = transfer.Answered();
  if (attempt.result.done() && several)
    layout_.Reports().LogF("%s来自服务器%s", fileName.c_str(), RedactedUrl(BaseUrl(index)).c_str());
  return attempt;
}

// Done when the folder's manifest on that server lists the archive with this
// SHA-256. An archive it does not list may be newer than the manifest kept
// from earlier in the run: the manifest is then fetched once more.
OperationResult DownloadClient::CheckListed(std::size_t index, DownloadKind type, const std::string& fileName,
                                            const std::optional<Sha256Digest>& digest) {
  if (!digest) return Reported(layout_.Reports(), Outcome::kFailed, "无法计算下载文件的SHA-256摘要!");
  for (const bool fresh : {false, true}) {
    const bool cached = manifests_.contains({index, type});
    if (fresh && !cached) break;  // fetched just now
    const Manifest* manifest = ManifestOf(index, type, fresh);
    if (manifest == nullptr) return Ended(Outcome::kFailed, kManifestRefusedMessage);
    const auto listed = manifest->digests.find(fileName);
    if (listed != manifest->digests.end() && listed->second == *digest) return OperationResult{};
    if (listed != manifest->digests.end())
      return Reported(layout_.Reports(), Outcome::kFailed, FormatText(kDigestMismatchFormat, fileName.c_str()));
    if (!cached) break;
  }
  return Reported(layout_.Reports(), Outcome::kFailed, FormatText(kNotListedFormat, fileName.c_str()));
}

// The verified manifest of a kind's folder on a server, fetched when not held
// yet (or `fresh`); nothing, logged, when it is missing or does not verify.
// A manifest taken is kept in the kind's download folder with its signature,
// as the server gave them.
const Manifest* DownloadClient::ManifestOf(std::size_t index, DownloadKind type, bool fresh) {
  const auto key = std::make_pair(index, type);
  if (!fresh)
    if (const auto held = manifests_.find(key); held != manifests_.end()) return &held->second;
  const std::string path = FolderUrl(type, index), folder = path.substr(0, path.rfind('/') + 1);
  const std::string dir = ArchiveDownloadDir(layout_, type);
  const std::string sumsPath = dir + kManifestName + ".new", signaturePath = dir + kManifestSignatureName + ".new";
  const std::string url = folder + kManifestName;
  const std::optional<std::string> sums = FetchSmallFile(url, sumsPath, kManifestMaxBytes);
  const std::optional<std::string> signature =
      sums ? FetchSmallFile(folder + kManifestSignatureName, signaturePath, kMinisignSignatureMaxBytes) : std::nullopt;
  std::string problem = sums && signature ? std::string() : "无法下载";
  std::optional<Manifest> manifest;
  if (problem.empty()) manifest = VerifyManifest(*sums, *signature, server_.trustedKeys, problem);
  if (!manifest || !layout_.Files().Rename(sumsPath, dir + kManifestName) ||
      !layout_.Files().Rename(signaturePath, dir + kManifestSignatureName)) {
    layout_.Files().Remove(sumsPath);
    layout_.Files().Remove(signaturePath);
    if (problem.empty()) problem = "无法保存";
    layout_.Reports().ReportF(kManifestProblemFormat, RedactedUrl(url).c_str(), problem.c_str());
    return nullptr;
  }
  layout_.Reports().LogF(kManifestTakenFormat, RedactedUrl(url).c_str(), PrintableText(manifest->trustedComment).c_str());
  return &(manifests_[key] = std::move(*manifest));
}

// A manifest or its signature, saved at `localPath` and read back whole.
std::optional<std::string> DownloadClient::FetchSmallFile(const std::string& url, const std::string& localPath,
                                                          uint64_t bound) {
  const std::string name = url.substr(url.rfind('/') + 1);
  DownloadTransfer transfer(*this, DownloadKind::kConfig, url, name, localPath);
  if (!transfer.AsPlainFile(bound).Run().done()) return std::nullopt;
  File file = layout_.Files().Open(localPath, OpenMode::kReadRegular);
  const int64_t length = file ? file.Length() : -1;
  if (length < 0 || static_cast<uint64_t>(length) > bound) return std::nullopt;
  std::string text(static_cast<std::size_t>(length), '\0');
  if (!file.ReadAll(text.data(), text.size(), 0)) return std::nullopt;
  return text;
}

}  // namespace marbloom
