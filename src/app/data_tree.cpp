#include "app/data_tree.h"

#include <string>

#include "app/file_helpers.h"
#include "app/message_sink.h"
#include "app/settings.h"

namespace marbloom {
namespace {

struct TreeRow {
  const char* historySubdir;  // null: a work-directory path from the settings
  const char* failure;
};

constexpr TreeRow kRows[] = {
    {nullptr, "创建down目录失败或者权限不足!"},
    {nullptr, "创建dayzip目录失败或者权限不足!"},
    {nullptr, "创建tickzip目录失败或者权限不足!"},
    {nullptr, "创建logs目录失败或者权限不足!"},
    {"sz/fzline/", "创建sz\\fzline目录失败或者权限不足!"},
    {"sz/lday/", "创建sz\\lday目录失败或者权限不足!"},
    {"sz/minline/", "创建sz\\minline目录失败或者权限不足!"},
    {"bj/fzline/", "创建bj\\fzline目录失败或者权限不足!"},
    {"bj/lday/", "创建bj\\lday目录失败或者权限不足!"},
    {"bj/minline/", "创建bj\\minline目录失败或者权限不足!"},
    {"sh/fzline/", "创建sh\\fzline目录失败或者权限不足!"},
    {"sh/lday/", "创建sh\\lday目录失败或者权限不足!"},
    {"sh/minline/", "创建sh\\minline目录失败或者权限不足!"},
    {"refmhq/", "创建refmhq目录失败或者权限不足!"},
    {"datetick/", "创建datetick目录失败或者权限不足!"},
    {"newdatetick/", "创建newdatetick目录失败或者权限不足!"},
    {"tick/", "创建tick目录失败或者权限不足!"},
    {"newtick/", "创建newtick目录失败或者权限不足!"},
};

}  // namespace

int CreateDataTree(int quiet) {
  const AppSettings& s = Settings();
  const std::string workDirs[] = {s.downDir, s.dayZipDir, s.tickZipDir, s.logDir};
  int index = 0;
  for (const TreeRow& row : kRows) {
    std::string path = row.historySubdir ? s.historyDir + row.historySubdir : workDirs[index];
    ++index;
    if (!MakeDirTree(path, 1)) {
      if (!quiet) ShowMessage(row.failure);
      return 0;
    }
  }
  return 1;
}

}  // namespace marbloom
