// settings show | settings set KEY=VALUE...
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/startup.h"
#include "cli/cli_common.h"
#include "base/text_encoding.h"
#include "common/shared_state.h"

namespace marbloom::cli {
namespace {

int ShowSettings() {
  const AppSettings& s = Settings();
  std::printf("DOMAIN=%s\nVIPDOC=%s\nMINDAYS=%d\nTRANSMIN=%d\nTCKV4=%d\n", s.downloadBase.c_str(),
              s.historyDir.c_str(), s.minuteDays, s.minutesAfterTick, s.tckv4);
  const DataLayout layout = CurrentLayout();
  std::printf("FIVEMINDAYS=%d\nWORKDIR=%s\nDOWNDIR=%s\nDAYZIPDIR=%s\nTICKZIPDIR=%s\nLOGDIR=%s\n",
              s.fiveMinuteDays, WorkDirectory().c_str(), layout.DownDir().c_str(), layout.DayZipDir().c_str(),
              layout.TickZipDir().c_str(), layout.LogDir().c_str());
  std::printf("DATATREE=%d\n", DataTreeReady.load());
  std::printf("MIRRORS=%s\nTRUSTKEYS=%s\nKEEPDAYS=%d\n", PrintableText(s.mirrors).c_str(),
              PrintableText(s.trustKeys).c_str(), s.keepDays);
  return kExitDone;
}

// The page accepts 50..250 days; the confirmation refuses texts that would
// not read back as entered.
int SetSettings(const std::vector<std::string>& assignments) {
  AppSettings s = Settings();
  for (const std::string& item : assignments) {
    std::size_t eq = item.find('=');
    if (eq == std::string::npos) return UsageFailure("expected KEY=VALUE: " + item);
    std::string key = item.substr(0, eq), value = item.substr(eq + 1);
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (key == "DOMAIN") {
      s.downloadBase = value;
    } else if (key == "VIPDOC") {
      s.historyDir = value;
    } else if (key == "MIRRORS") {
      s.mirrors = value;
    } else if (key == "TRUSTKEYS") {
      s.trustKeys = value;
    } else if (key == "MINDAYS" || key == "TRANSMIN" || key == "TCKV4" || key == "KEEPDAYS") {
      char* end = nullptr;
      long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0') return UsageFailure("not a number: " + item);
      if (key == "MINDAYS") {
        if (n < 50 || n > 250) return UsageFailure("请输入一个介于50和250之间的整数。");
        s.minuteDays = static_cast<int>(n);
      } else if (key == "KEEPDAYS") {
        if (n < 0 || n > 100000) return UsageFailure("KEEPDAYS takes 0 (keep every archive) to 100000 days");
        s.keepDays = static_cast<int>(n);
      } else if (n != 0 && n != 1) {
        return UsageFailure(key + " takes 0 or 1");
      } else {
        (key == "TRANSMIN" ? s.minutesAfterTick : s.tckv4) = static_cast<int>(n);
      }
    } else {
      return UsageFailure("unknown setting: " + key);
    }
  }
  return FinishWith(ConfirmSettings(s, RealFileSystem()));
}

}  // namespace

void RegisterSettingsCommands(CLI::App& app, Context& context) {
  CLI::App* settings = app.add_subcommand("settings", "show or change the settings");
  settings->require_subcommand(1);
  WithExample(settings, "marbloom-cli settings show");
  CLI::App* show = settings->add_subcommand("show", "print the settings and derived directories");
  WithExample(show, "marbloom-cli -C /srv/quotes/work settings show");
  show->callback([&context] { context.action = ShowSettings; });
  auto* set = settings->add_subcommand("set", "change settings and confirm them as the settings page does");
  auto assignments = std::make_shared<std::vector<std::string>>();
  set->add_option("assignments", *assignments, "KEY=VALUE (DOMAIN, VIPDOC, MINDAYS, TRANSMIN, TCKV4, MIRRORS, TRUSTKEYS, KEEPDAYS)")
      ->required();
  WithExample(set, "marbloom-cli settings set VIPDOC=/srv/quotes/vipdoc/ TRANSMIN=1 MINDAYS=120\n"
                   "  marbloom-cli settings set 'MIRRORS=http://mirror.example/quotes/' 'TRUSTKEYS=RWQ...'");
  set->callback([&context, assignments] { context.action = [assignments] { return SetSettings(*assignments); }; });
}

}  // namespace marbloom::cli
