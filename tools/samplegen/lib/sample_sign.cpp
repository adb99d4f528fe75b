#include "sample_sign.h"

#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "download/manifest_verify.h"

namespace marbloom::sample {
namespace fs = std::filesystem;
namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

std::string Base64(const uint8_t* data, std::size_t size) {
  std::string text(4 * ((size + 2) / 3) + 1, '\0');
  text.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data,
                                                       static_cast<int>(size))));
  return text;
}

struct PkeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

std::array<uint8_t, 64> Ed25519Sign(const SigningKey& key, const uint8_t* message, std::size_t size) {
  std::array<uint8_t, 64> signature{};
  std::unique_ptr<EVP_PKEY, PkeyDeleter> pkey(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.seed.data(), key.seed.size()));
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  std::size_t length = signature.size();
  if (pkey && ctx && EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) == 1)
    EVP_DigestSign(ctx.get(), signature.data(), &length, message, size);
  return signature;
}

std::optional<std::string> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteWhole(const std::string& path, const std::string& text, std::string* error) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush()) return Fail(error, "cannot write " + temp);
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  return !ec || Fail(error, "cannot rename " + temp);
}

}  // namespace

std::optional<SigningKey> ReadSigningKey(const std::string& path, std::string* error) {
  const std::optional<std::string> text = ReadWhole(path);
  const std::size_t line = text ? text->find('\n') : std::string::npos;
  if (line == std::string::npos) return Fail(error, "cannot read " + path), std::nullopt;
  std::string encoded = text->substr(line + 1);
  encoded.erase(std::remove_if(encoded.begin(), encoded.end(), [](char c) { return c == '\n' || c == '\r'; }),
                encoded.end());
  std::vector<uint8_t> bytes(encoded.size() / 4 * 3 + 3);
  const int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(encoded.data()),
                                static_cast<int>(encoded.size()));
  if (n < 158 || bytes[0] != 'E' || bytes[1] != 'd' || bytes[2] != 0 || bytes[3] != 0)
    return Fail(error, path + " is no unencrypted minisign secret key (minisign -G -W)"), std::nullopt;
  SigningKey key;
  std::copy_n(bytes.begin() + 54, 8, key.id.begin());
  std::copy_n(bytes.begin() + 62, 32, key.seed.begin());
  return key;
}

std::string MinisignSignatureText(const SigningKey& key, std::string_view content, std::string_view trustedComment) {
  std::array<uint8_t, 64> digest{};
  unsigned int n = 0;
  EVP_Digest(content.data(), content.size(), digest.data(), &n, EVP_blake2b512(), nullptr);
  std::vector<uint8_t> signature{'E', 'D'};
  signature.insert(signature.end(), key.id.begin(), key.id.end());
  const std::array<uint8_t, 64> body = Ed25519Sign(key, digest.data(), digest.size());
  signature.insert(signature.end(), body.begin(), body.end());
  std::vector<uint8_t> global(body.begin(), body.end());
  global.insert(global.end(), trustedComment.begin(), trustedComment.end());
  const std::array<uint8_t, 64> globalSignature = Ed25519Sign(key, global.data(), global.size());
  return "untrusted comment: signature from the marbloom sample server (demo key)\n" +
         Base64(signature.data(), signature.size()) + "\ntrusted comment: " + std::string(trustedComment) + "\n" +
         Base64(globalSignature.data(), globalSignature.size()) + "\n";
}

bool SignFolder(const std::string& dir, const SigningKey& key, std::string* error) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (entry.is_regular_file() && entry.path().extension() == ".zip") names.push_back(entry.path().filename());
  if (ec) return Fail(error, "cannot list " + dir);
  std::sort(names.begin(), names.end());
  std::string sums;
  for (const std::string& name : names) {
    std::ifstream in(dir + name, std::ios::binary);
    Sha256Stream hash;
    std::vector<char> buffer(1 << 16);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
      hash.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    const std::optional<Sha256Digest> digest = hash.Finish();
    if (!in.eof() || !digest) return Fail(error, "cannot read " + dir + name);
    sums += DigestHex(*digest) + "  " + name + "\n";
  }
  const std::string comment = "timestamp:" + std::to_string(std::time(nullptr)) + "\tfile:" + kManifestName;
  return WriteWhole(dir + kManifestName, sums, error) &&
         WriteWhole(dir + kManifestSignatureName, MinisignSignatureText(key, sums, comment), error);
}

}  // namespace marbloom::sample
