// minutes build | delete | scale | show: the minute-line entries of the tick
// page, with its checks and messages, on the same engine calls; show reads
// through the data reader.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/file_helpers.h"
#include "app/settings.h"
#include "cli/cli_common.h"
#include "cli/cli_show.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "tickdata/minute_engine.h"

namespace marbloom::cli {

namespace {

struct MinuteArgs {
  std::string from, to, codes;
  bool all = false;
  MinuteFactors factors;
};

int Date(const std::string& text) { return ParseDate(text).value_or(0); }

int CheckRange(const MinuteArgs& a, bool limitSpan) {
  const DateRangeCheck check =
      CheckDateRange(Date(a.from), Date(a.to), SpanDaysOfDates(Date(a.from), Date(a.to)), limitSpan);
  return check == DateRangeCheck::kOk ? kExitDone : UsageFailure(DateRangeMessage(check));
}

// One engine per command on the current layout and minute options,
// cancelled by Ctrl-C while its operation runs.
OperationResult Run(const std::function<OperationResult(MinuteEngine&)>& operation) {
  MinuteEngine engine(CurrentLayout(), CurrentMinuteOptions());
  RunningOperation running(engine);
  return operation(engine);
}

int Build(const MinuteArgs& a) {
  if (a.all == (!a.from.empty() || !a.to.empty()) || (!a.all && (a.from.empty() || a.to.empty())))
    return UsageFailure("give either --all or both --from and --to");
  if (!a.all)
    if (int code = CheckRange(a, true)) return code;
  const int first = a.all ? 0 : Date(a.from), last = a.all ? 0 : Date(a.to);
  return FinishWith(Run([&](MinuteEngine& engine) { return engine.BuildMinuteLines(first, last); }));
}

// The page runs the 1-minute delete and then the 5-minute delete.
int Delete(const MinuteArgs& a) {
  if (int code = CheckRange(a, true)) return code;
  return FinishWith(Run([&](MinuteEngine& engine) { return engine.DeleteMinuteRange(Date(a.from), Date(a.to)); }));
}

int Scale(const MinuteArgs& a) {
  const std::string pattern = TrimSpaces(a.codes);
  if (!HasPatternLength(pattern)) return UsageFailure(kPatternLengthMessage);
  if (!HasPatternCharacters(pattern)) return UsageFailure(kCodeFormatMessage);
  if (int code = CheckRange(a, false)) return code;
  return FinishWith(Run(
      [&](MinuteEngine& engine) { return engine.ModifyMinuteRange(Date(a.from), Date(a.to), a.factors, pattern); }));
}

void Bind(CLI::App* command, Context& context, std::shared_ptr<MinuteArgs> args, int (*run)(const MinuteArgs&)) {
  command->callback([&context, args, run] {
    context.action = [args, run] {
      if (int code = RequireTickDataTree()) return code;
      return run(*args);
    };
  });
}

void AddRange(CLI::App* command, MinuteArgs& a, bool required) {
  CLI::Option* from = AddDateOption(command, "--from", a.from, "first date");
  CLI::Option* to = AddDateOption(command, "--to", a.to, "last date");
  if (required) from->required(), to->required();
}

void AddFactors(CLI::App* command, MinuteArgs& a) {
  command->add_option("--open", a.factors.open, "open price factor (default 1)");
  command->add_option("--high", a.factors.high, "high price factor (default 1)");
  command->add_option("--low", a.factors.low, "low price factor (default 1)");
  command->add_option("--close", a.factors.close, "close price factor (default 1)");
  command->add_option("--volume", a.factors.volume, "volume factor (default 1)");
  command->add_option("--amount", a.factors.amount, "amount factor (default 1)");
}

}  // namespace

void RegisterMinuteCommands(CLI::App& app, Context& context) {
  CLI::App* minutes = app.add_subcommand("minutes", "1-minute and 5-minute line files: build, delete, scale, show");
  minutes->require_subcommand(1);
  WithExample(minutes, "marbloom-cli minutes build --from yesterday --to today");

  auto build = std::make_shared<MinuteArgs>();
  CLI::App* b = minutes->add_subcommand("build", "build minute lines from the tick store (a range, or --all)");
  AddRange(b, *build, false);
  b->add_flag("--all", build->all, "rebuild every security from its last 500 tick days, replacing the files");
  WithExample(b, "marbloom-cli minutes build --from 2022-05-09 --to 2022-05-13");
  Bind(b, context, build, Build);

  auto remove = std::make_shared<MinuteArgs>();
  CLI::App* d = minutes->add_subcommand("delete", "delete the 1-minute and then the 5-minute bars of a range");
  AddRange(d, *remove, true);
  WithExample(d, "marbloom-cli minutes delete --from 20220509 --to 20220509");
  Bind(d, context, remove, Delete);

  auto scale = std::make_shared<MinuteArgs>();
  CLI::App* s = minutes->add_subcommand("scale", "multiply prices, volume and amount over a date range");
  AddRange(s, *scale, true);
  s->add_option("--codes", scale->codes, "code pattern mmcccccc, '?' for any character")->required();
  AddFactors(s, *scale);
  WithExample(s, "marbloom-cli minutes scale --from 20220509 --to 20220513 --codes sh600000 --volume 2");
  Bind(s, context, scale, Scale);

  auto kind = std::make_shared<int>(1);
  CLI::App* w = AddShowCommand(
      minutes, context,
      "print one security's bars as real values, a table or CSV; exits 1 when there are none to show", true,
      RequireTickDataTree, [kind] { return *kind == 5 ? ViewKind::kFiveMinute : ViewKind::kOneMinute; });
  w->add_option("--kind", *kind, "1 or 5 (default 1)")->check(CLI::IsMember({1, 5}));
  WithExample(w, "marbloom-cli minutes show sz000001 --kind 5 --date yesterday --csv");
}

}  // namespace marbloom::cli
