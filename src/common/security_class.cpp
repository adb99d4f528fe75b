#include "common/security_class.h"

#include <array>
#include <cstring>
#include <initializer_list>

namespace marbloom {
namespace {

// One prefix rule: a one- to three-digit prefix, or a range "abc-abd" of
// prefixes of the same length, and the type it yields.
struct PrefixRule {
  const char* prefixes;
  int8_t type;
};

constexpr PrefixRule kSzRules[] = {
    {"39", 1},    {"000", 2},   {"001", 2},   {"005-009", 2}, {"002-004", 3}, {"20", 4},
    {"03", 5},    {"08", 5},    {"38", 5},    {"23", 6},      {"28", 6},      {"10", 7},
    {"19", 7},    {"11", 8},    {"121", 8},   {"130", 8},     {"132-139", 8}, {"145", 8},
    {"148", 8},   {"149", 8},   {"120", 9},   {"122-129", 9}, {"131", 10},    {"150-158", 11},
    {"18", 11},   {"16", 12},   {"17", 12},   {"159", 14},    {"07", 15},     {"36", 15},
    {"37", 15},   {"30", 16},   {"140-144", 17}, {"146", 17}, {"147", 17},
};

constexpr PrefixRule kShRules[] = {
    {"000", 51},     {"99", 51},      {"60-67", 52},   {"680-687", 52}, {"69", 52},
    {"90", 53},      {"580-587", 54}, {"589", 54},     {"009", 55},     {"01-08", 55},
    {"101", 55},     {"130", 55},     {"140", 55},     {"147", 55},     {"157", 55},
    {"160", 55},     {"171", 55},     {"186", 55},     {"120-125", 56}, {"127-129", 56},
    {"131", 56},     {"132", 56},     {"135-137", 56}, {"139", 56},     {"142", 56},
    {"143", 56},     {"146", 56},     {"149", 56},     {"150-152", 56}, {"155", 56},
    {"156", 56},     {"159", 56},     {"162", 56},     {"163", 56},     {"165-169", 56},
    {"170", 56},     {"173", 56},     {"175", 56},     {"177-179", 56}, {"180", 56},
    {"183-185", 56}, {"188", 56},     {"189", 56},     {"193", 56},     {"194", 56},
    {"196-199", 56}, {"100", 57},     {"11", 57},      {"126", 57},     {"145", 57},
    {"2", 58},       {"500", 59},     {"507-509", 59}, {"519", 60},     {"52", 60},
    {"501-506", 61}, {"510-518", 62}, {"53-57", 62},   {"588", 62},     {"59", 62},
    {"700-703", 63}, {"707-709", 63}, {"71", 63},      {"72", 63},      {"730-732", 63},
    {"734", 63},     {"736-739", 63}, {"740-742", 63}, {"747-749", 63}, {"752", 63},
    {"760-763", 63}, {"765-769", 63}, {"77", 63},      {"780-782", 63}, {"784-789", 63},
    {"790-792", 63}, {"795-799", 63}, {"93", 63},      {"09", 64},      {"102-109", 64},
    {"133", 64},     {"134", 64},     {"138", 64},     {"141", 64},     {"144", 64},
    {"148", 64},     {"153", 64},     {"154", 64},     {"158", 64},     {"161", 64},
    {"164", 64},     {"172", 64},     {"174", 64},     {"176", 64},     {"181", 64},
    {"182", 64},     {"187", 64},     {"190-192", 64}, {"195", 64},     {"704-706", 64},
    {"733", 64},     {"735", 64},     {"743-746", 64}, {"750", 64},     {"751", 64},
    {"753-759", 64}, {"764", 64},     {"783", 64},     {"793", 64},     {"794", 64},
    {"688", 65},     {"689", 65},     {"3", 66},       {"001-008", 99}, {"4", 99},
    {"91", 99},      {"92", 99},      {"94-98", 99},   {"8", 101},
};

constexpr PrefixRule kBjRules[] = {
    {"899", 110}, {"41", 111},      {"43-49", 111}, {"83", 111},  {"87", 111},
    {"880-888", 111}, {"81", 112},  {"840", 117},   {"841", 117}, {"850", 117},
    {"889", 117},
};

using TypeTable = std::array<int8_t, 1000>;

// Applies a rule to every three-digit prefix it covers.
void Apply(TypeTable& table, const PrefixRule& rule) {
  const char* text = rule.prefixes;
  const char* dash = std::strchr(text, '-');
  std::size_t width = dash ? static_cast<std::size_t>(dash - text) : std::strlen(text);
  int low = 0;
  for (std::size_t i = 0; i < width; ++i) low = low * 10 + (text[i] - '0');
  int high = low;
  if (dash) {
    high = 0;
    for (std::size_t i = 0; i < width; ++i) high = high * 10 + (dash[1 + i] - '0');
  }
  int spread = width == 1 ? 100 : width == 2 ? 10 : 1;
  for (int p = low; p <= high; ++p)
    for (int k = 0; k < spread; ++k) table[static_cast<std::size_t>(p * spread + k)] = rule.type;
}

template <std::size_t N>
TypeTable BuildTable(const PrefixRule (&rules)[N], int8_t defaultType) {
  TypeTable table;
  table.fill(defaultType);
  // Shorter prefixes first, so a longer prefix wins where both apply.
  for (std::size_t width = 1; width <= 3; ++width)
    for (const PrefixRule& rule : rules) {
      const char* dash = std::strchr(rule.prefixes, '-');
      std::size_t w = dash ? static_cast<std::size_t>(dash - rule.prefixes) : std::strlen(rule.prefixes);
      if (w == width) Apply(table, rule);
    }
  return table;
}

const TypeTable& MarketTable(int market) {
  static const TypeTable kTables[3] = {BuildTable(kSzRules, 49), BuildTable(kShRules, 99),
                                       BuildTable(kBjRules, 119)};
  return kTables[market];
}

constexpr int8_t kDefaultTypes[3] = {49, 99, 119};

bool OneOf(int type, std::initializer_list<int> types) {
  for (int t : types)
    if (t == type) return true;
  return false;
}

}  // namespace

bool TypeIn(int type, TypeSet set) {
  switch (set) {
    case TypeSet::kIndex: return OneOf(type, {1, 51, 101});
    case TypeSet::kThreeDecimals: return OneOf(type, {5, 54, 11, 12, 14, 53, 59, 60, 61, 62});
    case TypeSet::kTenUnit: return OneOf(type, {7, 8, 9, 10, 55, 56, 57, 58, 64, 112});
    case TypeSet::kUnitVolume: return OneOf(type, {1, 51, 101, 5, 54});
    case TypeSet::kAmountFromVolume: return OneOf(type, {10, 58});
    case TypeSet::kCloseOnly: return OneOf(type, {12, 60, 62});
    case TypeSet::kRunningExtra: return OneOf(type, {12, 14, 60, 62});
  }
  return false;
}

int8_t ClassifySecurity(int market, std::string_view code) {
  if (market < 0 || market > 2) return 0;
  if (code.size() < 3) return kDefaultTypes[market];
  int prefix = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (code[i] < '0' || code[i] > '9') return kDefaultTypes[market];
    prefix = prefix * 10 + (code[i] - '0');
  }
  return MarketTable(market)[static_cast<std::size_t>(prefix)];
}

