#pragma once
// The three records of a ZIP archive that the reader uses. All integers are
// little-endian; the structures are packed and read with memcpy.
//
//   [bytes before the archive]   a stub or anything else in front of offset 0
//   local header, name, extra, entry data      ... once per entry
//   central header, name, extra, comment       ... once per entry
//   end record, archive comment
//
// Offsets stored in the archive are relative to its own offset 0; the reader
// adds the bytes before the archive to every one of them.
#include <bit>
#include <cstddef>
#include <cstdint>

namespace marbloom::zipfmt {

static_assert(std::endian::native == std::endian::little, "the records are read in place");

#pragma pack(push, 1)

// End of central directory record, 22 bytes, then the archive comment.
struct EndRecord {
  uint32_t signature;        //  0: 50 4B 05 06, found by the backward scan
  uint16_t thisDisk;         //  4: must be 0
  uint16_t centralDisk;      //  6: disk where the central directory starts, must be 0
  uint16_t entriesThisDisk;  //  8: the entry count
  uint16_t entriesTotal;     // 10: must equal entriesThisDisk
  uint32_t centralSize;      // 12: bytes of the central directory
  uint32_t centralOffset;    // 16: relative to the archive start
  uint16_t commentLength;    // 20: kept, not used
};
static_assert(sizeof(EndRecord) == 22);
static_assert(offsetof(EndRecord, centralSize) == 12);

// Central directory header, 46 bytes, then name, extra field and comment.
struct CentralHeader {
  uint32_t signature;           //  0: 50 4B 01 02
  uint16_t versionMadeBy;       //  4: high byte 3 = made on Unix
  uint16_t versionNeeded;       //  6
  uint16_t flag;                //  8: bit 3 = CRC and sizes follow the data
  uint16_t method;              // 10: 0 stored, 8 deflated
  uint32_t dosDateTime;         // 12: time in the low half, date in the high half
  uint32_t crc32;               // 16: of the uncompressed data
  uint32_t compressedSize;      // 20
  uint32_t uncompressedSize;    // 24
  uint16_t nameLength;          // 28
  uint16_t extraLength;         // 30
  uint16_t commentLength;       // 32
  uint16_t diskNumberStart;     // 34
  uint16_t internalAttributes;  // 36
  uint32_t externalAttributes;  // 38: DOS attributes low, Unix mode high
  uint32_t localHeaderOffset;   // 42: relative to the archive start
};
static_assert(sizeof(CentralHeader) == 46);
static_assert(offsetof(CentralHeader, dosDateTime) == 12);
static_assert(offsetof(CentralHeader, externalAttributes) == 38);
static_assert(offsetof(CentralHeader, localHeaderOffset) == 42);

// Local file header, 30 bytes, then name, extra field and the entry data.
struct LocalHeader {
  uint32_t signature;         //  0: 50 4B 03 04
  uint16_t versionNeeded;     //  4: not checked
  uint16_t flag;              //  6: bit 3 relaxes the CRC and size checks
  uint16_t method;            //  8: must equal the central method
  uint32_t dosDateTime;       // 10: not checked
  uint32_t crc32;             // 14: must equal the central value unless bit 3
  uint32_t compressedSize;    // 18: the same
  uint32_t uncompressedSize;  // 22: the same
  uint16_t nameLength;        // 26: must equal the central value
  uint16_t extraLength;       // 28: used only to find the data
};
static_assert(sizeof(LocalHeader) == 30);
static_assert(offsetof(LocalHeader, crc32) == 14);

#pragma pack(pop)

inline constexpr uint32_t kEndSignature = 0x06054B50;
inline constexpr uint32_t kCentralSignature = 0x02014B50;
inline constexpr uint32_t kLocalSignature = 0x04034B50;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

inline constexpr unsigned kMadeByUnix = 3;         // high byte of versionMadeBy
inline constexpr uint32_t kDosReadOnly = 0x01;     // low byte of externalAttributes
inline constexpr uint32_t kDosDirectory = 0x10;

// The end record must start within this many bytes of the end of the file,
// and the backward scan reads windows of kEndScanWindow bytes stepping back
// kEndScanStep, so that a signature straddling two windows is still seen.
inline constexpr uint32_t kEndScanReach = 65535;
inline constexpr uint32_t kEndScanWindow = 1028;
inline constexpr uint32_t kEndScanStep = 1024;

}  // namespace marbloom::zipfmt
