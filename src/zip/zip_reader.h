#pragma once
// ZipReader: reads a ZIP archive from a file on disk, one entry at a time,
// stored (method 0) or deflated (method 8), checking each fully read entry
// against its CRC-32. No multi-volume archives, ZIP64 or encryption. The
// archive is never read whole: small pieces are read as the caller goes.
//
// Failures are raised: ZipError for everything the archive itself gets wrong,
// ZipFileError for the file layer (opening, reading, writing, stamping).
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/file_system.h"

namespace marbloom {

// Error codes of ZipError besides zlib's own negative codes.
inline constexpr int kZipOutOfOrder = -102;  // no valid current entry / no open entry
inline constexpr int kZipBadArchive = -103;  // a structure check failed or the data ran out
inline constexpr int kZipBadCrc = -105;      // an entry read to its end has the wrong CRC-32

class ZipError : public std::runtime_error {
 public:
  ZipError(int code, std::string archivePath);
  int code() const { return code_; }
  const std::string& archivePath() const { return archivePath_; }

 private:
  int code_;
  std::string archivePath_;
};

// A failed operating-system call on a file: the call, errno and the path.
class ZipFileError : public std::runtime_error {
 public:
  ZipFileError(const char* operation, int errorNumber, std::string path);
  int errorNumber() const { return errorNumber_; }
  const std::string& path() const { return path_; }

 private:
  int errorNumber_;
  std::string path_;
};

// What GetCurrentEntryInfo fills: the central header's fields widened to
// 32 bits, and the entry's time as a calendar time (local time).
struct ZipEntryInfo {
  uint32_t versionMadeBy = 0;
  uint32_t versionNeeded = 0;
  uint32_t flag = 0;
  uint32_t method = 0;
  uint32_t dosDateTime = 0;  // time in the low 16 bits, date in the high 16 bits
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint32_t nameLength = 0;
  uint32_t extraLength = 0;
  uint32_t commentLength = 0;
  uint32_t diskNumberStart = 0;
  uint32_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  std::time_t modificationTime = 0;
};

// DOS date (high half) and time (low half) as local calendar time.
std::time_t DosDateTimeToTime(uint32_t dosDateTime);

// Permission bits for an extracted file: the ones it was created with (the
// process umask's default), whatever mode the archive states; only the DOS
// read-only bit counts, and it can only take every write permission away.
unsigned EntryFileMode(const ZipEntryInfo& info, unsigned currentMode);

// Tracks the blocks that zlib holds, so that an entry abandoned after a
// failure leaks nothing: destruction frees every block still listed.
class ZipMemoryGuard {
 public:
  ZipMemoryGuard() = default;
  virtual ~ZipMemoryGuard();
  ZipMemoryGuard(const ZipMemoryGuard&) = delete;
  ZipMemoryGuard& operator=(const ZipMemoryGuard&) = delete;

  // The allocation routines handed to zlib (opaque = the guard).
  static void* TrackedAlloc(void* opaque, unsigned items, unsigned size);
  static void TrackedFree(void* opaque, void* block);
  std::size_t TrackedBlockCount() const { return blocks_.size(); }

 protected:
  bool guardOn_ = true;

 private:
  std::vector<void*> blocks_;
};

// An extracted file being written: created anew on Open (whatever lay at
// the path is removed first), written through a buffer, closed by
// ZipReader::ApplyEntryStatus or destruction. Its calls go through the file
// system it was opened on.
class ZipOutputFile {
 public:
  ZipOutputFile() = default;
  ~ZipOutputFile();
  ZipOutputFile(const ZipOutputFile&) = delete;
  ZipOutputFile& operator=(const ZipOutputFile&) = delete;

  // False with errno set when the file cannot be created.
  bool Open(FileSystem& files, const std::string& path);
  bool IsOpen() const { return file_.valid(); }
  const std::string& path() const { return path_; }
  void Write(const void* data, std::size_t size);  // raises ZipFileError
  void Close();                                    // flushes; raises ZipFileError

 private:
  friend class ZipReader;
  void Flush();
  FileSystem* files_ = nullptr;
  File file_;
  std::string path_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t buffered_ = 0;
  int64_t written_ = 0;  // bytes already in the file
};

class ZipReader : public ZipMemoryGuard {
 public:
  // Opens the archive, finds the end record and makes entry 0 current.
  ZipReader(FileSystem& files, const std::string& path);
  ~ZipReader() override;
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  bool IsClosed() const { return !file_.valid(); }
  uint32_t EntryCount() const { return entryCount_; }
  uint64_t BytesBeforeArchive() const { return bytesBefore_; }

  void GoToFirstEntry();
  // False when there is no valid current entry or it is the last one.
  bool GoToNextEntry();
  // Reads the current central header again. The name is copied whole with a
  // zero after it when it is shorter than nameSize, else exactly nameSize
  // bytes without a terminator. Either pointer may be null.
  void GetCurrentEntryInfo(ZipEntryInfo* info, char* nameBuffer, uint32_t nameSize);
  void OpenCurrentEntry();
  // Bytes delivered into buffer; 0 at the end of the entry.
  uint32_t ReadCurrentEntry(void* buffer, uint32_t length);
  // After the entry's stated size was delivered: true when its data holds
  // more (stored bytes left over, or a deflate stream that goes on), which
  // only a damaged archive does. False while bytes are still to be delivered.
  bool HasDataBeyondStatedSize();
  // Checks the CRC-32 when the entry was read to its end.
  void CloseCurrentEntry();
  void Close();

  // Closes an extracted file and stamps it with the entry's time and
  // attributes. Uses no reader state.
  static void ApplyEntryStatus(ZipOutputFile& file, const ZipEntryInfo& info);

 private:
  struct ReadState;

  [[noreturn]] void Fail(int code) const;
  void ReadExactly(uint64_t position, void* data, std::size_t size) const;
  uint64_t FindEndRecord(uint64_t fileLength) const;
  void ReadEndRecord();
  void ReadCentralHeader(char* nameBuffer, uint32_t nameSize);
  uint64_t CheckLocalHeader() const;
  uint32_t ReadStored(unsigned char* out, uint32_t room);
  uint32_t ReadDeflated(unsigned char* out, uint32_t room);
  void FillInput();

  std::string path_;
  File file_;
  uint32_t entryCount_ = 0;
  uint32_t commentLength_ = 0;
  uint64_t bytesBefore_ = 0;
  uint32_t entryNumber_ = 0;
  uint64_t centralPosition_ = 0;
  bool currentValid_ = false;
  uint64_t endRecordPosition_ = 0;
  uint32_t centralSize_ = 0;
  uint32_t centralOffset_ = 0;
  ZipEntryInfo current_;
  uint32_t localHeaderOffset_ = 0;
  std::unique_ptr<ReadState> read_;
};

}  // namespace marbloom
