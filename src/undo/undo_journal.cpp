#include "undo/undo_journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>

#include "common/tree_lock.h"

namespace marbloom {
namespace {

constexpr std::string_view kRunSuffix = ".run";
constexpr const char* kLimitsFile = "limits";

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string Unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
  }
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string_view::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

template <class Number>
bool ParseNumber(std::string_view text, Number* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

std::optional<std::string> ReadSmallFile(FileSystem& files, const std::string& path) {
  File file = files.Open(path, OpenMode::kReadRegular);
  const int64_t length = file ? file.Length() : -1;
  if (length < 0 || length > (int64_t{64} << 20)) return std::nullopt;
  std::string text(static_cast<std::size_t>(length), '\0');
  if (!file.ReadAll(text.data(), text.size(), 0)) return std::nullopt;
  return text;
}

bool ParseEntry(const std::vector<std::string_view>& f, JournalEntry* entry) {
  if (f.size() != 5 || (f[1] != "T" && f[1] != "O")) return false;
  if (f[0] == "created") entry->kind = JournalEntry::Kind::kCreated;
  else if (f[0] == "grown") entry->kind = JournalEntry::Kind::kGrown;
  else if (f[0] == "saved") entry->kind = JournalEntry::Kind::kSaved;
  else return false;
  entry->outsideTree = f[1] == "O";
  if (entry->kind != JournalEntry::Kind::kCreated && !ParseNumber(f[2], &entry->length)) return false;
  if (entry->kind == JournalEntry::Kind::kSaved && !ParseNumber(f[3], &entry->store)) return false;
  entry->path = Unescaped(f[4]);
  return !entry->path.empty();
}

std::optional<JournalRun> ParseRun(std::string_view text) {
  JournalRun run;
  std::map<std::string, std::size_t> byPath;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) break;  // a line cut off by a killed run
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (first) {
      if (line != "marbloom-undo " + std::to_string(kJournalVersion)) return std::nullopt;
      first = false;
      continue;
    }
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() == 2) {
      if (f[0] == "id" && !ParseNumber(f[1], &run.id)) return std::nullopt;
      if (f[0] == "time") ParseNumber(f[1], &run.time);
      if (f[0] == "operation") run.operation = Unescaped(f[1]);
      if (f[0] == "arguments") run.arguments = Unescaped(f[1]);
      if (f[0] == "tree") run.tree = Unescaped(f[1]);
      if (f[0] == "source") run.source = Unescaped(f[1]);
      continue;
    }
    JournalEntry entry;
    if (!ParseEntry(f, &entry)) continue;
    const std::string key = (entry.outsideTree ? "O" : "T") + entry.path;
    auto [it, added] = byPath.emplace(key, run.entries.size());
    if (added) run.entries.push_back(std::move(entry));
    else run.entries[it->second] = std::move(entry);
  }
  if (first || run.id <= 0) return std::nullopt;
  return run;
}

// A run id or store number as the journal writes it: 1 to kMaxJournalRunId,
// no sign, no leading zero; 0 for anything else.
int JournalNumber(std::string_view text) {
  int number = 0;
  if (text.empty() || text.size() > 9 || text[0] == '0' || !ParseNumber(text, &number)) return 0;
  return number > 0 ? number : 0;
}

// The run of a journal file's name ("12.run", "12.3"), or 0 for a name the
// journal never writes.
int RunOfName(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return 0;
  const std::string_view rest = name.substr(dot + 1);
  if (rest != kRunSuffix.substr(1) && JournalNumber(rest) == 0) return 0;
  return JournalNumber(name.substr(0, dot));
}

struct JournalFiles {
  std::map<int, int64_t> bytes;                   // per run, its kept files
  std::map<int, std::vector<std::string>> names;  // per run, every file of it
};

JournalFiles ListJournalFiles(const DataLayout& layout) {
  JournalFiles result;
  std::vector<DirEntry> entries;
  if (!JournalFolderSound(layout)) return result;
  layout.Files().List(layout.UndoDir(), [](std::string_view name) { return RunOfName(name) > 0; }, &entries);
  for (const DirEntry& e : entries) {
    const int id = RunOfName(e.name);
    result.names[id].push_back(e.name);
    if (!e.name.ends_with(kRunSuffix)) result.bytes[id] += e.size;
  }
  return result;
}

