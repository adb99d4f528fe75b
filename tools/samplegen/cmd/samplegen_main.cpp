// marbloom-samplegen: writes the sample market's files.
//   day --date D [--seed S] [--securities N] [--full] (--out DIR | --tree HISTORY)
//   archives --from D --to D [--seed S] [--securities N] [--full] [--sign KEY] --out DIR
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <string>

#include "common/calendar.h"
#include "common/date_range.h"
#include "sample_sign.h"
#include "samplegen.h"

namespace {

using marbloom::sample::SampleOptions;

// YYYYMMDD or YYYY-MM-DD; 0 when not a calendar date.
int ParseDateText(const std::string& text) { return marbloom::ParseDate(text).value_or(0); }

std::string AsDir(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

int Report(bool ok, const std::string& error, std::chrono::steady_clock::time_point start) {
  if (!ok) {
    std::fprintf(stderr, "marbloom-samplegen: %s\n", error.c_str());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "done in %.2f s\n", seconds);
  return 0;
}

struct Arguments {
  std::string date, from, to, out, tree, sign;
  SampleOptions options;
  bool full = false;
};

void AddCommon(CLI::App* sub, Arguments& a) {
  sub->add_option("--seed", a.options.seed, "seed of the market (default 1)");
  sub->add_option("--securities", a.options.securities, "about this many securities")->check(CLI::Range(1, 30000));
  sub->add_flag("--full", a.full, "the full market: 16,000 securities and realistic tick days");
}

int RunDay(Arguments& a) {
  const int date = ParseDateText(a.date);
  if (date == 0) return std::fprintf(stderr, "marbloom-samplegen: bad date %s\n", a.date.c_str()), 2;
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  const bool ok = a.tree.empty() ? WriteDailySources(date, a.options, AsDir(a.out), &error) &&
                                       WriteTickArchive(date, a.options, AsDir(a.out), &error)
                                 : WriteDayIntoTree(date, a.options, marbloom::DataLayout({}, AsDir(a.tree)), &error);
  return Report(ok, error, start);
}

int RunArchives(Arguments& a) {
  const int first = ParseDateText(a.from), last = ParseDateText(a.to);
  if (first == 0 || last == 0 || last < first) {
    return std::fprintf(stderr, "marbloom-samplegen: bad date range %s .. %s\n", a.from.c_str(), a.to.c_str()), 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  bool ok = WriteServerTree(first, last, a.options, AsDir(a.out), &error);
  // Each folder of archives gets its signed manifest.
  if (ok && !a.sign.empty()) {
    const std::optional<marbloom::sample::SigningKey> key = marbloom::sample::ReadSigningKey(a.sign, &error);
    ok = key.has_value();
    for (const std::string folder : {"", marbloom::sample::kDailyArchivePath, marbloom::sample::kTickArchivePath})
      ok = ok && marbloom::sample::SignFolder(AsDir(a.out) + folder, *key, &error);
  }
  return Report(ok, error, start);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes the sample market's source files and archives."};
  app.require_subcommand(1);
  Arguments a;
  bool securitiesGiven = false;
  CLI::App* day = app.add_subcommand("day", "the six daily source files and the .htc archive of one day");
  day->add_option("--date", a.date, "YYYYMMDD")->required();
  AddCommon(day, a);
  CLI::Option_group* where = day->add_option_group("where", "one of");
  where->add_option("--out", a.out, "output folder for all seven files");
  where->add_option("--tree", a.tree, "history folder of a data tree: each file where the conversions read it");
  where->require_option(1);
  CLI::App* archives = app.add_subcommand("archives", "a server tree: downit.zip and every weekday's two archives");
  archives->add_option("--from", a.from, "first date")->required();
  archives->add_option("--to", a.to, "last date")->required();
  AddCommon(archives, a);
  archives->add_option("--out", a.out, "output folder")->required();
  archives->add_option("--sign", a.sign, "minisign secret key (unencrypted): write SHA256SUMS and its signature "
                                         "in each folder")->check(CLI::ExistingFile);
  CLI11_PARSE(app, argc, argv);
  securitiesGiven = day->count("--securities") + archives->count("--securities") > 0;
  if (a.full) {
    const SampleOptions full = SampleOptions::FullMarket(a.options.seed);
    a.options.fullTickDays = true;
    if (!securitiesGiven) a.options.securities = full.securities;
  }
  return day->parsed() ? RunDay(a) : RunArchives(a);
}
