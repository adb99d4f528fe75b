#include "cli/cli_show.h"

#include <cstdio>
#include <memory>

#include "app/settings.h"
#include "base/file_helpers.h"
#include "cli/cli_common.h"
#include "cli/cli_progress.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "common/shared_state.h"

namespace marbloom::cli {
namespace {

int Date(const std::string& text) { return text.empty() ? 0 : ParseDate(text).value_or(0); }

}  // namespace

void AddShowOptions(CLI::App* command, ShowArgs& args, bool withDate) {
  command->add_option("CODE", args.code, "mmcccccc (sz, sh or bj)")->required();
  CLI::Option* from = AddDateOption(command, "--from", args.from, "first date (default: the first record)");
  CLI::Option* to = AddDateOption(command, "--to", args.to, "last date (default: the last record)");
  if (withDate) AddDateOption(command, "--date", args.date, "only this day")->excludes(from)->excludes(to);
  command->add_flag("--csv", args.csv,
                    "print CSV (a header line, then one record per line) and the final status line on stderr");
}

int ShowRecords(const ShowArgs& args, ViewKind kind) {
  const auto security = ParseSingleSecurity(TrimSpaces(args.code), true);
  if (!security) return UsageFailure(kCodeFormatMessage);
  const int first = Date(args.date.empty() ? args.from : args.date);
  const int last = Date(args.date.empty() ? args.to : args.date);
  if (first > 0 && last > 0 && last < first) return UsageFailure(DateRangeMessage(DateRangeCheck::kReversed));
  const DataView view =
      ReadDataView(CurrentLayout(), ViewRequest{security->market, security->code, kind, first, last, Settings().tckv4});
  const int code = view.ok ? kExitDone : kExitFailed;
  if (!args.csv) {
    if (!view.rows.empty()) std::fputs(DataViewTable(view).c_str(), stdout);
    Reports().Status(view.message);
    return Finish(code);
  }
  EndProgress();
  if (!view.rows.empty()) std::fputs(DataViewCsv(view).c_str(), stdout);
  std::fflush(stdout);
  view.ok ? ShowNote(view.message) : ShowError(view.message);
  return code;
}

CLI::App* AddShowCommand(CLI::App* parent, Context& context, const std::string& help, bool withDate,
                         int (*guard)(), std::function<ViewKind()> kind) {
  auto args = std::make_shared<ShowArgs>();
  CLI::App* show = parent->add_subcommand("show", help);
  AddShowOptions(show, *args, withDate);
  show->callback([&context, args, guard, kind] {
    context.action = [args, guard, kind] {
      if (int code = guard()) return code;
      return ShowRecords(*args, kind());
    };
  });
  return show;
}

}  // namespace marbloom::cli
