#include "download/manifest_verify.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdio>

#include "base/text_encoding.h"

namespace marbloom {
namespace {

std::optional<uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

std::optional<Sha256Digest> ParseDigest(std::string_view hex) {
  Sha256Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const auto high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
    if (!high || !low) return std::nullopt;
    digest[i] = static_cast<uint8_t>(*high << 4 | *low);
  }
  return digest;
}

// A name that stays in its folder and reads back as written.
bool BareFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
  for (const char c : name)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

std::string LineProblem(std::size_t line, const char* what) { return FormatText("第%zu行%s", line, what); }

}  // namespace

std::optional<Manifest> ParseManifest(std::string_view text, std::string& problem) {
  problem.clear();
  if (text.size() > kManifestMaxBytes) {
    problem = "校验清单过大";
    return std::nullopt;
  }
  Manifest manifest;
  std::size_t number = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    ++number;
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) {
      problem = LineProblem(number, "格式无效");
      return std::nullopt;
    }
    const auto digest = ParseDigest(line.substr(0, 64));
    const std::string_view name = line.substr(66);
    if (!digest || !BareFileName(name)) {
      problem = LineProblem(number, digest ? "的文件名无效" : "的摘要无效");
      return std::nullopt;
    }
    if (!manifest.digests.emplace(std::string(name), *digest).second) {
      problem = LineProblem(number, "的文件名重复");
      return std::nullopt;
    }
  }
  return manifest;
}

std::optional<Manifest> VerifyManifest(std::string_view sums, std::string_view signature,
                                       const std::vector<MinisignKey>& trusted, std::string& problem) {
  const auto parsed = ParseMinisignSignature(signature, problem);
  if (!parsed) return std::nullopt;
  // The signature first: nothing of an unsigned manifest is read.
  if (sums.size() > kManifestMaxBytes) {
    problem = "校验清单过大";
    return std::nullopt;
  }
  problem = VerifyMinisign(*parsed, trusted, sums);
  if (!problem.empty()) return std::nullopt;
  auto manifest = ParseManifest(sums, problem);
  if (manifest) manifest->trustedComment = parsed->trustedComment;
  return manifest;
}

std::optional<std::vector<MinisignKey>> ParseTrustedKeys(std::string_view setting, std::string& refused) {
  std::vector<MinisignKey> keys;
  for (std::size_t pos = 0; pos < setting.size();) {
    const std::size_t start = setting.find_first_not_of(" \t", pos);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(setting.find_first_of(" \t", start), setting.size());
    const std::string_view word = setting.substr(start, end - start);
    pos = end;
    const auto key = ParseMinisignKey(word);
    if (!key) {
      refused = std::string(word);
      return std::nullopt;
    }
    keys.push_back(*key);
  }
  return keys;
}

Sha256Stream::Sha256Stream() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ != nullptr) EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr);
}

Sha256Stream::~Sha256Stream() { EVP_MD_CTX_free(ctx_); }

void Sha256Stream::Update(const void* data, std::size_t size) {
  if (ctx_ != nullptr) EVP_DigestUpdate(ctx_, data, size);
}

std::optional<Sha256Digest> Sha256Stream::Finish() {
  Sha256Digest digest{};
  unsigned int n = 0;
  const bool ok = ctx_ != nullptr && EVP_DigestFinal_ex(ctx_, digest.data(), &n) == 1 && n == digest.size();
  if (ctx_ != nullptr) EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr);
  return ok ? std::optional<Sha256Digest>(digest) : std::nullopt;
}

Sha256Worker::Sha256Worker() : thread_([this] { Work(); }) {}

Sha256Worker::~Sha256Worker() { Finish(); }

void Sha256Worker::Update(const void* data, std::size_t size) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kQueuedChunks; });
  std::vector<uint8_t> chunk;
  if (!spare_.empty()) {
    chunk = std::move(spare_.back());
    spare_.pop_back();
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  chunk.assign(bytes, bytes + size);
  queue_.push_back(std::move(chunk));
  changed_.notify_all();
}

std::optional<Sha256Digest> Sha256Worker::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  return digest_;
}

void Sha256Worker::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty()) break;
    std::vector<uint8_t> chunk = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    lock.unlock();
    hash_.Update(chunk.data(), chunk.size());
    lock.lock();
    spare_.push_back(std::move(chunk));
  }
  lock.unlock();
  digest_ = hash_.Finish();
}

std::string DigestHex(const Sha256Digest& digest) {
  std::string hex;
  for (const uint8_t b : digest) hex += FormatText("%02x", b);
  return hex;
}

}  // namespace marbloom
