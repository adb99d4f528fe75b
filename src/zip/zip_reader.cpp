#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "common/little_endian.h"
#include "zip/zip_format.h"

namespace marbloom {

namespace {

constexpr uint32_t kReadBufferBytes = 16384;
constexpr std::size_t kOutputBufferBytes = 65536;

std::string ZipErrorText(int code, const std::string& path) {
  const char* what = code == kZipOutOfOrder ? "operation out of order"
                     : code == kZipBadArchive ? "not a valid archive"
                     : code == kZipBadCrc     ? "CRC mismatch"
                                              : "decompression failure";
  return "zip error " + std::to_string(code) + " (" + what + "): " + path;
}

}  // namespace

ZipError::ZipError(int code, std::string archivePath)
    : std::runtime_error(ZipErrorText(code, archivePath)), code_(code), archivePath_(std::move(archivePath)) {}

ZipFileError::ZipFileError(const char* operation, int errorNumber, std::string path)
    : std::runtime_error(std::string(operation) + " failed (" + std::strerror(errorNumber) + "): " + path),
      errorNumber_(errorNumber),
      path_(std::move(path)) {}

std::time_t DosDateTimeToTime(uint32_t dosDateTime) {
  uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  std::tm tm{};
  tm.tm_mday = static_cast<int>(date & 0x1F);
  tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  tm.tm_year = static_cast<int>(1980 + (date >> 9) - 1900);
  tm.tm_sec = static_cast<int>(2 * (time & 0x1F));
  tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
  tm.tm_hour = static_cast<int>(time >> 11);
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

unsigned EntryFileMode(const ZipEntryInfo& info, unsigned currentMode) {
  unsigned mode = currentMode & 0777;
  if (info.externalAttributes & zipfmt::kDosReadOnly) mode &= ~0222u;
  return mode;
}

// ---------------------------------------------------------------------------
// Decompressor memory

ZipMemoryGuard::~ZipMemoryGuard() {
  for (void* block : blocks_) std::free(block);
}

void* ZipMemoryGuard::TrackedAlloc(void* opaque, unsigned items, unsigned size) {
  auto* guard = static_cast<ZipMemoryGuard*>(opaque);
  void* block = std::calloc(items, size);
  if (block == nullptr || !guard->guardOn_) return block;
  try {
    guard->blocks_.push_back(block);
  } catch (const std::bad_alloc&) {  // nothing may be thrown through zlib
    std::free(block);
    return nullptr;
  }
  return block;
}

void ZipMemoryGuard::TrackedFree(void* opaque, void* block) {
  auto* guard = static_cast<ZipMemoryGuard*>(opaque);
  auto it = std::find(guard->blocks_.begin(), guard->blocks_.end(), block);
  if (it != guard->blocks_.end()) guard->blocks_.erase(it);
  std::free(block);
}

// ---------------------------------------------------------------------------
// Output file

ZipOutputFile::~ZipOutputFile() {
  if (!file_.valid()) return;
  try {
    Flush();
  } catch (const ZipFileError&) {
  }
}

bool ZipOutputFile::Open(FileSystem& files, const std::string& path) {
  if (file_.valid()) Close();
  files_ = &files;
  file_ = OpenNewTemporary(files, path);
  if (!file_.valid()) return false;
  path_ = path;
  if (!buffer_) buffer_ = std::make_unique<unsigned char[]>(kOutputBufferBytes);
  buffered_ = 0;
  written_ = 0;
  return true;
}

void ZipOutputFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    std::size_t n = std::min(size, kOutputBufferBytes - buffered_);
    std::memcpy(buffer_.get() + buffered_, bytes, n);
    buffered_ += n;
    bytes += n;
    size -= n;
    if (buffered_ == kOutputBufferBytes) Flush();
  }
}

void ZipOutputFile::Flush() {
  const std::size_t n = std::exchange(buffered_, 0);
  errno = 0;
  if (n > 0 && !file_.Write(buffer_.get(), n, written_))
    throw ZipFileError("write", errno != 0 ? errno : ENOSPC, path_);
  written_ += static_cast<int64_t>(n);
}

