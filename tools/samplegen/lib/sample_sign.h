#pragma once
// Signs the sample server's folders as a publisher does with sha256sum and
// minisign: SHA256SUMS of the folder's archives and SHA256SUMS.minisig
// (download/minisign.h gives the format), made in-process with libcrypto
// from an unencrypted minisign secret key (minisign -G -W).
//
// Secret key file: a comment line, then base64 of 158 bytes:
//   [0, 2)     "Ed"         signature algorithm
//   [2, 4)     "\0\0"       key derivation: none (the key is not encrypted)
//   [4, 6)     "B2"         checksum algorithm
//   [6, 54)    salt, limits unused without key derivation
//   [54, 62)   key id
//   [62, 126)  secret key   32-byte Ed25519 seed, then the 32-byte public key
//   [126, 158) checksum
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marbloom::sample {

struct SigningKey {
  std::array<uint8_t, 8> id{};
  std::array<uint8_t, 32> seed{};
};

// The key of an unencrypted minisign secret key file.
std::optional<SigningKey> ReadSigningKey(const std::string& path, std::string* error = nullptr);

// The text of a prehashed ("ED") minisign signature of `content`.
std::string MinisignSignatureText(const SigningKey& key, std::string_view content, std::string_view trustedComment);

// Writes `dir`SHA256SUMS listing every *.zip of the folder (sorted by name)
// and its signature `dir`SHA256SUMS.minisig, each through a temporary name.
bool SignFolder(const std::string& dir, const SigningKey& key, std::string* error = nullptr);

}  // namespace marbloom::sample
