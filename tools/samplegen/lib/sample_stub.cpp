// Placeholder bodies until the generator lands.
#include "samplegen.h"

namespace marbloom::sample {

std::vector<SampleSecurity> SecurityUniverse(int, const SampleOptions&) { return {}; }
std::vector<SampleSecurity> MarketUniverse(int, int, const SampleOptions&) { return {}; }
std::vector<SampleQuote> MarketQuotes(int, int, const SampleOptions&) { return {}; }
std::vector<uint8_t> CodeListBytes(int, int, const SampleOptions&) { return {}; }
std::vector<uint8_t> QuoteFileBytes(int, int, const SampleOptions&) { return {}; }
std::string CodeListFileName(int, int) { return {}; }
std::string QuoteFileName(int, int) { return {}; }
std::vector<SampleTickDay> TickDays(int, const SampleOptions&) { return {}; }
std::vector<uint8_t> TickArchiveBytes(int, const SampleOptions&) { return {}; }
bool WriteDailySources(int, const SampleOptions&, const std::string&, std::string*) { return false; }
bool WriteTickArchive(int, const SampleOptions&, const std::string&, std::string*) { return false; }
bool WriteDailyArchiveZip(int, const SampleOptions&, const std::string&, std::string*) { return false; }
bool WriteTickArchiveZip(int, const SampleOptions&, const std::string&, std::string*) { return false; }
bool WriteConfigArchive(const std::string&, std::string*) { return false; }
std::string ConfigFileText() { return {}; }
bool WriteServerTree(int, int, const SampleOptions&, const std::string&, std::string*) { return false; }
std::string DayArchiveName(int) { return {}; }
bool IsServedDate(int, int) { return false; }

}  // namespace marbloom::sample
