#pragma once
// The sample market: a deterministic synthetic market of the three exchanges
// (sz, sh, bj) that produces, for any weekday from 20220501 on, the day's
// source files, its daily tick archive, the ZIP archives a download server
// publishes, and the same content in memory for independent checks.
//
// Determinism: every byte is a function of (seed, securities, full, date)
// alone. No clock, no unordered iteration, fixed ZIP timestamps and
// attributes. Dates are YYYYMMDD integers; directories end in '/'.
//
// The universe. Codes cover every security-type group of the classification
// tables (sz shares 000/001/002/003/300/301, B shares 200, indexes 399, ETFs
// 159, LOFs and funds 16x, bonds 10x/11x/12x/14x, repos 131, warrants 03x/08x,
// ...; sh shares 60x/688, indexes 000 and 880/888 (type 101), B shares 900,
// funds 50x/519/52x (types 59/60/61), ETFs 51x/56x/588 (type 62), bonds
// 01x/11x/12x/13x, repos 204, type 63/64/66/99 codes; bj shares 43x/83x/87x,
// index 899, types 112/117/119). A security list is stable from day to day:
// about 1 in 150 securities is listed after 20220501 and about 1 in 200 is
// delisted at some date; everything else exists on every date.
//
// Price decimals are fixed per type: 2 for shares and indexes, 3 for the
// three-decimal group (funds, ETFs, warrants, repos of types 10 and 58),
// 4 for the ten-unit bond group (types 7, 8, 9, 55, 56, 57, 64, 112). Lot
// sizes: 1 for indexes, 10 for bonds and repos, 100 otherwise, and 200/500 for
// about 1 in 50 shares and funds.
//
// Awkward cases in the daily files (rates are per security and day):
//  - suspended: about 2% of non-index securities have open/high/low 0,
//    close = previous close, volume 0 and status word 0;
//  - close-only funds: about 1 in 3 securities of types 12, 60, 62 have
//    open/high/low 0, a close, status word 0;
//  - no trade but listed: about 0.5% have status word non-zero, open/high/low
//    0 and volume 0; half of those have a non-zero auxiliary quantity;
//  - huge volumes: every repo and about 1% of the other non-index securities
//    have a volume above 4,290,000,000 (the lot form when their lot size is
//    not 1); index volumes are often above 2^32 as well;
//  - indexes carry advancing/declining counts; every byte the converter does
//    not read is random (names, the bytes after the code's terminator, ...).
//
// Awkward cases in the tick archive:
//  - most days open with a call-auction tick at 09:25:00 (kind 2); the rest
//    start in continuous trading; both sessions are filled;
//  - about 1 in 10 days has ticks in the lunch break (11:30:01 .. 12:59:59),
//    most days have a 15:00:00 closing tick and about 1 in 8 has ticks after
//    15:00 (after-hours trades up to 15:30);
//  - kinds 0, 1 and 2 in every day; prices walk up and down (negative deltas);
//  - about 1 tick in 5,000 has a volume of exactly 2^30 or above (some above
//    2^32);
//  - the extra series: a running value (delta coded, may go down) and a plain
//    value (a trade count, sometimes negative);
//  - about 1 block in 25, and every block under 64 bytes, is stored without
//    compression; the reserved bytes and the spare byte are random;
//  - suspended securities, close-only funds and no-trade days have no block;
//    a quick day has a few to about 200 ticks per security; a full-market day
//    has realistic lengths (shares 300 to about 4,800 ticks, bonds and funds
//    tens to 3,000, indexes one tick every 3 s: 4,800). A full-market day
//    takes about 10 s to write both archives (tick ZIP about 190 MB).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/data_layout.h"

namespace marbloom::sample {

inline constexpr int kFirstServedDate = 20220501;
inline constexpr int kQuickSecurities = 3000;
inline constexpr int kFullMarketSecurities = 16000;

// HTTP Basic credentials the download client sends.
inline constexpr const char* kServerUser = "BRIMSTONEX52";
inline constexpr const char* kServerPassword = "MARLIN39";
inline constexpr int kDefaultServerPort = 8650;

// Where the server tree keeps the two kinds of day archive (PATH11, PATH12
// of "downit5.cfg"), relative to the base URL.
inline constexpr const char* kDailyArchivePath = "daily/";
inline constexpr const char* kTickArchivePath = "ticks/";
inline constexpr const char* kConfigArchiveName = DataLayout::kConfigArchiveName;
inline constexpr const char* kConfigFileName = DataLayout::kConfigFileName;

struct SampleOptions {
  uint64_t seed = 1;
  // Approximate number of securities (all markets together, before the few
  // listings and delistings).
  int securities = kQuickSecurities;
  // Realistic tick-day lengths (full market); otherwise short days (quick).
  bool fullTickDays = false;

