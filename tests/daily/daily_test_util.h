#pragma once
// Helpers of the daily tests: records and files built by hand, source pairs,
// the run log read back as UTF-8, and a fixture with an engine on a fresh tree.
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text_encoding.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "common/data_layout.h"
#include "daily/daily_record.h"
#include "daily/daily_source_formats.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace marbloom::test {

inline DailyRecord Rec(uint32_t date, int32_t close = 1000) {
  DailyRecord r{};
  r.date = date;
  r.open = close - 1;
  r.high = close + 5;
  r.low = close - 5;
  r.close = close;
  r.amount = 12345.5f;
  r.volume = 100;
  r.word30 = 1;
  return r;
}

inline std::vector<uint8_t> Bytes(const std::vector<DailyRecord>& records) {
  std::vector<uint8_t> out(records.size() * sizeof(DailyRecord));
  if (!records.empty()) std::memcpy(out.data(), records.data(), out.size());
  return out;
}

inline std::vector<DailyRecord> Records(const std::vector<uint8_t>& bytes) {
  std::vector<DailyRecord> out(bytes.size() / sizeof(DailyRecord));
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(DailyRecord));
  return out;
}

inline std::vector<uint32_t> Dates(const std::string& path) {
  std::vector<uint32_t> dates;
  for (const DailyRecord& r : Records(ReadFileBytes(path))) dates.push_back(r.date);
  return dates;
}

inline void WriteDaily(const DataLayout& layout, int market, const std::string& code,
                       const std::vector<DailyRecord>& records) {
  WriteFileBytes(layout.DailyFile(market, code), Bytes(records));
}

// Every run-log line written so far, as UTF-8.
inline std::string LogText() { return ReadRunLog(); }

inline int CountOccurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// One security of a hand-made source pair.
struct SourceEntry {
  std::string code;
  int8_t type = 2;
  uint8_t decimals = 2;
  int16_t lot = 100;
  QuoteRecord quote{};
};

inline SourceEntry Stock(const std::string& code, double close, int64_t volume = 1000) {
  SourceEntry e;
  e.code = code;
  e.quote.open = close;
  e.quote.high = close;
  e.quote.low = close;
  e.quote.close = close;
  e.quote.volume = volume;
  e.quote.amount = 1e6;
  return e;
}

inline std::string SourceName(const DataLayout& layout, int market, int date, const char* extension) {
  return std::string(extension) == "cod" ? layout.CodeListFile(market, date) : layout.QuoteFile(market, date);
}

inline void WriteSourcePair(const DataLayout& layout, int market, int date, const std::vector<SourceEntry>& entries) {
  std::vector<uint8_t> cod(entries.size() * sizeof(CodeListRecord)), md1(entries.size() * sizeof(QuoteRecord));
  for (std::size_t k = 0; k < entries.size(); ++k) {
    CodeListRecord c{};
    std::memset(&c, 0x5A, sizeof c);  // bytes the converter never reads
    std::memset(c.code, 0, sizeof c.code);
    std::memcpy(c.code, entries[k].code.data(), std::min(entries[k].code.size(), sizeof c.code));
    c.lotSize = entries[k].lot;
    c.priceDecimals = entries[k].decimals;
    c.securityType = entries[k].type;
    std::memcpy(cod.data() + k * sizeof c, &c, sizeof c);
    std::memcpy(md1.data() + k * sizeof(QuoteRecord), &entries[k].quote, sizeof(QuoteRecord));
  }
  WriteFileBytes(layout.CodeListFile(market, date), cod);
  WriteFileBytes(layout.QuoteFile(market, date), md1);
}

// One stock of each market on `date`, so that the day has every source pair.
inline void WriteEveryMarket(const DataLayout& layout, int date) {
  WriteSourcePair(layout, 0, date, {Stock("000901", 10)});
  WriteSourcePair(layout, 1, date, {Stock("600901", 10)});
  WriteSourcePair(layout, 2, date, {Stock("830901", 10)});
}

// A fresh data tree; `faults` fails the calls of an engine built on
// layout.WithFiles(faults).
class DailyTreeTest : public ::testing::Test {
 protected:
  std::string DailyFilePath(int market, std::string_view code) const { return layout.DailyFile(market, code); }
  void WriteDaily(int market, const std::string& code, const std::vector<DailyRecord>& records) const {
    test::WriteDaily(layout, market, code, records);
  }
  std::string SourceName(int market, int date, const char* extension) const {
    return test::SourceName(layout, market, date, extension);
  }
  void WriteSourcePair(int market, int date, const std::vector<SourceEntry>& entries) const {
    test::WriteSourcePair(layout, market, date, entries);
  }

  TestTree tree;
  DataLayout layout = tree.layout();
  FaultFileSystem faults;
};

}  // namespace marbloom::test