// A path relative to a folder that stays inside it: no empty, "." or ".." part.
bool StaysInside(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view part = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// A path inside the tree of `tree`, relative to it, that a run may change:
// neither the journal nor the lock file.
bool ChangeablePath(const DataLayout& tree, std::string_view path) {
  const std::string full = tree.HistoryDir() + std::string(path);
  return StaysInside(path) && !(full + "/").starts_with(tree.UndoDir()) && full != tree.WriterLockFile();
}

// The source tree as the journal names it: an absolute real folder apart
// from the tree.
bool SoundSource(const std::string& source, const std::string& tree) {
  if (source.empty()) return true;
  return source.size() > 1 && source.front() == '/' && source.back() == '/' &&
         StaysInside(std::string_view(source).substr(1, source.size() - 2)) && !source.starts_with(tree) &&
         !tree.starts_with(source);
}

bool SoundEntry(const DataLayout& layout, const JournalRun& run, const JournalEntry& e) {
  if (e.kind == JournalEntry::Kind::kSaved && (e.store <= 0 || e.length < -1)) return false;
  if (e.kind == JournalEntry::Kind::kGrown && e.length < 0) return false;
  if (!e.outsideTree) return ChangeablePath(layout, e.path);
  return e.kind != JournalEntry::Kind::kGrown && !run.source.empty() && e.path.starts_with(run.source) &&
         ChangeablePath(DataLayout(std::string(), run.source), std::string_view(e.path).substr(run.source.size()));
}

// Whether the folder holding `path`, followed through any link, lies inside
// the real folder `root` and outside its journal (or is not there at all).
bool FolderInside(FileSystem& files, const std::string& path, const std::string& root) {
  const std::string folder = files.RealFolder(path.substr(0, path.rfind('/') + 1));
  return folder.empty() ||
         (folder.starts_with(root) && !folder.starts_with(root + std::string(DataLayout::kUndoFolderName) + "/"));
}

}  // namespace

std::string UndoOperationName(int id) { return "undo " + std::to_string(id); }

int UndoneRunOf(const std::string& operation) {
  return operation.starts_with("undo ") ? JournalNumber(std::string_view(operation).substr(5)) : 0;
}

bool JournalFolderSound(const DataLayout& layout) {
  std::vector<DirEntry> entries;
  const auto journal = [](std::string_view name) { return name == DataLayout::kUndoFolderName; };
  if (!layout.Files().List(layout.HistoryDir(), journal, &entries)) return false;
  return entries.empty() || entries.front().kind == DirEntry::Kind::kDirectory;
}

std::string JournalRunProblem(const DataLayout& layout, const JournalRun& run) {
  const std::string tree = layout.Files().RealFolder(layout.HistoryDir());
  const std::string id = std::to_string(run.id);
  if (tree.empty() || run.tree != tree)
    return "操作" + id + "记录的是数据目录" + run.tree + ", 不是现在的" + layout.HistoryDir() + ", 不能在此撤销!";
  if (!SoundSource(run.source, tree)) return "操作" + id + "的撤销记录中合并来源目录" + run.source + "无效, 未做任何改动!";
  for (const JournalEntry& e : run.entries)
    if (!SoundEntry(layout, run, e) ||
        !FolderInside(layout.Files(), EntryPath(layout, e), e.outsideTree ? run.source : tree))
      return "操作" + id + "的撤销记录含有不能改动的路径" + e.path + ", 未做任何改动!";
  return std::string();
}

std::string JournalRunFile(const DataLayout& layout, int id) {
  return layout.UndoDir() + std::to_string(id) + std::string(kRunSuffix);
}

std::string JournalStoreFile(const DataLayout& layout, int id, int store) {
  return layout.UndoDir() + std::to_string(id) + "." + std::to_string(store);
}

std::string EntryPath(const DataLayout& layout, const JournalEntry& entry) {
  return entry.outsideTree ? entry.path : layout.HistoryDir() + entry.path;
}

std::string JournalHeader(const JournalRun& run) {
  return "marbloom-undo " + std::to_string(kJournalVersion) + "\nid\t" + std::to_string(run.id) + "\ntime\t" +
         std::to_string(run.time) + "\noperation\t" + Escaped(run.operation) + "\narguments\t" +
         Escaped(run.arguments) + "\ntree\t" + Escaped(run.tree) + "\n" +
         (run.source.empty() ? std::string() : "source\t" + Escaped(run.source) + "\n");
}

std::string JournalLine(const JournalEntry& entry) {
  const char* kind = entry.kind == JournalEntry::Kind::kCreated ? "created"
                     : entry.kind == JournalEntry::Kind::kGrown ? "grown"
                                                                : "saved";
  const bool hasLength = entry.kind != JournalEntry::Kind::kCreated;
  return std::string(kind) + (entry.outsideTree ? "\tO\t" : "\tT\t") +
         (hasLength ? std::to_string(entry.length) : "-") + "\t" +
         (entry.kind == JournalEntry::Kind::kSaved ? std::to_string(entry.store) : "-") + "\t" +
         Escaped(entry.path) + "\n";
}

std::optional<JournalRun> ReadJournalRun(const DataLayout& layout, int id) {
  if (!JournalFolderSound(layout)) return std::nullopt;
  const std::optional<std::string> text = ReadSmallFile(layout.Files(), JournalRunFile(layout, id));
  if (!text) return std::nullopt;
  std::optional<JournalRun> run = ParseRun(*text);
  if (!run || run->id != id) return std::nullopt;
  return run;
}