void ZipOutputFile::Close() {
  if (!file_.valid()) return;
  try {
    Flush();
  } catch (...) {
    file_.Close();
    throw;
  }
  const int error = file_.Close() ? 0 : errno;
  if (error != 0) throw ZipFileError("close", error, path_);
}

// ---------------------------------------------------------------------------
// Reader: opening and the central directory

struct ZipReader::ReadState {
  unsigned char buffer[kReadBufferBytes];
  z_stream stream{};
  uint64_t nextCompressed = 0;  // relative to the archive start
  bool streamInitialised = false;
  bool streamEnded = false;
  uLong crc = 0;
  uLong expectedCrc = 0;
  uint32_t compressedLeft = 0;
  uint32_t toDeliver = 0;
  uint32_t method = 0;
  uint64_t bytesBefore = 0;
  uint32_t pending = 0;        // stored: input bytes not yet copied
  uint32_t pendingOffset = 0;  // stored: where they start in the buffer

  ~ReadState() {
    if (streamInitialised) inflateEnd(&stream);
  }
};

ZipReader::ZipReader(FileSystem& files, const std::string& path)
    : path_(path), file_(files.Open(path, OpenMode::kRead)) {
  if (!file_) throw ZipFileError("open", errno, path_);
  ReadEndRecord();
  GoToFirstEntry();
}

ZipReader::~ZipReader() { read_.reset(); }

void ZipReader::Fail(int code) const { throw ZipError(code, path_); }

void ZipReader::ReadExactly(uint64_t position, void* data, std::size_t size) const {
  const int64_t n = file_.Read(data, size, static_cast<int64_t>(position));
  if (n < 0) throw ZipFileError("read", errno, path_);
  if (n < static_cast<int64_t>(size)) Fail(kZipBadArchive);  // the archive ends inside a record or entry
}

// Steps back through the last 65535 bytes in overlapping windows and returns
// the position of the end-record signature nearest to the end of the file.
uint64_t ZipReader::FindEndRecord(uint64_t fileLength) const {
  const uint64_t limit = std::min<uint64_t>(zipfmt::kEndScanReach, fileLength);
  unsigned char window[zipfmt::kEndScanWindow];
  uint64_t back = 4;
  while (back < limit) {
    back = std::min<uint64_t>(back + zipfmt::kEndScanStep, limit);
    uint64_t start = fileLength - back;
    auto n = static_cast<uint32_t>(std::min<uint64_t>(zipfmt::kEndScanWindow, fileLength - start));
    ReadExactly(start, window, n);
    for (uint32_t i = n - 4 + 1; i-- > 0;)
      if (LoadLE<uint32_t>(window + i) == zipfmt::kEndSignature) return start + i;
  }
  Fail(kZipBadArchive);
}

void ZipReader::ReadEndRecord() {
  const int64_t length = file_.Length();
  if (length < 0) throw ZipFileError("stat", errno, path_);
  endRecordPosition_ = FindEndRecord(static_cast<uint64_t>(length));
  zipfmt::EndRecord end{};
  ReadExactly(endRecordPosition_, &end, sizeof end);
  if (end.entriesTotal != end.entriesThisDisk || end.thisDisk != 0 || end.centralDisk != 0) Fail(kZipBadArchive);
  entryCount_ = end.entriesThisDisk;
  centralSize_ = end.centralSize;
  centralOffset_ = end.centralOffset;
  commentLength_ = end.commentLength;
  uint64_t centralEnd = uint64_t{centralOffset_} + centralSize_;
  if (endRecordPosition_ < centralEnd) Fail(kZipBadArchive);
  bytesBefore_ = endRecordPosition_ - centralEnd;
}

