// undo list | undo show RUN | undo RUN [--force] | undo limits: the undo
// journal of the tree. Every writing command is journalled where main starts
// it; these commands read the journal and take a run back.
#include <cstdio>
#include <memory>
#include <string>

#include "app/settings.h"
#include "cli/cli_common.h"
#include "cli/cli_progress.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "undo/undo_engine.h"

namespace marbloom::cli {
namespace {

struct UndoArgs {
  int run = 0;
  bool force = false;
  int keepRuns = 0;
  std::string keepBytes;
};

std::string Printable(const std::string& text) { return PrintableText(text); }

int List() {
  const std::vector<JournalRun> runs = ReadJournal(CurrentLayout());
  std::printf("%6s  %-19s  %7s  %12s  %s\n", "RUN", "TIME", "FILES", "BYTES", "OPERATION");
  for (const JournalRun& r : runs)
    std::printf("%6d  %-19s  %7zu  %12lld  %s\n", r.id, JournalTimeText(r.time).c_str(), r.entries.size(),
                static_cast<long long>(r.bytes), Printable(r.operation).c_str());
  if (runs.empty()) Reports().Status("撤销记录为空");
  return runs.empty() ? Finish(kExitFailed) : kExitDone;
}

int Show(int id) {
  const std::optional<JournalRun> run = ReadJournalRun(CurrentLayout(), id);
  if (!run) {
    Reports().Status("撤销记录中没有操作" + std::to_string(id) + "!");
    return Finish(kExitFailed);
  }
  std::printf("run %d  %s  %s\narguments: %s\ntree: %s\n", run->id, JournalTimeText(run->time).c_str(),
              Printable(run->operation).c_str(), Printable(run->arguments).c_str(), Printable(run->tree).c_str());
  for (const JournalEntry& e : run->entries) {
    const char* how = e.kind == JournalEntry::Kind::kCreated ? "created"
                      : e.kind == JournalEntry::Kind::kGrown ? "grown "
                                                             : "kept  ";
    std::printf("%s  %s%s\n", how, e.outsideTree ? "(outside the tree) " : "", Printable(e.path).c_str());
  }
  return kExitDone;
}

int Undo(const UndoArgs& a) {
  if (int code = RequireDataTree(kDataGuardMessage)) return code;
  UndoEngine engine(CurrentLayout());
  RunningOperation running(engine);
  return FinishWith(engine.UndoRun(a.run, a.force));
}

int Limits(const UndoArgs& a) {
  const DataLayout layout = CurrentLayout();
  JournalLimits limits = ReadJournalLimits(layout);
  if (a.keepRuns > 0 || !a.keepBytes.empty()) {
    const std::optional<int64_t> bytes = a.keepBytes.empty() ? limits.bytes : ParseByteSize(a.keepBytes);
    if (!bytes)
      return UsageFailure("not a size: '" + a.keepBytes + "'; give a positive number of bytes, or one ending in K, M or G");
    if (a.keepRuns > 0) limits.runs = a.keepRuns;
    limits.bytes = *bytes;
    const TreeWriteLock lock(layout);
    if (!lock.held()) return FinishWith(lock.Refuse());
    if (!WriteJournalLimits(layout, limits)) {
      Reports().Status("无法保存撤销记录的上限!");
      return Finish(kExitFailed);
    }
    PruneJournal(layout);
  }
  std::printf("keep-runs %d\nkeep-bytes %lld\n", limits.runs, static_cast<long long>(limits.bytes));
  return kExitDone;
}

}  // namespace

void RegisterUndoCommands(CLI::App& app, Context& context) {
  auto args = std::make_shared<UndoArgs>();
  CLI::App* undo = app.add_subcommand(
      "undo",
      "take back a writing operation: 'undo RUN' puts every file the run touched back as it was, refused when a "
      "later run changed the same files unless --force; 'undo list' and 'undo show RUN' tell what the journal "
      "holds");
  undo->require_subcommand(0, 1);
  undo->add_option("RUN", args->run, "the run to take back (see 'undo list')");
  undo->add_flag("--force", args->force, "take it back even though later runs changed the same files");
  WithExample(undo, "marbloom-cli undo 12");
  undo->callback([&context, args, undo] {
    if (!undo->get_subcommands().empty()) return;
    if (args->run <= 0) throw CLI::ValidationError("RUN", "give the run to take back, or list, show or limits");
    context.operation = UndoOperationName(args->run);
    context.action = [args] { return Undo(*args); };
  });

  CLI::App* list = undo->add_subcommand("list", "the journal's runs, newest first: time, files and kept bytes");
  WithExample(list, "marbloom-cli undo list");
  list->callback([&context] { context.action = List; });

  auto showRun = std::make_shared<int>(0);
  CLI::App* show = undo->add_subcommand("show", "the files one run touched and how each is kept");
  show->add_option("RUN", *showRun, "the run")->required();
  WithExample(show, "marbloom-cli undo show 12");
  show->callback([&context, showRun] { context.action = [showRun] { return Show(*showRun); }; });

  CLI::App* limits = undo->add_subcommand(
      "limits", "show or change how much the journal keeps (default: the last 20 runs, at most 2G); the oldest "
                "runs are dropped first, the newest always stays");
  limits->add_option("--keep-runs", args->keepRuns, "how many runs to keep")->check(CLI::PositiveNumber);
  limits->add_option("--keep-bytes", args->keepBytes, "how many bytes of kept files, e.g. 500M or 4G");
  WithExample(limits, "marbloom-cli undo limits --keep-runs 50 --keep-bytes 4G");
  limits->callback([&context, args] { context.action = [args] { return Limits(*args); }; });
}

}  // namespace marbloom::cli
