#pragma once
// Signed manifests of a server's archive folders. Each folder that holds
// archives (the root with the configuration archive, the daily and the tick
// folder) holds "SHA256SUMS", in the format sha256sum writes, one line per
// archive:
//   64 lower- or upper-case hexadecimal digits   the archive's SHA-256
//   ' '                                          separator
//   ' ' or '*'                                   text or binary mode (same bytes)
//   file name                                    a bare name: no '/', '\\', ".."
//   '\n'                                         (a '\r' before it is allowed)
// and beside it "SHA256SUMS.minisig", its detached minisign signature
// (download/minisign.h). An archive is taken only when a manifest whose
// signature holds for a trusted key lists its exact SHA-256.
#include <array>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "download/minisign.h"

struct evp_md_ctx_st;

namespace marbloom {

inline constexpr const char* kManifestName = "SHA256SUMS";
inline constexpr const char* kManifestSignatureName = "SHA256SUMS.minisig";
// A manifest lists a folder's archives in lines of about 80 bytes: a
// megabyte holds over ten thousand, decades of days. More is refused unread.
inline constexpr std::size_t kManifestMaxBytes = std::size_t{1} << 20;

using Sha256Digest = std::array<uint8_t, 32>;

// A manifest's archives by file name.
struct Manifest {
  std::map<std::string, Sha256Digest> digests;
  std::string trustedComment;  // of the signature that vouched for it
};

// The lines of a SHA256SUMS, or why they are refused (`problem`): a line
// out of format, a name that is not a bare file name, a name twice, bytes
// that are not text, or more than kManifestMaxBytes.
std::optional<Manifest> ParseManifest(std::string_view text, std::string& problem);

// The manifest `sums` when `signature` (a SHA256SUMS.minisig) holds for it
// under one of the trusted keys; else why not.
std::optional<Manifest> VerifyManifest(std::string_view sums, std::string_view signature,
                                       const std::vector<MinisignKey>& trusted, std::string& problem);

// The trusted keys of the TRUSTKEYS setting: minisign.pub base64 lines
// separated by blanks. Nothing, with the word refused, when one is no key.
std::optional<std::vector<MinisignKey>> ParseTrustedKeys(std::string_view setting, std::string& refused);

// SHA-256 of bytes as they arrive.
class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;
  void Update(const void* data, std::size_t size);
  // The digest of the bytes so far (nothing when libcrypto failed); starts over.
  std::optional<Sha256Digest> Finish();

 private:
  evp_md_ctx_st* ctx_;
};

// SHA-256 of bytes as they arrive, taken on a thread of its own so that the
// transfer that hands them over does not wait for the hashing: Update copies
// the bytes into a queue of at most kQueuedChunks chunks (waiting only when
// the hashing falls that far behind).
class Sha256Worker {
 public:
  static constexpr std::size_t kQueuedChunks = 32;
  Sha256Worker();
  ~Sha256Worker();
  Sha256Worker(const Sha256Worker&) = delete;
  Sha256Worker& operator=(const Sha256Worker&) = delete;
  void Update(const void* data, std::size_t size);
  // The digest of every byte handed over; the worker then ends.
  std::optional<Sha256Digest> Finish();

 private:
  void Work();

  Sha256Stream hash_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<std::vector<uint8_t>> spare_;  // emptied chunks, to be filled again
  bool ending_ = false;
  std::optional<Sha256Digest> digest_;
  std::thread thread_;  // last: it starts once the members it uses exist
};

std::string DigestHex(const Sha256Digest& digest);

}  // namespace marbloom