int PriceDecimals(int market, std::string_view code, int tckv4) {
  const int type = ClassifySecurity(market, code);
  if (TypeIn(type, TypeSet::kThreeDecimals)) return 3;
  if (TypeIn(type, TypeSet::kTenUnit)) return tckv4 != 0 ? 4 : 3;
  return 2;
}

// Of the types counted one by one, only the sh indexes "888..." (type 101)
// begin with 888; those count in hundreds.
int VolumeUnit(int market, std::string_view code) {
  const int type = ClassifySecurity(market, code);
  if (TypeIn(type, TypeSet::kUnitVolume)) return code.substr(0, 3) == "888" ? 100 : 1;
  if (TypeIn(type, TypeSet::kTenUnit)) return 10;
  return 100;
}

int16_t DailyVolumeDivisor(int market, std::string_view code) {
  return TypeIn(ClassifySecurity(market, code), TypeSet::kTenUnit) ? 10 : 1;
}

int PriceScale(int decimals) {
  static constexpr int kScales[5] = {1, 10, 100, 1000, 10000};
  return decimals >= 0 && decimals <= 4 ? kScales[decimals] : 100;
}

int IsIndexType(int type) { return TypeIn(type, TypeSet::kIndex) ? 1 : 0; }

int IsVolumeAmountType(int type) { return TypeIn(type, TypeSet::kAmountFromVolume) ? 1 : 0; }

}  // namespace marbloom