  static SampleOptions Quick(uint64_t seed = 1) { return SampleOptions{seed, kQuickSecurities, false}; }
  static SampleOptions FullMarket(uint64_t seed = 1) { return SampleOptions{seed, kFullMarketSecurities, true}; }
};

// ---------------------------------------------------------------- universe

struct SampleSecurity {
  int market = 0;           // 0 sz, 1 sh, 2 bj
  std::string code;         // six digits
  int8_t type = 0;          // SecurityType of the classification tables
  uint8_t priceDecimals = 2;
  int16_t lotSize = 100;
};

// The securities that exist on `date`, by market, each market in code-list
// order (ascending code).
std::vector<SampleSecurity> SecurityUniverse(int date, const SampleOptions& options);
std::vector<SampleSecurity> MarketUniverse(int date, int market, const SampleOptions& options);

// ------------------------------------------------------------ daily sources

struct SampleQuote {
  int market = 0;
  std::string code;
  int32_t status = 0;       // quote offset 0
  double open = 0, high = 0, low = 0, close = 0;
  int64_t volume = 0;       // quote offset 56
  double amount = 0;        // quote offset 72
  uint16_t advancing = 0;   // quote offset 152
  uint16_t declining = 0;   // quote offset 232
  bool auxiliaryZero = true;  // quote offset 322, 8 bytes all zero
};

// One quote per security of MarketUniverse(date, market), in that order.
std::vector<SampleQuote> MarketQuotes(int date, int market, const SampleOptions& options);

inline constexpr std::size_t kCodeListRecordSize = 150;
inline constexpr std::size_t kQuoteRecordSize = 512;

// The bytes of "<mm><yymmdd>.cod" and "<mm><yymmdd>.md1".
std::vector<uint8_t> CodeListBytes(int date, int market, const SampleOptions& options);
std::vector<uint8_t> QuoteFileBytes(int date, int market, const SampleOptions& options);

// "sz220505.cod" style names.
std::string CodeListFileName(int date, int market);
std::string QuoteFileName(int date, int market);

// ----------------------------------------------------------------- ticks

struct SampleTick {
  int32_t seconds = 0;       // since midnight
  int64_t price = 0;         // in 10^-priceDecimals units
  int64_t volume = 0;
  int64_t runningValue = 0;  // the delta-coded extra series
  int32_t plainValue = 0;    // the directly coded extra series
  uint8_t kind = 0;          // 0, 1 or 2
};

struct SampleTickDay {
  int market = 0;
  std::string code;
  double refPrice = 0;        // previous close, currency units
  uint8_t priceDecimals = 2;
  uint8_t spare = 0;          // random, copied through by readers
  int32_t reserved = 0;       // first word of the unpacked block, random
  int32_t unpackedLength = 0; // bytes of the unpacked block
  bool storedUncompressed = false;
  std::vector<SampleTick> ticks;
};

// Every security that traded on `date`, in archive order (market, then code).
// Holds every tick in memory: for the full market prefer TickDayOf.
std::vector<SampleTickDay> TickDays(int date, const SampleOptions& options);
// The day of one security; nothing when it did not trade (suspended,
// close-only fund, no trade) or does not exist on that date.
std::optional<SampleTickDay> TickDayOf(int date, int market, const std::string& code,
                                       const SampleOptions& options);

// ---------------------------------------------------------- tick encoder

// Appends one end-marked base-128 number (most significant 7-bit group first,
// last byte with the top bit set, bit 6 of the first group the sign).
void AppendTickNumber(std::vector<uint8_t>& out, int64_t value);
std::vector<uint8_t> EncodeTickNumber(int64_t value);

// The unpacked tick block: the 42-byte header from ticks[0], then five
// numbers per further tick (3 x elapsed seconds + kind, price delta, volume,
// running-value delta, plain value). `ticks` must not be empty.
std::vector<uint8_t> EncodeTickBlock(const std::vector<SampleTick>& ticks, int32_t reserved = 0);

// The stored form: a zlib stream (compress2) of the block, or the block as it
// stands when `compress` is false.
std::vector<uint8_t> StoreTickBlock(const std::vector<uint8_t>& unpacked, bool compress);

// The whole daily tick archive "<YYYYMMDD>.htc" of a date.
std::vector<uint8_t> TickArchiveBytes(int date, const SampleOptions& options);

// --------------------------------------------------------------- files
// Each writer creates `dir` when missing, writes through a temporary name and
// renames, and returns false with a message in *error on failure.

// The six files "<mm><yymmdd>.cod" / ".md1" of sz, sh, bj.
bool WriteDailySources(int date, const SampleOptions& options, const std::string& dir,
                       std::string* error = nullptr);
// "<YYYYMMDD>.htc".
bool WriteTickArchive(int date, const SampleOptions& options, const std::string& dir,
                      std::string* error = nullptr);
// Both, where the conversions of a data tree read them: the six source files
// into the layout's daily source folder, the tick archive into its tick
// archive folder.
bool WriteDayIntoTree(int date, const SampleOptions& options, const DataLayout& layout,
                      std::string* error = nullptr);

// "<YYYYMMDD>.zip" holding the six daily source files.
bool WriteDailyArchiveZip(int date, const SampleOptions& options, const std::string& dir,
                          std::string* error = nullptr);
// "<YYYYMMDD>.zip" holding "<YYYYMMDD>.htc".
bool WriteTickArchiveZip(int date, const SampleOptions& options, const std::string& dir,
                         std::string* error = nullptr);
// "downit.zip" holding the GBK "downit5.cfg" (DOWNNUM 12, PATH11 daily,
// PATH12 tick).
bool WriteConfigArchive(const std::string& dir, std::string* error = nullptr);
// The text of "downit5.cfg" (GBK bytes).
std::string ConfigFileText();

// A whole server tree: dir/downit.zip and, under kDailyArchivePath and
// kTickArchivePath, <date>.zip for every weekday from `first` to `last`.
bool WriteServerTree(int first, int last, const SampleOptions& options, const std::string& dir,
                     std::string* error = nullptr);

// "20220505.zip".
std::string DayArchiveName(int date);

// True for weekdays from 20220501 up to and including `today`.
bool IsServedDate(int date, int today);

}  // namespace marbloom::sample
