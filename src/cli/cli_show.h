#pragma once
// daily show | minutes show | tick show: one security's records of a date
// range as real values, through the same reader as the window's data tab.
#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "app/data_view.h"
#include "cli/cli_common.h"

namespace marbloom::cli {

struct ShowArgs {
  std::string code;
  std::string from, to, date;  // YYYYMMDD text; empty leaves that end open
  bool csv = false;
};

// CODE, --from, --to and --csv; --date (one day) as well when `withDate`.
void AddShowOptions(CLI::App* command, ShowArgs& args, bool withDate);

// Prints the records as a table, or with --csv as CSV alone on stdout (the
// final status line then goes to stderr). Exit 0 when records were shown; 1
// when the file is missing or damaged or the range holds none; 2 for a bad
// code or range.
int ShowRecords(const ShowArgs& args, ViewKind kind);

// Adds the `show` command under `parent`: its options, then on a run the
// page's data guard `guard` and ShowRecords for the kind `kind()` gives.
CLI::App* AddShowCommand(CLI::App* parent, Context& context, const std::string& help, bool withDate,
                         int (*guard)(), std::function<ViewKind()> kind);

}  // namespace marbloom::cli
