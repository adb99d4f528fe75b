#include "common/security_class.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


namespace marbloom {
namespace {

// One row of the classification tables: every prefix listed for a type.
struct PrefixRow {
  int market;
  int type;
  std::vector<std::string> prefixes;  // "12", "150-158" (inclusive ranges of equal width)
};

std::ostream& operator<<(std::ostream& os, const PrefixRow& row) {
  return os << "market " << row.market << " type " << row.type;
}

const std::vector<PrefixRow> kRows = {
    {0, 1, {"39"}},
    {0, 2, {"000", "001", "005-009"}},
    {0, 3, {"002-004"}},
    {0, 4, {"20"}},
    {0, 5, {"03", "08", "38"}},
    {0, 6, {"23", "28"}},
    {0, 7, {"10", "19"}},
    {0, 8, {"11", "121", "130", "132-139", "145", "148", "149"}},
    {0, 9, {"120", "122-129"}},
    {0, 10, {"131"}},
    {0, 11, {"150-158", "18"}},
    {0, 12, {"16", "17"}},
    {0, 14, {"159"}},
    {0, 15, {"07", "36", "37"}},
    {0, 16, {"30"}},
    {0, 17, {"140-144", "146", "147"}},
    {0, 49, {"01", "02", "04", "05", "06", "09", "21", "22", "24-27", "29", "31-35", "4", "5", "6", "7", "8", "9"}},
    {1, 51, {"000", "99"}},
    {1, 52, {"60-67", "680-687", "69"}},
    {1, 53, {"90"}},
    {1, 54, {"580-587", "589"}},
    {1, 55, {"009", "01-08", "101", "130", "140", "147", "157", "160", "171", "186"}},
    {1, 56, {"120-125", "127-129", "131", "132", "135-137", "139", "142", "143", "146", "149", "150-152",
             "155", "156", "159", "162", "163", "165-169", "170", "173", "175", "177-179", "180", "183-185",
             "188", "189", "193", "194", "196-199"}},
    {1, 57, {"100", "11", "126", "145"}},
    {1, 58, {"2"}},
    {1, 59, {"500", "507-509"}},
    {1, 60, {"519", "52"}},
    {1, 61, {"501-506"}},
    {1, 62, {"510-518", "53-57", "588", "59"}},
    {1, 63, {"700-703", "707-709", "71", "72", "730-732", "734", "736-739", "740-742", "747-749", "752",
             "760-763", "765-769", "77", "780-782", "784-789", "790-792", "795-799", "93"}},
    {1, 64, {"09", "102-109", "133", "134", "138", "141", "144", "148", "153", "154", "158", "161", "164",
             "172", "174", "176", "181", "182", "187", "190-192", "195", "704-706", "733", "735", "743-746",
             "750", "751", "753-759", "764", "783", "793", "794"}},
    {1, 65, {"688", "689"}},
    {1, 66, {"3"}},
    {1, 99, {"001-008", "4", "91", "92", "94-98"}},
    {1, 101, {"8"}},
    {2, 110, {"899"}},
    {2, 111, {"41", "43-49", "83", "87", "880-888"}},
    {2, 112, {"81"}},
    {2, 117, {"840", "841", "850", "889"}},
    {2, 119, {"0", "1", "2", "3", "40", "42", "5", "6", "7", "80", "82", "842-849", "851-859", "86",
              "890-898", "9"}},
};

// Both ends of every listed prefix, padded out to six digits with 0s and 9s.
std::vector<std::string> SampleCodes(const std::string& prefix) {
  std::vector<std::string> bounds;
  std::size_t dash = prefix.find('-');
  if (dash == std::string::npos) {
    bounds = {prefix};
  } else {
    bounds = {prefix.substr(0, dash), prefix.substr(dash + 1)};
  }
  std::vector<std::string> codes;
  for (const std::string& b : bounds) {
    codes.push_back(b + std::string(6 - b.size(), '0'));
    codes.push_back(b + std::string(6 - b.size(), '9'));
  }
  return codes;
}

class PrefixTable : public ::testing::TestWithParam<PrefixRow> {};

TEST_P(PrefixTable, EveryListedPrefixYieldsItsType) {
  const PrefixRow& row = GetParam();
  for (const std::string& prefix : row.prefixes)
    for (const std::string& code : SampleCodes(prefix))
      EXPECT_EQ(ClassifySecurity(row.market, code), row.type) << prefix << " " << code;
}

INSTANTIATE_TEST_SUITE_P(AllRows, PrefixTable, ::testing::ValuesIn(kRows));

TEST(SecurityClass, TheTablesCoverEveryThreeDigitPrefixExactlyOnce) {
  for (int market = 0; market < 3; ++market) {
    std::vector<int> hits(1000, 0);
    for (const PrefixRow& row : kRows) {
      if (row.market != market) continue;
      for (const std::string& prefix : row.prefixes) {
        std::size_t dash = prefix.find('-');
        std::string lo = prefix.substr(0, dash), hi = dash == std::string::npos ? lo : prefix.substr(dash + 1);
        int spread = lo.size() == 1 ? 100 : lo.size() == 2 ? 10 : 1;
        for (int p = std::stoi(lo); p <= std::stoi(hi); ++p)
          for (int k = 0; k < spread; ++k) {
            int three = p * spread + k;
            ++hits[three];
            char code[8];
            std::snprintf(code, sizeof code, "%03d123", three);
            EXPECT_EQ(ClassifySecurity(market, code), row.type) << code;
          }
      }
    }
    for (int p = 0; p < 1000; ++p) EXPECT_EQ(hits[p], 1) << "market " << market << " prefix " << p;
  }
}

TEST(SecurityClass, NamedExamples) {
  EXPECT_EQ(ClassifySecurity(0, "000001"), 2);
  EXPECT_EQ(ClassifySecurity(0, "002001"), 3);
  EXPECT_EQ(ClassifySecurity(0, "300001"), 16);
  EXPECT_EQ(ClassifySecurity(0, "399001"), 1);
  EXPECT_EQ(ClassifySecurity(0, "159901"), 14);
  EXPECT_EQ(ClassifySecurity(0, "131810"), 10);
  EXPECT_EQ(ClassifySecurity(0, "600000"), 49);
  EXPECT_EQ(ClassifySecurity(1, "600000"), 52);
  EXPECT_EQ(ClassifySecurity(1, "688001"), 65);
  EXPECT_EQ(ClassifySecurity(1, "000001"), 51);
  EXPECT_EQ(ClassifySecurity(1, "999999"), 51);
  EXPECT_EQ(ClassifySecurity(1, "204001"), 58);
  EXPECT_EQ(ClassifySecurity(1, "510050"), 62);
  EXPECT_EQ(ClassifySecurity(1, "880001"), 101);
  EXPECT_EQ(ClassifySecurity(1, "001000"), 99);
  EXPECT_EQ(ClassifySecurity(2, "430047"), 111);
  EXPECT_EQ(ClassifySecurity(2, "899050"), 110);
  EXPECT_EQ(ClassifySecurity(2, "810001"), 112);
  EXPECT_EQ(ClassifySecurity(2, "000001"), 119);
  EXPECT_EQ(ClassifySecurity(3, "000001"), 0);
  EXPECT_EQ(ClassifySecurity(-1, "000001"), 0);
}

struct TypeProperties {
  int market;
  const char* code;
  int decimalsWithTckv4, decimalsWithout, unit, divisor, index;
};

class PropertyTable : public ::testing::TestWithParam<TypeProperties> {};

TEST_P(PropertyTable, DerivedProperties) {
  const TypeProperties& p = GetParam();
  EXPECT_EQ(PriceDecimals(p.market, p.code, 1), p.decimalsWithTckv4);
  EXPECT_EQ(PriceDecimals(p.market, p.code, 0), p.decimalsWithout);
  EXPECT_EQ(VolumeUnit(p.market, p.code), p.unit);
  EXPECT_EQ(DailyVolumeDivisor(p.market, p.code), p.divisor);
  EXPECT_EQ(IsIndexType(ClassifySecurity(p.market, p.code)), p.index);
}

INSTANTIATE_TEST_SUITE_P(
    ByGroup, PropertyTable,
    ::testing::Values(TypeProperties{0, "399001", 2, 2, 1, 1, 1},    // type 1
                      TypeProperties{1, "000001", 2, 2, 1, 1, 1},    // type 51
                      TypeProperties{1, "880001", 2, 2, 1, 1, 1},    // type 101
                      TypeProperties{1, "888001", 2, 2, 100, 1, 1},  // type 101, 888
                      TypeProperties{0, "030001", 3, 3, 1, 1, 0},    // type 5
                      TypeProperties{1, "580001", 3, 3, 1, 1, 0},    // type 54
                      TypeProperties{0, "150001", 3, 3, 100, 1, 0},  // type 11
                      TypeProperties{0, "160001", 3, 3, 100, 1, 0},  // type 12
                      TypeProperties{0, "159901", 3, 3, 100, 1, 0},  // type 14
                      TypeProperties{1, "900901", 3, 3, 100, 1, 0},  // type 53
                      TypeProperties{1, "500001", 3, 3, 100, 1, 0},  // type 59
                      TypeProperties{1, "520001", 3, 3, 100, 1, 0},  // type 60
                      TypeProperties{1, "501001", 3, 3, 100, 1, 0},  // type 61
                      TypeProperties{1, "510050", 3, 3, 100, 1, 0},  // type 62
                      TypeProperties{0, "100001", 4, 3, 10, 10, 0},  // type 7
                      TypeProperties{0, "110001", 4, 3, 10, 10, 0},  // type 8
                      TypeProperties{0, "123001", 4, 3, 10, 10, 0},  // type 9
                      TypeProperties{0, "131810", 4, 3, 10, 10, 0},  // type 10
                      TypeProperties{1, "010001", 4, 3, 10, 10, 0},  // type 55
                      TypeProperties{1, "120001", 4, 3, 10, 10, 0},  // type 56
                      TypeProperties{1, "110001", 4, 3, 10, 10, 0},  // type 57
                      TypeProperties{1, "204001", 4, 3, 10, 10, 0},  // type 58
                      TypeProperties{1, "090001", 4, 3, 10, 10, 0},  // type 64
                      TypeProperties{2, "810001", 4, 3, 10, 10, 0},  // type 112
                      TypeProperties{0, "000001", 2, 2, 100, 1, 0},  // type 2
                      TypeProperties{0, "300001", 2, 2, 100, 1, 0},  // type 16
                      TypeProperties{1, "600000", 2, 2, 100, 1, 0},  // type 52
                      TypeProperties{2, "430047", 2, 2, 100, 1, 0},  // type 111
                      TypeProperties{3, "000001", 2, 2, 100, 1, 0}));  // no market

TEST(SecurityClass, ScalesAndTypeTests) {
  EXPECT_EQ(PriceScale(0), 1);
  EXPECT_EQ(PriceScale(2), 100);
  EXPECT_EQ(PriceScale(4), 10000);
  EXPECT_EQ(PriceScale(5), 100);
  EXPECT_EQ(PriceScale(-1), 100);
  EXPECT_EQ(IsVolumeAmountType(10), 1);
  EXPECT_EQ(IsVolumeAmountType(58), 1);
  EXPECT_EQ(IsVolumeAmountType(57), 0);
  EXPECT_EQ(IsIndexType(101), 1);
  EXPECT_EQ(IsIndexType(0), 0);
}

}  // namespace
}  // namespace marbloom