std::vector<JournalRun> ReadJournal(const DataLayout& layout) {
  const JournalFiles files = ListJournalFiles(layout);
  std::vector<JournalRun> runs;
  for (auto it = files.names.rbegin(); it != files.names.rend(); ++it) {
    std::optional<JournalRun> run = ReadJournalRun(layout, it->first);
    if (!run) continue;
    auto bytes = files.bytes.find(run->id);
    run->bytes = bytes == files.bytes.end() ? 0 : bytes->second;
    runs.push_back(std::move(*run));
  }
  return runs;
}

int NextJournalRunId(const DataLayout& layout) {
  const JournalFiles files = ListJournalFiles(layout);
  return files.names.empty() ? 1 : files.names.rbegin()->first + 1;
}

JournalLimits ReadJournalLimits(const DataLayout& layout) {
  JournalLimits limits;
  const std::optional<std::string> text = ReadSmallFile(layout.Files(), layout.UndoDir() + kLimitsFile);
  if (!text) return limits;
  std::string_view rest = *text;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    const std::vector<std::string_view> f = Fields(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    int runs = 0;
    int64_t bytes = 0;
    if (f.size() == 2 && f[0] == "runs" && ParseNumber(f[1], &runs) && runs > 0) limits.runs = runs;
    if (f.size() == 2 && f[0] == "bytes" && ParseNumber(f[1], &bytes) && bytes >= 0) limits.bytes = bytes;
  }
  return limits;
}

bool WriteJournalLimits(const DataLayout& layout, const JournalLimits& limits) {
  FileSystem& files = layout.Files();
  files.MakeDir(layout.UndoDir());
  if (!JournalFolderSound(layout)) return false;
  const std::string path = layout.UndoDir() + kLimitsFile;
  const std::string temp = path + ".tmp";
  const std::string text = "runs\t" + std::to_string(limits.runs) + "\nbytes\t" + std::to_string(limits.bytes) + "\n";
  File file = OpenNewTemporary(files, temp);
  if (!file || !file.Write(text.data(), text.size(), 0) || !file.Close()) return false;
  return files.Rename(temp, path);
}

namespace {

// The manifest goes first, so that a run cut short here is no run at all.
void DropRun(const DataLayout& layout, std::vector<std::string>& names) {
  std::stable_partition(names.begin(), names.end(), [](const std::string& n) { return n.ends_with(kRunSuffix); });
  for (const std::string& name : names) layout.Files().Remove(layout.UndoDir() + name);
}

}  // namespace

bool PruneJournal(const DataLayout& layout) {
  const TreeWriteLock writer(layout);
  if (!writer.held()) return false;
  const JournalLimits limits = ReadJournalLimits(layout);
  JournalFiles files = ListJournalFiles(layout);
  if (files.names.empty()) return true;
  const int newest = files.names.rbegin()->first;
  const std::optional<JournalRun> last = ReadJournalRun(layout, newest);
  const int undone = last ? UndoneRunOf(last->operation) : 0;
  int64_t total = 0;
  for (const auto& [id, bytes] : files.bytes) total += bytes;
  int runs = static_cast<int>(files.names.size());
  for (auto& [id, names] : files.names) {
    if (id == newest || (runs <= limits.runs && total <= limits.bytes)) break;
    if (id == undone) continue;
    DropRun(layout, names);
    total -= files.bytes[id];
    --runs;
  }
  return true;
}

int64_t JournalBytes(const DataLayout& layout) {
  int64_t total = 0;
  std::vector<DirEntry> entries;
  if (!JournalFolderSound(layout)) return 0;
  layout.Files().List(layout.UndoDir(), [](std::string_view name) { return RunOfName(name) > 0; }, &entries);
  for (const DirEntry& e : entries) total += e.size;
  return total;
}

bool ClearJournal(const DataLayout& layout) {
  const TreeWriteLock writer(layout);
  if (!writer.held()) return false;
  for (auto& [id, names] : ListJournalFiles(layout).names) DropRun(layout, names);
  return true;
}

std::optional<int64_t> ParseByteSize(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int shift = 0;
  std::string number = text;
  switch (number.back()) {
    case 'K': case 'k': shift = 10; break;
    case 'M': case 'm': shift = 20; break;
    case 'G': case 'g': shift = 30; break;
    default: break;
  }
  if (shift > 0) number.pop_back();
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value) || value < 0 ||
      value > 1e18 / (1 << shift))
    return std::nullopt;
  const auto bytes = static_cast<int64_t>(value * static_cast<double>(int64_t{1} << shift));
  if (bytes <= 0) return std::nullopt;
  return bytes;
}

std::string JournalTimeText(int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm local{};
  localtime_r(&t, &local);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace marbloom
