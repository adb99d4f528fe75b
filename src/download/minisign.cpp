#include "download/minisign.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "base/text_encoding.h"

namespace marbloom {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::size_t kKeyBytes = 2 + kMinisignKeyIdBytes + kEd25519KeyBytes;
constexpr std::size_t kSignatureBytes = 2 + kMinisignKeyIdBytes + kEd25519SignatureBytes;

// Strict base64 (padded, no blanks) of exactly `size` bytes; nothing otherwise.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text, std::size_t size) {
  if (text.size() != (size + 2) / 3 * 4) return std::nullopt;
  const std::size_t padding = size % 3 == 0 ? 0 : 3 - size % 3;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool pad = i >= text.size() - padding;
    if (pad ? c != '=' : !(std::isalnum(c) != 0 || c == '+' || c == '/')) return std::nullopt;
  }
  std::vector<uint8_t> bytes(text.size() / 4 * 3);
  const int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n != static_cast<int>(bytes.size())) return std::nullopt;
  bytes.resize(size);
  return bytes;
}

struct PkeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool Ed25519Holds(const MinisignKey& key, const uint8_t* signature, const uint8_t* message, std::size_t size) {
  std::unique_ptr<EVP_PKEY, PkeyDeleter> pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.key.data(), key.key.size()));
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  return pkey && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), signature, kEd25519SignatureBytes, message, size) == 1;
}

std::optional<std::array<uint8_t, 64>> Blake2b512(std::string_view content) {
  std::array<uint8_t, 64> digest{};
  unsigned int n = 0;
  if (EVP_Digest(content.data(), content.size(), digest.data(), &n, EVP_blake2b512(), nullptr) != 1 ||
      n != digest.size())
    return std::nullopt;
  return digest;
}

// The next '\n'-ended line of `text` from `pos`, without its end; nothing
// when the text ends before one.
std::optional<std::string_view> NextLine(std::string_view text, std::size_t& pos) {
  const std::size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view line = text.substr(pos, end - pos);
  pos = end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

std::optional<MinisignKey> ParseMinisignKey(std::string_view base64) {
  const auto bytes = DecodeBase64(base64, kKeyBytes);
  if (!bytes || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') return std::nullopt;
  MinisignKey key;
  std::copy_n(bytes->begin() + 2, kMinisignKeyIdBytes, key.id.begin());
  std::copy_n(bytes->begin() + 2 + kMinisignKeyIdBytes, kEd25519KeyBytes, key.key.begin());
  return key;
}

std::string MinisignKeyIdText(const MinisignKeyId& id) {
  // minisign prints the id as a little-endian 64-bit number.
  std::string text;
  for (auto it = id.rbegin(); it != id.rend(); ++it) text += FormatText("%02X", *it);
  return text;
}

std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text, std::string& problem) {
  problem.clear();
  if (text.size() > kMinisignSignatureMaxBytes) {
    problem = "签名文件过大";
    return std::nullopt;
  }
  std::size_t pos = 0;
  const auto untrusted = NextLine(text, pos);
  const auto encoded = NextLine(text, pos);
  const auto trusted = NextLine(text, pos);
  std::optional<std::string_view> global = NextLine(text, pos);
  if (!global && pos < text.size()) global = text.substr(pos), pos = text.size();  // the last line may lack its end
  if (!untrusted || !encoded || !trusted || !global || pos != text.size() || !untrusted->starts_with(kUntrustedPrefix) ||
      !trusted->starts_with(kTrustedPrefix)) {
    problem = "签名文件格式无效";
    return std::nullopt;
  }
  const auto sig = DecodeBase64(*encoded, kSignatureBytes);
  const auto globalBytes = DecodeBase64(*global, kEd25519SignatureBytes);
  if (!sig || !globalBytes) {
    problem = "签名文件格式无效";
    return std::nullopt;
  }
  MinisignSignature s;
  if ((*sig)[0] != 'E' || ((*sig)[1] != 'D' && (*sig)[1] != 'd')) {
    problem = "签名算法不受支持";
    return std::nullopt;
  }
  s.prehashed = (*sig)[1] == 'D';
  std::copy_n(sig->begin() + 2, kMinisignKeyIdBytes, s.keyId.begin());
  std::copy_n(sig->begin() + 2 + kMinisignKeyIdBytes, kEd25519SignatureBytes, s.signature.begin());
  s.trustedComment = std::string(trusted->substr(kTrustedPrefix.size()));
  std::copy(globalBytes->begin(), globalBytes->end(), s.globalSignature.begin());
  return s;
}

std::string VerifyMinisign(const MinisignSignature& signature, const std::vector<MinisignKey>& trusted,
                           std::string_view content) {
  const auto key = std::find_if(trusted.begin(), trusted.end(),
                                [&](const MinisignKey& k) { return k.id == signature.keyId; });
  if (key == trusted.end()) return "签名密钥" + MinisignKeyIdText(signature.keyId) + "不受信任";
  std::optional<std::array<uint8_t, 64>> digest;
  if (signature.prehashed && !(digest = Blake2b512(content))) return "无法计算BLAKE2b摘要";
  const auto* message = digest ? digest->data() : reinterpret_cast<const uint8_t*>(content.data());
  if (!Ed25519Holds(*key, signature.signature.data(), message, digest ? digest->size() : content.size()))
    return "签名无效";
  std::vector<uint8_t> covered(signature.signature.begin(), signature.signature.end());
  covered.insert(covered.end(), signature.trustedComment.begin(), signature.trustedComment.end());
  if (!Ed25519Holds(*key, signature.globalSignature.data(), covered.data(), covered.size()))
    return "可信注释的签名无效";
  return std::string();
}

}  // namespace marbloom
