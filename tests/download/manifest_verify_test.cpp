// Signed manifests as the minisign program writes them, and hostile ones.
#include "download/manifest_verify.h"

#include <gtest/gtest.h>

#include <functional>

#include "download_test_support.h"
#include "support/temp_dir.h"

namespace marbloom {
namespace {

// Lines of a manifest: a digest of one repeated hexadecimal digit, then the rest of the line.
[[gnu::noinline]] std::string Sums(std::initializer_list<std::pair<char, const char*>> lines) {
  std::string text;
  for (const auto& [digit, rest] : lines) text += std::string(64, digit) + rest;
  return text;
}
const std::string kLine = Sums({{'a', "  20220505.zip\n"}});

struct ManifestCase {
  const char* name;
  std::string sums;  // the manifest as signed
  enum Signer { kTrusted, kLegacy, kUntrusted } signer = kTrusted;
  // Changes the files after signing: (manifest, signature).
  std::function<void(std::string&, std::string&)> tamper = nullptr;
  bool taken = false;
};

class ManifestVerify : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestVerify, TakesOnlyWhatATrustedKeySigned) {
  if (!test::MinisignSigner::Available()) GTEST_SKIP() << "minisign is not installed";
  const ManifestCase& c = GetParam();
  test::TempDir dir;
  test::MinisignSigner trusted, other;
  const std::string file = dir.path() + "SHA256SUMS";
  test::WriteFileBytes(file, std::vector<uint8_t>(c.sums.begin(), c.sums.end()));
  ASSERT_TRUE((c.signer == ManifestCase::kUntrusted ? other : trusted).Sign(file, "day 20220505", c.signer == ManifestCase::kLegacy));
  std::string sums = test::ReadFileText(file), signature = test::ReadFileText(file + ".minisig");
  if (c.tamper) c.tamper(sums, signature);

  const auto key = ParseMinisignKey(trusted.publicKey());
  ASSERT_TRUE(key);
  std::string problem;
  const auto manifest = VerifyManifest(sums, signature, {*key}, problem);
  EXPECT_EQ(manifest.has_value(), c.taken) << problem;
  EXPECT_EQ(problem.empty(), c.taken);
  if (c.taken) {
    EXPECT_EQ(manifest->trustedComment, "day 20220505");
  }
}

std::string Huge(std::size_t n) { return std::string(n, 'x'); }

INSTANTIATE_TEST_SUITE_P(
    Rows, ManifestVerify,
    ::testing::Values(
        ManifestCase{"Prehashed", Sums({{'a', "  20220505.zip\n"}, {'B', " *20220506.zip\n"}}), ManifestCase::kTrusted, nullptr, true},
        ManifestCase{"Legacy", kLine, ManifestCase::kLegacy, nullptr, true},
        ManifestCase{"UntrustedKey", kLine, ManifestCase::kUntrusted},
        ManifestCase{"ManifestByteChanged", kLine, ManifestCase::kTrusted, [](std::string& s, std::string&) { s[3] = 'b'; }},
        ManifestCase{"TrustedCommentChanged", kLine, ManifestCase::kTrusted,
                     [](std::string&, std::string& g) { g.replace(g.find("day "), 4, "DAY "); }},
        ManifestCase{"SignatureTruncated", kLine, ManifestCase::kTrusted,
                     [](std::string&, std::string& g) { g.resize(g.size() / 2); }},
        ManifestCase{"SignatureOneLine", kLine, ManifestCase::kTrusted, [](std::string&, std::string& g) { g = "no line break"; }},
        ManifestCase{"SignatureHuge", kLine, ManifestCase::kTrusted, [](std::string&, std::string& g) { g += Huge(1 << 20); }},
        ManifestCase{"SignatureBinary", kLine, ManifestCase::kTrusted,
                     [](std::string&, std::string& g) { g = std::string("\0\xff\x01\n\n\n\n", 7); }},
        ManifestCase{"ManifestHuge", kLine, ManifestCase::kTrusted, [](std::string& s, std::string&) { s += Huge(2 << 20); }},
        // Signed by the trusted key itself, yet no manifest a publisher writes.
        ManifestCase{"NameWithDotDot", Sums({{'a', "  ../20220505.zip\n"}})},
        ManifestCase{"NameDotDot", Sums({{'a', "  ..\n"}})},
        ManifestCase{"DuplicateName", Sums({{'a', "  20220505.zip\n"}, {'b', "  20220505.zip\n"}})},
        ManifestCase{"BinaryLine", std::string("\x01\x02\xff\n", 4)},
        ManifestCase{"ShortDigest", Sums({{'a', "  20220505.zip\n"}}).substr(1)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrustedKeys, ASettingOfKeysRefusesAWordThatIsNoKey) {
  if (!test::MinisignSigner::Available()) GTEST_SKIP() << "minisign is not installed";
  test::MinisignSigner a, b;
  std::string refused;
  const auto keys = ParseTrustedKeys(" " + a.publicKey() + "  " + b.publicKey() + " ", refused);
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->size(), 2u);
  EXPECT_FALSE(ParseTrustedKeys(a.publicKey() + " RWQ", refused));
  EXPECT_EQ(refused, "RWQ");
}

}  // namespace
}  // namespace marbloom
