// tick convert | tick delete | tick check | tick show: the tick operations of
// the tick page, with its checks and messages; show reads through the data
// reader.
#include <cstdio>
#include <memory>
#include <string>

#include "app/settings.h"
#include "base/file_helpers.h"
#include "cli/cli_common.h"
#include "cli/cli_show.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_repair.h"

namespace marbloom::cli {

namespace {

struct DateArgs {
  std::string from, to;
};

// The page's range checks: order, then at most 31 days apart. 0 when fine.
int CheckRange(int first, int last) {
  DateRangeCheck check = CheckDateRange(first, last, SpanDaysOfDates(first, last), true);
  return check == DateRangeCheck::kOk ? kExitDone : UsageFailure(DateRangeMessage(check));
}

using RangedOperation = OperationResult (*)(TickEngine&, int, int);

int RunRanged(const DateArgs& args, RangedOperation operation) {
  if (int code = RequireTickDataTree()) return code;
  const int first = ParseDate(args.from).value_or(0), last = ParseDate(args.to).value_or(0);
  if (int code = CheckRange(first, last)) return code;
  TickEngine engine(CurrentLayout());
  RunningOperation running(engine);
  return FinishWith(operation(engine, first, last));
}

// Exit 1 when a pair is damaged, as for any failed item.
int CheckAll(bool deep, bool repair) {
  if (int code = RequireTickDataTree()) return code;
  if (repair) {
    TickRepair engine(CurrentLayout());
    RunningOperation running(engine);
    return FinishWith(engine.RepairTickFiles(deep));
  }
  TickEngine engine(CurrentLayout());
  RunningOperation running(engine);
  Reports().Status("检查分笔文件开始");
  const OperationResult result = engine.CheckTickFiles(deep);
  Reports().Status(result.message);
  return FinishWith(result);
}

CLI::App* AddRanged(CLI::App* tick, Context& context, const char* name, const char* help, RangedOperation operation) {
  auto args = std::make_shared<DateArgs>();
  CLI::App* command = tick->add_subcommand(name, help);
  AddDateOption(command, "--from", args->from, "first date")->required();
  AddDateOption(command, "--to", args->to, "last date")->required();
  command->callback([&context, args, operation] {
    context.action = [args, operation] { return RunRanged(*args, operation); };
  });
  return command;
}

}  // namespace

void RegisterTickCommands(CLI::App& app, Context& context) {
  CLI::App* tick = app.add_subcommand("tick", "tick store: convert, delete, check, show");
  tick->require_subcommand(1);
  WithExample(tick, "marbloom-cli tick convert --from yesterday --to today");
  CLI::App* convert =
      AddRanged(tick, context, "convert",
                "merge the downloaded tick archives of a range into the tick store; exits 1 when the range "
                "holds no tick archive at all",
                [](TickEngine& e, int first, int last) { return e.ConvertTickRange(first, last); });
  WithExample(convert, "marbloom-cli tick convert --from 2022-05-09 --to 2022-05-13");
  CLI::App* remove = AddRanged(tick, context, "delete", "delete a date range from every security's tick files",
                               [](TickEngine& e, int first, int last) { return e.DeleteTickRange(first, last); });
  WithExample(remove, "marbloom-cli tick delete --from 20220509 --to 20220509");
  CLI::App* check = tick->add_subcommand("check", "check every tick index/data pair; exits 1 when one is damaged");
  auto deep = std::make_shared<bool>(false);
  auto repair = std::make_shared<bool>(false);
  check->add_flag("--deep", *deep, "also inflate and decode every stored block (slow)");
  check->add_flag("--repair", *repair,
                  "rebuild each damaged pair from the days that can still be read (with --deep: that also decode); "
                  "the lost days and each pair's repair are in the run log, and 'undo' takes the repair back");
  WithExample(check, "marbloom-cli tick check --deep --repair");
  check->callback([&context, deep, repair] { context.action = [deep, repair] { return CheckAll(*deep, *repair); }; });
  CLI::App* show = AddShowCommand(
      tick, context,
      "print a security's decoded ticks of a day (or a range) as real values, a table or CSV; exits 1 when "
      "there are none to show",
      true, RequireTickDataTree, [] { return ViewKind::kTicks; });
  WithExample(show, "marbloom-cli tick show sz000001 --date yesterday");
}

}  // namespace marbloom::cli
