#include "base/profile_file.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "base/file_helpers.h"
#include "base/text_encoding.h"

namespace marbloom {
namespace {

constexpr std::size_t kPiece = 16384;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

// The file's bytes, read at once: empty for a missing file, nothing when it
// cannot be read.
std::optional<std::string> ReadText(FileSystem& files, const std::string& file) {
  const File in = files.Open(file, OpenMode::kRead);
  if (!in) return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
  // Room for the length the file states and more, so that a read that stops
  // short shows the end; a file that grew meanwhile gets more room.
  std::string text(static_cast<std::size_t>(std::max<int64_t>(in.Length(), 0)) + kPiece, '\0');
  for (std::size_t have = 0;; text.resize(2 * text.size())) {
    const int64_t n = in.Read(text.data() + have, text.size() - have, static_cast<int64_t>(have));
    if (n < 0) return std::nullopt;
    have += static_cast<std::size_t>(n);
    if (have < text.size()) {
      text.resize(have);
      return text;
    }
  }
}

// Takes the next line off `rest`, without its LF; a last line needs none.
std::string_view NextLine(std::string_view& rest) {
  const std::size_t end = std::min(rest.find('\n'), rest.size());
  const std::string_view line = rest.substr(0, end);
  rest.remove_prefix(std::min(end + 1, rest.size()));
  return line;
}

// The text's lines without their line ends.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(line);
  }
  return lines;
}

// "[name]" with blanks around: the section name, else nothing.
std::optional<std::string> SectionName(const std::string& line) {
  std::string t = TrimSpaces(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  std::size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return TrimSpaces(std::string_view(t).substr(1, close - 1));
}

// "key = value": the trimmed key and value, else nothing.
std::optional<std::pair<std::string, std::string>> KeyValue(const std::string& line) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return std::make_pair(TrimSpaces(std::string_view(line).substr(0, eq)),
                        TrimSpaces(std::string_view(line).substr(eq + 1)));
}

struct Location {
  int sectionLine = -1;  // index of the "[section]" line
  int keyLine = -1;      // index of the key's line
  int lastContent = -1;  // last non-blank line of the section
};

Location Find(const std::vector<std::string>& lines, std::string_view section, std::string_view key) {
  Location loc;
  bool inside = false;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    if (auto name = SectionName(lines[i])) {
      if (inside) break;  // the first matching section is the one used
      inside = EqualsNoCase(*name, section);
      if (inside) loc.sectionLine = loc.lastContent = i;
      continue;
    }
    if (!inside) continue;
    if (!TrimSpaces(lines[i]).empty()) loc.lastContent = i;
    if (loc.keyLine < 0) {
      auto kv = KeyValue(lines[i]);
      if (kv && EqualsNoCase(kv->first, key)) loc.keyLine = i;
    }
  }
  return loc;
}

// Sets "key=value" in the section: in place of the key's line, else after the
// section's last line, else in a new section at the end.
void SetLine(std::vector<std::string>& lines, const std::string& section, const std::string& key,
             const std::string& value) {
  Location loc = Find(lines, section, key);
  std::string entry = key + "=" + value;
  if (loc.keyLine >= 0) {
    lines[loc.keyLine] = entry;
  } else if (loc.sectionLine >= 0) {
    lines.insert(lines.begin() + loc.lastContent + 1, entry);
  } else {
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  }
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

ProfileSection::ProfileSection(FileSystem& files, const std::string& file, std::string_view section,
                               const std::vector<std::string>& keys) {
  for (const std::string& key : keys) values_.emplace(LowerAscii(Utf8ToGbk(key)), std::nullopt);
  const std::string gbkSection = Utf8ToGbk(section);
  bool inside = false;
  const std::string whole = ReadText(files, file).value_or(std::string());
  for (std::string_view rest = whole; !rest.empty();) {
    const std::string_view text = TrimmedView(NextLine(rest));
    if (auto name = text.starts_with('[') ? SectionName(std::string(text)) : std::nullopt) {
      if (inside) break;  // the first matching section is the one used
      inside = EqualsNoCase(*name, gbkSection);
      continue;
    }
    const std::size_t eq = text.find('=');
    if (!inside || eq == std::string_view::npos) continue;
    auto it = values_.find(LowerAscii(std::string(TrimmedView(text.substr(0, eq)))));
    if (it != values_.end() && !it->second)  // the first one wins
      it->second = std::string(TrimmedView(text.substr(eq + 1)));
  }
}

std::optional<std::string> ProfileSection::Raw(std::string_view key) const {
  auto it = values_.find(LowerAscii(Utf8ToGbk(key)));
  return it == values_.end() ? std::nullopt : it->second;
}

std::string ProfileSection::ReadString(std::string_view key, std::string_view defaultValue,
                                       std::size_t bufferSize) const {
  const std::optional<std::string> raw = Raw(key);
  std::string gbk = raw ? Unquote(*raw) : TrimSpaces(Utf8ToGbk(defaultValue));
  if (bufferSize == 0) return std::string();
  return GbkToUtf8(CutGbk(gbk, bufferSize - 1));
}

int ProfileSection::ReadInt(std::string_view key, int defaultValue) const {
  const std::optional<std::string> value = Raw(key);
  if (!value) return defaultValue;
  std::size_t i = 0;
  bool negative = false;
  if (i < value->size() && ((*value)[i] == '-' || (*value)[i] == '+')) negative = (*value)[i++] == '-';
  uint32_t n = 0;  // wraps like the 32-bit original
  for (; i < value->size() && (*value)[i] >= '0' && (*value)[i] <= '9'; ++i)
    n = n * 10u + static_cast<uint32_t>((*value)[i] - '0');
  if (negative) n = 0u - n;
  return static_cast<int>(n);
}

std::string ProfileReadString(FileSystem& files, const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue, std::size_t bufferSize) {
  return ProfileSection(files, file, section, {std::string(key)}).ReadString(key, defaultValue, bufferSize);
}

bool ProfileHasKey(FileSystem& files, const std::string& file, std::string_view section, std::string_view key) {
  return ProfileSection(files, file, section, {std::string(key)}).Has(key);
}

int ProfileReadInt(FileSystem& files, const std::string& file, std::string_view section, std::string_view key,
                   int defaultValue) {
  return ProfileSection(files, file, section, {std::string(key)}).ReadInt(key, defaultValue);
}

bool ProfileWriteStrings(FileSystem& files, const std::string& file, const std::vector<ProfileEntry>& entries) {
  // A file that exists but cannot be read is not replaced by its few new lines.
  const std::optional<std::string> old = ReadText(files, file);
  if (!old) return false;
  std::vector<std::string> lines = SplitLines(*old);
  for (const ProfileEntry& e : entries) SetLine(lines, Utf8ToGbk(e.section), Utf8ToGbk(e.key), Utf8ToGbk(e.value));
  std::string text;
  for (const std::string& line : lines) text.append(line).append("\r\n");
  const std::string temp = file + ".new";
  File out = OpenNewTemporary(files, temp);
  bool written = out.valid() && out.Write(text.data(), text.size(), 0);
  written = out.Close() && written;
  if (!written || !files.Rename(temp, file)) {
    files.Remove(temp);
    return false;
  }
  return true;
}

bool ProfileWriteString(FileSystem& files, const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
  return ProfileWriteStrings(files, file, {{std::string(section), std::string(key), std::string(value)}});
}

}  // namespace marbloom
