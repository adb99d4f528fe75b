// Files and ZIP archives of the sample market. ZIPs are written with libzip
// (never with the program's own reader) so the two check each other; every
// entry gets a fixed time and fixed attributes, so the bytes depend only on
// the content.
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "base/file_helpers.h"
#include "base/text_encoding.h"
#include "common/calendar.h"
#include "common/market.h"
#include "samplegen.h"

namespace marbloom::sample {
namespace {

namespace fs = std::filesystem;

struct ZipEntry {
  std::string name;
  std::vector<uint8_t> bytes;
};

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

bool EnsureDir(const std::string& dir, std::string* error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (fs::is_directory(dir, ec)) return true;
  return Fail(error, "cannot create folder " + dir);
}

// Written beside the target under a temporary name, then renamed over it.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, std::string* error) {
  const std::string temp = path + kPartialFileSuffix;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      return Fail(error, "cannot write " + path);
    }
  }
  if (!RealFileSystem().Rename(temp, path)) {
    std::remove(temp.c_str());
    return Fail(error, "cannot rename " + temp + " to " + path);
  }
  return true;
}

// MS-DOS date and time of `date` at 17:00:00.
std::pair<uint16_t, uint16_t> DosStamp(int date) {
  const int year = date / 10000, month = date / 100 % 100, day = date % 100;
  const auto dosDate = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto dosTime = static_cast<uint16_t>(17 << 11);
  return {dosTime, dosDate};
}

bool AddEntry(zip_t* zip, const ZipEntry& entry, int date, int level, std::string* error) {
  zip_source_t* source = zip_source_buffer(zip, entry.bytes.data(), entry.bytes.size(), 0);
  if (!source) return Fail(error, "libzip: cannot make a source for " + entry.name);
  const zip_int64_t index = zip_file_add(zip, entry.name.c_str(), source, ZIP_FL_OVERWRITE);
  if (index < 0) {
    zip_source_free(source);
    return Fail(error, std::string("libzip: ") + zip_strerror(zip));
  }
  const auto i = static_cast<zip_uint64_t>(index);
  const auto [dosTime, dosDate] = DosStamp(date);
  const bool ok = zip_file_set_dostime(zip, i, dosTime, dosDate, 0) == 0 &&
                  zip_set_file_compression(zip, i, ZIP_CM_DEFLATE, static_cast<zip_uint32_t>(level)) == 0 &&
                  zip_file_set_external_attributes(zip, i, 0, ZIP_OPSYS_DOS, 0x20) == 0;
  return ok || Fail(error, std::string("libzip: ") + zip_strerror(zip));
}

// Writes `path` holding `entries`; the entries' buffers must live until the end.
bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries, int date, int level,
              std::string* error) {
  int code = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!zip) return Fail(error, "libzip: cannot create " + path);
  for (const ZipEntry& entry : entries) {
    if (!AddEntry(zip, entry, date, level, error)) {
      zip_discard(zip);
      return false;
    }
  }
  if (zip_close(zip) != 0) {
    const std::string message = std::string("libzip: cannot write ") + path + ": " + zip_strerror(zip);
    zip_discard(zip);
    return Fail(error, message);
  }
  return true;
}

std::vector<ZipEntry> DailyEntries(int date, const SampleOptions& options) {
  std::vector<ZipEntry> entries;
  for (int market = 0; market < kMarketCount; ++market) {
    entries.push_back({CodeListFileName(date, market), CodeListBytes(date, market, options)});
    entries.push_back({QuoteFileName(date, market), QuoteFileBytes(date, market, options)});
  }
  return entries;
}

std::string TickArchiveName(int date) { return std::to_string(date) + ".htc"; }

bool CheckDate(int date, std::string* error) {
  if (DateToDayNumber(date) == 0) return Fail(error, "not a date: " + std::to_string(date));
  return true;
}

}  // namespace

std::string DayArchiveName(int date) { return DataLayout::DayArchiveName(date); }

bool IsServedDate(int date, int today) {
  if (DateToDayNumber(date) == 0 || date < kFirstServedDate || date > today) return false;
  const int dow = DayOfWeek(date);
  return dow != 0 && dow != 6;
}

bool WriteDailySources(int date, const SampleOptions& options, const std::string& dir, std::string* error) {
  if (!CheckDate(date, error) || !EnsureDir(dir, error)) return false;
  for (const ZipEntry& e : DailyEntries(date, options)) {
    if (!WriteFileAtomically(dir + e.name, e.bytes.data(), e.bytes.size(), error)) return false;
  }
  return true;
}

bool WriteTickArchive(int date, const SampleOptions& options, const std::string& dir, std::string* error) {
  if (!CheckDate(date, error) || !EnsureDir(dir, error)) return false;
  const std::vector<uint8_t> bytes = TickArchiveBytes(date, options);
  return WriteFileAtomically(dir + TickArchiveName(date), bytes.data(), bytes.size(), error);
}

bool WriteDayIntoTree(int date, const SampleOptions& options, const DataLayout& layout, std::string* error) {
  return WriteDailySources(date, options, layout.DailySourceDir(), error) &&
         WriteTickArchive(date, options, layout.TickArchiveDir(), error);
}

bool WriteDailyArchiveZip(int date, const SampleOptions& options, const std::string& dir, std::string* error) {
  if (!CheckDate(date, error) || !EnsureDir(dir, error)) return false;
  return WriteZip(dir + DayArchiveName(date), DailyEntries(date, options), date, 6, error);
}

bool WriteTickArchiveZip(int date, const SampleOptions& options, const std::string& dir, std::string* error) {
  if (!CheckDate(date, error) || !EnsureDir(dir, error)) return false;
  // The blocks are already deflated: the fastest level loses almost nothing.
  std::vector<ZipEntry> entries{{TickArchiveName(date), TickArchiveBytes(date, options)}};
  return WriteZip(dir + DayArchiveName(date), entries, date, 1, error);
}

std::string ConfigFileText() {
  std::string text =
      "[DOWN]\r\n"
      "DOWNNUM=12\r\n"
      "PATH11=" + std::string(kDailyArchivePath) + "\r\n"
      "FILE11=四代日线数据\r\n"
      "PATH12=" + std::string(kTickArchivePath) + "\r\n"
      "FILE12=四代分笔数据\r\n";
  return Utf8ToGbk(text);
}

bool WriteConfigArchive(const std::string& dir, std::string* error) {
  if (!EnsureDir(dir, error)) return false;
  const std::string text = ConfigFileText();
  std::vector<ZipEntry> entries{{kConfigFileName, std::vector<uint8_t>(text.begin(), text.end())}};
  return WriteZip(dir + kConfigArchiveName, entries, kFirstServedDate, 6, error);
}

bool WriteServerTree(int first, int last, const SampleOptions& options, const std::string& dir, std::string* error) {
  if (!CheckDate(first, error) || !CheckDate(last, error)) return false;
  if (first < kFirstServedDate) return Fail(error, "the sample market begins on 20220501");
  if (!WriteConfigArchive(dir, error)) return false;
  int date = first;
  const int dow = DayOfWeek(date);
  if (dow == 0 || dow == 6) date = NextTradingDay(date);
  while (date != 0 && date <= last) {
    if (!WriteDailyArchiveZip(date, options, dir + kDailyArchivePath, error) ||
        !WriteTickArchiveZip(date, options, dir + kTickArchivePath, error)) {
      return false;
    }
    const int next = NextTradingDay(date);
    if (next <= date) break;
    date = next;
  }
  return true;
}

}  // namespace marbloom::sample
