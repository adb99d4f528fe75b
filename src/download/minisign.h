#pragma once
// minisign public keys and detached signatures (Ed25519), as the minisign
// program writes them, verified with OpenSSL's libcrypto.
//
// Public key (the second line of a minisign.pub; the first is a comment),
// base64 of 42 bytes:
//   [0, 2)   "Ed"          the signature algorithm
//   [2, 10)  key id        8 bytes, chosen at random by minisign -G
//   [10, 42) public key    32-byte Ed25519 key
//
// Signature file (file.minisig), four lines ending in '\n':
//   "untrusted comment: <text>"            not covered by any signature
//   base64 of 74 bytes:
//     [0, 2)   algorithm   "ED": Ed25519 over the BLAKE2b-512 of the file
//                          (the default); "Ed": over the file itself (legacy)
//     [2, 10)  key id      the signing key's id
//     [10, 74) signature   64-byte Ed25519 signature
//   "trusted comment: <text>"
//   base64 of the 64-byte global signature: Ed25519 over the signature bytes
//   [10, 74) followed by <text> of the trusted comment
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marbloom {

inline constexpr std::size_t kMinisignKeyIdBytes = 8;
inline constexpr std::size_t kEd25519KeyBytes = 32;
inline constexpr std::size_t kEd25519SignatureBytes = 64;
// A signature file is four short lines; anything longer is refused unread.
inline constexpr std::size_t kMinisignSignatureMaxBytes = 4096;

using MinisignKeyId = std::array<uint8_t, kMinisignKeyIdBytes>;

struct MinisignKey {
  MinisignKeyId id{};
  std::array<uint8_t, kEd25519KeyBytes> key{};
};

struct MinisignSignature {
  bool prehashed = true;  // "ED"; false for the legacy "Ed"
  MinisignKeyId keyId{};
  std::array<uint8_t, kEd25519SignatureBytes> signature{};
  std::string trustedComment;  // the text after "trusted comment: "
  std::array<uint8_t, kEd25519SignatureBytes> globalSignature{};
};

// The key of a minisign.pub's base64 line; nothing when it is not one.
std::optional<MinisignKey> ParseMinisignKey(std::string_view base64);

// The key id as minisign prints it (16 upper-case hexadecimal digits).
std::string MinisignKeyIdText(const MinisignKeyId& id);

// A signature file's fields, or why it is not one (`problem`).
std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text, std::string& problem);

// Checks `signature` of `content` against the trusted keys: the key id must
// be one of theirs, the signature must hold for the content (or its
// BLAKE2b-512), and the global signature for the trusted comment. Empty when
// it holds, else why not.
std::string VerifyMinisign(const MinisignSignature& signature, const std::vector<MinisignKey>& trusted,
                           std::string_view content);

}  // namespace marbloom