void ZipReader::ReadCentralHeader(char* nameBuffer, uint32_t nameSize) {
  zipfmt::CentralHeader h{};
  uint64_t at = bytesBefore_ + centralPosition_;
  ReadExactly(at, &h, sizeof h);
  if (h.signature != zipfmt::kCentralSignature) Fail(kZipBadArchive);
  current_.versionMadeBy = h.versionMadeBy;
  current_.versionNeeded = h.versionNeeded;
  current_.flag = h.flag;
  current_.method = h.method;
  current_.dosDateTime = h.dosDateTime;
  current_.crc32 = h.crc32;
  current_.compressedSize = h.compressedSize;
  current_.uncompressedSize = h.uncompressedSize;
  current_.nameLength = h.nameLength;
  current_.extraLength = h.extraLength;
  current_.commentLength = h.commentLength;
  current_.diskNumberStart = h.diskNumberStart;
  current_.internalAttributes = h.internalAttributes;
  current_.externalAttributes = h.externalAttributes;
  current_.modificationTime = DosDateTimeToTime(h.dosDateTime);
  localHeaderOffset_ = h.localHeaderOffset;
  if (nameBuffer == nullptr || nameSize == 0) return;
  uint32_t copy = std::min(current_.nameLength, nameSize);
  if (copy > 0) ReadExactly(at + sizeof h, nameBuffer, copy);
  if (current_.nameLength < nameSize) nameBuffer[copy] = '\0';
}

void ZipReader::GoToFirstEntry() {
  centralPosition_ = centralOffset_;
  entryNumber_ = 0;
  ReadCentralHeader(nullptr, 0);
  currentValid_ = true;
}

bool ZipReader::GoToNextEntry() {
  if (!currentValid_ || entryNumber_ + 1 >= entryCount_) return false;
  centralPosition_ += sizeof(zipfmt::CentralHeader) + uint64_t{current_.nameLength} + current_.extraLength +
                      current_.commentLength;
  ++entryNumber_;
  ReadCentralHeader(nullptr, 0);
  currentValid_ = true;
  return true;
}

void ZipReader::GetCurrentEntryInfo(ZipEntryInfo* info, char* nameBuffer, uint32_t nameSize) {
  if (!currentValid_) Fail(kZipOutOfOrder);
  ReadCentralHeader(nameBuffer, nameSize);
  if (info != nullptr) *info = current_;
}

// ---------------------------------------------------------------------------
// Reader: entry data

// Checks the local header against the central one; returns where the entry
// data starts, relative to the archive start.
uint64_t ZipReader::CheckLocalHeader() const {
  zipfmt::LocalHeader h{};
  ReadExactly(bytesBefore_ + localHeaderOffset_, &h, sizeof h);
  const ZipEntryInfo& c = current_;
  bool descriptor = (h.flag & zipfmt::kFlagDataDescriptor) != 0;
  if (h.signature != zipfmt::kLocalSignature || h.method != c.method ||
      (c.method != zipfmt::kMethodStored && c.method != zipfmt::kMethodDeflated) ||
      (!descriptor && (h.crc32 != c.crc32 || h.compressedSize != c.compressedSize ||
                       h.uncompressedSize != c.uncompressedSize)) ||
      h.nameLength != c.nameLength || (c.flag & zipfmt::kFlagEncrypted) != 0)
    Fail(kZipBadArchive);
  return uint64_t{localHeaderOffset_} + sizeof h + h.nameLength + h.extraLength;
}

void ZipReader::OpenCurrentEntry() {
  if (!currentValid_) Fail(kZipOutOfOrder);
  if (read_) CloseCurrentEntry();
  uint64_t dataStart = CheckLocalHeader();
  auto state = std::make_unique<ReadState>();
  state->expectedCrc = current_.crc32;
  state->method = current_.method;
  state->bytesBefore = bytesBefore_;
  if (state->method == zipfmt::kMethodDeflated) {
    state->stream.zalloc = &ZipMemoryGuard::TrackedAlloc;
    state->stream.zfree = &ZipMemoryGuard::TrackedFree;
    state->stream.opaque = static_cast<ZipMemoryGuard*>(this);
    int rc = inflateInit2(&state->stream, -MAX_WBITS);
    if (rc != Z_OK) Fail(rc < 0 ? rc : Z_STREAM_ERROR);
    state->streamInitialised = true;
    state->stream.next_in = state->buffer;
    state->stream.avail_in = 0;
  }
  state->compressedLeft = current_.compressedSize;
  state->toDeliver = current_.uncompressedSize;
  state->nextCompressed = dataStart;
  read_ = std::move(state);
}

