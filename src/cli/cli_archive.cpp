// archive list ARCHIVE | archive extract ARCHIVE DIR |
// import ARCHIVE --kind config|daily|tick
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/file_helpers.h"
#include "cli/cli_common.h"
#include "common/shared_state.h"
#include "download/archive_unpack.h"
#include "download/zip_reader.h"

namespace marbloom::cli {
namespace {

// Control characters of a name shown as '?', so that one entry stays one
// line and a name cannot send escape sequences to the terminal.
std::string PrintableName(std::string name) {
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

void PrintEntry(const ZipEntryInfo& info, const std::string& name) {
  std::time_t t = info.modificationTime;
  std::tm tm{};
  char when[32] = "";
  if (::localtime_r(&t, &tm) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  const char* method = info.method == 0 ? "stored" : info.method == 8 ? "deflated" : "other";
  std::printf("%10u %10u %08x %-8s %s %s\n", info.uncompressedSize, info.compressedSize, info.crc32, method, when,
              PrintableName(name).c_str());
}

int ListArchive(const std::string& path) {
  try {
    ZipReader reader(path);
    std::printf("%10s %10s %-8s %-8s %-19s %s\n", "size", "packed", "crc32", "method", "time", "name");
    reader.GoToFirstEntry();
    do {
      ZipEntryInfo info;
      reader.GetCurrentEntryInfo(&info, nullptr, 0);
      std::vector<char> name(std::size_t{info.nameLength} + 1, '\0');
      reader.GetCurrentEntryInfo(nullptr, name.data(), info.nameLength + 1);
      PrintEntry(info, DecodeEntryName(name.data(), info.flag));
    } while (reader.GoToNextEntry());
    reader.Close();
  } catch (const ZipError& e) {
    SetStatusText(e.what());
    return Finish(kExitFailed);
  } catch (const ZipFileError& e) {
    SetStatusText(e.what());
    return Finish(kExitFailed);
  }
  return kExitDone;
}

int ExtractInto(const std::string& archive, const std::string& dir) {
  std::string reason;
  if (ExtractArchive(archive, dir, &reason) != 1) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    SetStatusText(kUnpackFailedMessage);
    return Finish(kExitFailed);
  }
  SetStatusText(kUnpackDoneMessage);
  return Finish(kExitDone);
}

const std::map<std::string, int>& ImportKinds() {
  static const std::map<std::string, int> kinds{
      {"config", kDownloadConfig}, {"daily", kDownloadDaily}, {"tick", kDownloadTick}};
  return kinds;
}

// Copies the archive into the type's download folder (under a temporary name,
// then renamed), as a finished download leaves it.
bool PlaceArchive(const std::string& source, const std::string& target) {
  std::error_code ec;
  if (std::filesystem::equivalent(source, target, ec)) return true;
  std::string temporary = target + ".part";
  std::filesystem::copy_file(source, temporary, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec || !ReplaceFileAtomically(temporary, target)) {
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

int ImportArchive(const std::string& archive, const std::string& kind) {
  if (int code = RequireDataTree(kDataGuardMessage); code != kExitDone) return code;
  int type = ImportKinds().at(kind);
  std::string name = type == kDownloadConfig ? std::string("downit.zip")
                                             : std::filesystem::path(archive).filename().string();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(archive, ec)) {
    SetStatusText(kArchiveMissingMessage);
    return Finish(kExitFailed);
  }
  std::string dir = ArchiveDownloadDir(type);
  MakeDirTree(dir, 0);
  if (!PlaceArchive(archive, dir + name)) {
    SetStatusText("不能将下载文件存盘!");
    return Finish(kExitFailed);
  }
  return Finish(UnpackArchive(name, type) == 1 ? kExitDone : kExitFailed);
}

}  // namespace

void RegisterArchiveCommands(CLI::App& app, Context& context) {
  CLI::App* archive = app.add_subcommand("archive", "look into or unpack ZIP archives");
  archive->require_subcommand(1);

  auto listPath = std::make_shared<std::string>();
  CLI::App* list = archive->add_subcommand("list", "list the entries with sizes, CRC, method and time");
  list->add_option("ARCHIVE", *listPath, "the ZIP archive")->required();
  list->callback([&context, listPath] { context.action = [listPath] { return ListArchive(*listPath); }; });

  auto extractArgs = std::make_shared<std::vector<std::string>>(2);
  CLI::App* extract = archive->add_subcommand("extract", "unpack every entry into a directory");
  extract->add_option("ARCHIVE", (*extractArgs)[0], "the ZIP archive")->required();
  extract->add_option("DIR", (*extractArgs)[1], "destination directory (created when missing)")->required();
  extract->callback([&context, extractArgs] {
    context.action = [extractArgs] { return ExtractInto((*extractArgs)[0], (*extractArgs)[1]); };
  });

  auto importArgs = std::make_shared<std::vector<std::string>>(2);
  CLI::App* import = app.add_subcommand(
      "import", "put an archive into its download folder and unpack it as after a download");
  import->add_option("ARCHIVE", (*importArgs)[0], "the ZIP archive")->required();
  import->add_option("--kind", (*importArgs)[1], "config, daily or tick")
      ->required()
      ->check(CLI::IsMember({"config", "daily", "tick"}));
  import->callback([&context, importArgs] {
    context.action = [importArgs] { return ImportArchive((*importArgs)[0], (*importArgs)[1]); };
  });
}

}  // namespace marbloom::cli
