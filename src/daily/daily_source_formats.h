#pragma once
// The downloaded daily source pair of one market and day, in the daily
// source folder of the data tree (DataLayout::CodeListFile and QuoteFile):
//   <mm><yymmdd>.cod   code list, a plain array of 150-byte CodeListRecords
//   <mm><yymmdd>.md1   quotes, a plain array of 512-byte QuoteRecords;
//                      quote k belongs to code-list record k
// Neither file has a header. Only the fields named here are read; every other
// byte may hold anything. Integers are little-endian.
#include <cstddef>
#include <cstdint>

namespace marbloom {

#pragma pack(push, 1)

// Code-list record, 150 bytes.
struct CodeListRecord {
  char code[34];          //   0: six digits, zero-terminated within the field
  int16_t lotSize;        //  34: shares per lot, for the lot form of the volume
  uint8_t unused36[3];    //  36
  uint8_t priceDecimals;  //  39: selects the price scale
  uint8_t unused40[45];   //  40
  int8_t securityType;    //  85: security type numbering of the classifier
  uint8_t unused86[64];   //  86
};
static_assert(sizeof(CodeListRecord) == 150);
static_assert(offsetof(CodeListRecord, lotSize) == 34);
static_assert(offsetof(CodeListRecord, priceDecimals) == 39);
static_assert(offsetof(CodeListRecord, securityType) == 85);

// Quote record, 512 bytes; prices in currency units, unscaled.
struct QuoteRecord {
  int32_t status;           //   0: non-zero lets a zero open/high/low through
  uint8_t unused4[8];       //   4
  double open;              //  12
  double high;              //  20
  double low;               //  28
  double close;             //  36
  uint8_t unused44[12];     //  44
  int64_t volume;           //  56
  uint8_t unused64[8];      //  64
  double amount;            //  72: turnover
  uint8_t unused80[72];     //  80
  uint16_t advancing;       // 152: index only
  uint8_t unused154[78];    // 154
  uint16_t declining;       // 232: index only
  uint8_t unused234[88];    // 234
  uint8_t auxiliary[8];     // 322: only tested for being all zero
  uint8_t unused330[182];   // 330
};
static_assert(sizeof(QuoteRecord) == 512);
static_assert(offsetof(QuoteRecord, open) == 12);
static_assert(offsetof(QuoteRecord, close) == 36);
static_assert(offsetof(QuoteRecord, volume) == 56);
static_assert(offsetof(QuoteRecord, amount) == 72);
static_assert(offsetof(QuoteRecord, advancing) == 152);
static_assert(offsetof(QuoteRecord, declining) == 232);
static_assert(offsetof(QuoteRecord, auxiliary) == 322);

#pragma pack(pop)

inline constexpr std::size_t kCodeListRecordSize = sizeof(CodeListRecord);
inline constexpr std::size_t kQuoteRecordSize = sizeof(QuoteRecord);

}  // namespace marbloom
