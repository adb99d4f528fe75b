// archive list ARCHIVE | archive extract ARCHIVE DIR | archive prune --keep-days N |
// import ARCHIVE --kind config|daily|tick | mirror --out DIR [--from D --to D]
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/settings.h"
#include "base/file_helpers.h"
#include "base/text_encoding.h"
#include "cli/cli_common.h"
#include "common/calendar.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "download/archive_store.h"
#include "download/archive_unpack.h"

namespace marbloom::cli {
namespace {

void PrintEntry(const ArchiveEntry& entry) {
  std::time_t t = entry.modified;
  std::tm tm{};
  char when[32] = "";
  if (::localtime_r(&t, &tm) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  const char* method = entry.method == 0 ? "stored" : entry.method == 8 ? "deflated" : "other";
  std::printf("%10u %10u %08x %-8s %s %s\n", entry.size, entry.packedSize, entry.crc32, method, when,
              PrintableText(entry.name).c_str());
}

OperationResult Failed(const std::string& message) { return OperationResult{Outcome::kFailed, message, 1}; }

int ShowEntries(const std::string& path) {
  std::vector<ArchiveEntry> entries;
  std::string reason;
  if (!ListArchive(RealFileSystem(), path, entries, &reason)) return FinishWith(Failed(reason));
  std::printf("%10s %10s %-8s %-8s %-19s %s\n", "size", "packed", "crc32", "method", "time", "name");
  for (const ArchiveEntry& entry : entries) PrintEntry(entry);
  return kExitDone;
}

int ExtractInto(const std::string& archive, const std::string& dir) {
  std::string reason;
  OperationResult result;
  {
    RunningOperation running;
    result = ExtractArchive(RealFileSystem(), archive, dir, &reason);
  }
  if (!result.done()) std::fprintf(stderr, "%s\n", PrintableText(reason).c_str());
  return FinishWith(result);
}

const std::map<std::string, DownloadKind>& ImportKinds() {
  static const std::map<std::string, DownloadKind> kinds{
      {"config", DownloadKind::kConfig}, {"daily", DownloadKind::kDaily}, {"tick", DownloadKind::kTick}};
  return kinds;
}

// Copies the archive into the type's download folder through a temporary
// that is complete, and of the archive's size, before it is renamed, as a
// finished download leaves it.
bool PlaceArchive(const std::string& source, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::equivalent(source, target, ec)) return true;
  const std::string temporary = target + kPartialFileSuffix;
  fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, ec);
  std::error_code sourceError, copyError;
  const auto sourceSize = fs::file_size(source, sourceError);
  const bool complete = !ec && !sourceError && fs::file_size(temporary, copyError) == sourceSize && !copyError;
  if (!complete || !RealFileSystem().Rename(temporary, target)) {
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

// The archive is placed and unpacked under the tree's writer lock, so a
// refused import changes nothing.
int ImportArchive(const std::string& archive, const std::string& kind) {
  if (int code = RequireDataTree(kDataGuardMessage); code != kExitDone) return code;
  const DataLayout layout = CurrentLayout();
  TreeWriteLock lock(layout);
  if (!lock.held()) return FinishWith(lock.Refuse());
  const DownloadKind type = ImportKinds().at(kind);
  const std::string name = type == DownloadKind::kConfig ? std::string(DataLayout::kConfigArchiveName)
                                                   : std::filesystem::path(archive).filename().string();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(archive, ec)) return FinishWith(Failed(kArchiveMissingMessage));
  const std::string dir = ArchiveDownloadDir(layout, type);
  MakeDirTree(layout.Files(), dir, false);
  if (!PlaceArchive(archive, dir + name)) return FinishWith(Failed("不能将下载文件存盘!"));
  OperationResult result;
  {
    RunningOperation running;
    result = UnpackDownloadedArchive(layout, name, type);
  }
  // The unpacking synced the destination; the placed archive may lie on another file system.
  if (!layout.Files().SyncFileSystem(dir) && result.done()) result = Failed("sync failed: " + dir);
  return FinishWith(result);
}

struct MirrorArgs {
  std::string out, from, to;
};

int Mirror(const MirrorArgs& args) {
  const int first = ParseDate(args.from).value_or(0), last = ParseDate(args.to).value_or(0);
  if (first != 0 && last != 0 && first > last) return UsageFailure(kDateRangeInvalidMessage);
  RunningOperation running;
  return FinishWith(PublishMirror(CurrentLayout(), args.out, first, last));
}

int Prune(int keepDays) {
  RunningOperation running;
  OperationResult result = PruneArchives(CurrentLayout(), keepDays, MarketTimeAt(std::time(nullptr)).date);
  Reports().Status(result.message);
  return FinishWith(result);
}

void AddMirror(CLI::App& app, Context& context) {
  auto args = std::make_shared<MirrorArgs>();
  CLI::App* mirror = app.add_subcommand(
      "mirror", "lay out the downloaded archives with their signed manifests as a folder a web server can serve");
  mirror->add_option("--out", args->out, "the folder to fill (created when missing)")->required();
  AddDateOption(mirror, "--from", args->from, "first day of the day archives (default: the oldest)");
  AddDateOption(mirror, "--to", args->to, "last day of the day archives (default: the newest)");
  WithExample(mirror, "marbloom-cli mirror --out /srv/www/quotes/");
  mirror->footer(
      "The configuration archive, the day archives and each folder's SHA256SUMS and SHA256SUMS.minisig go where\n"
      "the server holds them, exactly as they were downloaded: nothing is signed again, and desktops that trust\n"
      "the publisher's key verify what the mirror serves.\n\n" + mirror->get_footer());
  mirror->callback([&context, args] { context.action = [args] { return Mirror(*args); }; });
}

}  // namespace

void RegisterArchiveCommands(CLI::App& app, Context& context) {
  AddMirror(app, context);
  CLI::App* archive = app.add_subcommand("archive", "look into or unpack ZIP archives");
  archive->require_subcommand(1);
  WithExample(archive, "marbloom-cli archive list down/dayzip/20220509.zip");

  auto listPath = std::make_shared<std::string>();
  CLI::App* list = archive->add_subcommand("list", "list the entries with sizes, CRC, method and time");
  list->add_option("ARCHIVE", *listPath, "the ZIP archive")->required();
  WithExample(list, "marbloom-cli archive list down/dayzip/20220509.zip");
  list->callback([&context, listPath] { context.action = [listPath] { return ShowEntries(*listPath); }; });

  auto extractArgs = std::make_shared<std::vector<std::string>>(2);
  CLI::App* extract = archive->add_subcommand("extract", "unpack every entry into a directory");
  extract->add_option("ARCHIVE", (*extractArgs)[0], "the ZIP archive")->required();
  extract->add_option("DIR", (*extractArgs)[1], "destination directory (created when missing)")->required();
  WithExample(extract, "marbloom-cli archive extract down/tickzip/20220509.zip /tmp/ticks");
  extract->callback([&context, extractArgs] {
    context.action = [extractArgs] { return ExtractInto((*extractArgs)[0], (*extractArgs)[1]); };
  });

  auto keepDays = std::make_shared<int>(0);
  CLI::App* prune = archive->add_subcommand("prune", "remove day archives older than the last N weekdays from the download area");
  prune->add_option("--keep-days", *keepDays, "weekdays of archives to keep, today's included")
      ->required()
      ->check(CLI::Range(1, 100000));
  WithExample(prune, "marbloom-cli archive prune --keep-days 60");
  prune->callback([&context, keepDays] { context.action = [keepDays] { return Prune(*keepDays); }; });

  auto importArgs = std::make_shared<std::vector<std::string>>(2);
  CLI::App* import = app.add_subcommand(
      "import", "put an archive into its download folder and unpack it as after a download");
  import->add_option("ARCHIVE", (*importArgs)[0], "the ZIP archive")->required();
  import->add_option("--kind", (*importArgs)[1], "config, daily or tick")
      ->required()
      ->check(CLI::IsMember({"config", "daily", "tick"}));
  WithExample(import, "marbloom-cli import ~/20220509.zip --kind daily");
  import->callback([&context, importArgs] {
    context.action = [importArgs] { return ImportArchive((*importArgs)[0], (*importArgs)[1]); };
  });
}

}  // namespace marbloom::cli