void ZipReader::FillInput() {
  ReadState& s = *read_;
  uint32_t n = std::min(kReadBufferBytes, s.compressedLeft);
  ReadExactly(s.bytesBefore + s.nextCompressed, s.buffer, n);
  s.nextCompressed += n;
  s.compressedLeft -= n;
  s.pending = n;
  s.pendingOffset = 0;
  s.stream.next_in = s.buffer;
  s.stream.avail_in = n;
}

uint32_t ZipReader::ReadStored(unsigned char* out, uint32_t room) {
  ReadState& s = *read_;
  uint32_t delivered = 0;
  while (room > 0) {
    if (s.pending == 0) {
      if (s.compressedLeft == 0) Fail(kZipBadArchive);  // stated size larger than the data
      FillInput();
    }
    uint32_t c = std::min(room, s.pending);
    std::memcpy(out + delivered, s.buffer + s.pendingOffset, c);
    s.crc = crc32(s.crc, out + delivered, c);
    s.toDeliver -= c;
    s.pending -= c;
    s.pendingOffset += c;
    room -= c;
    delivered += c;
  }
  return delivered;
}

uint32_t ZipReader::ReadDeflated(unsigned char* out, uint32_t room) {
  ReadState& s = *read_;
  uint32_t delivered = 0;
  while (room > 0 && !s.streamEnded) {
    if (s.stream.avail_in == 0 && s.compressedLeft > 0) FillInput();
    uInt inBefore = s.stream.avail_in;
    s.stream.next_out = out + delivered;
    s.stream.avail_out = room;
    int rc = inflate(&s.stream, Z_SYNC_FLUSH);
    uint32_t produced = room - s.stream.avail_out;
    s.crc = crc32(s.crc, out + delivered, produced);
    s.toDeliver -= produced;
    room -= produced;
    delivered += produced;
    if (rc == Z_STREAM_END) {
      s.streamEnded = true;
      break;
    }
    if (rc < 0) Fail(rc);
    if (produced == 0 && s.stream.avail_in == inBefore) Fail(kZipBadArchive);
  }
  return delivered;
}

uint32_t ZipReader::ReadCurrentEntry(void* buffer, uint32_t length) {
  if (!read_) Fail(kZipOutOfOrder);
  if (length == 0 || buffer == nullptr) return 0;
  uint32_t room = std::min(length, read_->toDeliver);
  auto* out = static_cast<unsigned char*>(buffer);
  return read_->method == zipfmt::kMethodStored ? ReadStored(out, room) : ReadDeflated(out, room);
}

bool ZipReader::HasDataBeyondStatedSize() {
  if (!read_) Fail(kZipOutOfOrder);
  ReadState& s = *read_;
  if (s.toDeliver != 0) return false;
  if (s.method == zipfmt::kMethodStored) return s.pending > 0 || s.compressedLeft > 0;
  // Ask the stream for one byte more: any byte is one too many.
  unsigned char extra;
  while (!s.streamEnded) {
    if (s.stream.avail_in == 0 && s.compressedLeft > 0) FillInput();
    const uInt inBefore = s.stream.avail_in;
    s.stream.next_out = &extra;
    s.stream.avail_out = 1;
    const int rc = inflate(&s.stream, Z_SYNC_FLUSH);
    if (s.stream.avail_out == 0) return true;
    if (rc == Z_STREAM_END) s.streamEnded = true;
    else if (rc < 0 && rc != Z_BUF_ERROR) Fail(rc);
    else if (s.stream.avail_in == inBefore) break;  // cut off: nothing more to give
  }
  return false;
}

void ZipReader::CloseCurrentEntry() {
  if (!read_) return;
  bool badCrc = read_->toDeliver == 0 && read_->crc != read_->expectedCrc;
  read_.reset();
  if (badCrc) Fail(kZipBadCrc);
}

void ZipReader::Close() {
  if (!file_) return;
  try {
    CloseCurrentEntry();
  } catch (...) {
    file_.Close();
    throw;
  }
  file_.Close();
}

// ---------------------------------------------------------------------------
// Extracted files

void ZipReader::ApplyEntryStatus(ZipOutputFile& file, const ZipEntryInfo& info) {
  std::string path = file.path();
  file.Close();
  if (!file.files_->Stamp(path, info.modificationTime, EntryFileMode(info, 0777)))
    throw ZipFileError("utimensat", errno, path);
}

}  // namespace marbloom
