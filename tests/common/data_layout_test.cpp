#include "common/data_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace marbloom {
namespace {

TEST(DataLayout, NamesEveryPathOfTheTree) {
  const DataLayout l("/w/", "/h/");
  const std::vector<std::pair<std::string, std::string>> paths = {
      {l.SettingsFile(), "/w/marbloom.ini"},     {l.DownloadConfigFile(), "/w/downit5.cfg"},
      {l.DayZipDir(), "/w/down/dayzip/"},        {l.TickZipDir(), "/w/down/tickzip/"},
      {l.LogDir(), "/w/logs/"},                  {l.DailyFile(0, "000001"), "/h/sz/lday/sz000001.day"},
      {l.UpdateStateFile(), "/w/update.ini"},
      {l.OneMinuteFile(1, "600000"), "/h/sh/minline/sh600000.01"},
      {l.FiveMinuteFile(2, "430047"), "/h/bj/fzline/bj430047.5"},
      {l.OneMinuteTemp(0), "/h/sz/minline/min1.tmp"}, {l.FiveMinuteTemp(0), "/h/sz/fzline/min5.tmp"},
      {l.CodeListFile(0, 20220505), "/h/refmhq/sz220505.cod"},
      {l.QuoteFile(1, 20220505), "/h/refmhq/sh220505.md1"},
      {l.TickIndexFile("sz000001"), "/h/newtick/sz000001.vid"},
      {l.TickDataFile("sz000001"), "/h/newtick/sz000001.vtc"},
      {l.TickIndexTemp(), "/h/newtick/vid.tmp"},  {l.TickDataTemp(), "/h/newtick/vtc.tmp"},
      {l.TickDataTemp(3), "/h/newtick/vtc3.tmp"}, {l.FiveMinuteTemp(0, 1), "/h/sz/fzline/min51.tmp"},
      {l.TickArchiveFile(20220505), "/h/newdatetick/20220505.htc"},
      {DataLayout::DayArchiveName(20220505), "20220505.zip"},
  };
  for (const auto& [actual, expected] : paths) EXPECT_EQ(actual, expected);
}

TEST(DataLayout, TreeFoldersComeInCreationOrderWithTheirLabels) {
  std::vector<std::string> labels;
  for (const auto& folder : DataLayout("w/", "h/").TreeFolders()) labels.push_back(folder.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"down", "dayzip", "tickzip", "logs", "sz\\fzline", "sz\\lday",
                                               "sz\\minline", "bj\\fzline", "bj\\lday", "bj\\minline",
                                               "sh\\fzline", "sh\\lday", "sh\\minline", "refmhq", "datetick",
                                               "newdatetick", "tick", "newtick"}));
  EXPECT_EQ(DataLayout("w/", "h/").TreeFolders()[4].path, "h/sz/fzline/");
}

}  // namespace
}  // namespace marbloom
