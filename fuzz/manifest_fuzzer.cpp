// Reads the input as a server's signature file and as its manifest, as the
// download client does before it takes an archive: the signature's fields,
// its check against a fixed key, and the manifest's lines. Nothing a server
// sends may crash either reader.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/manifest_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // A record separator (0x1e) splits the input into signature and manifest.
  const std::size_t split = std::min(input.find('\x1e'), input.size());
  const std::string_view signature = input.substr(0, split), sums = input.substr(std::min(split + 1, size));
  static const auto key = marbloom::ParseMinisignKey("RWTNKbemlcvmBgOKDqv4nQGuf+oOoVtJuYWhB3Wiud5mL4qLHxETht1j");
  std::string problem;
  marbloom::VerifyManifest(sums, signature, {*key}, problem);
  marbloom::ParseManifest(input, problem);
  std::string refused;
  marbloom::ParseTrustedKeys(signature, refused);
  return 0;
}
