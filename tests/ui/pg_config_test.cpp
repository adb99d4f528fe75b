// The settings page: first values, the days check, over-long entries, the
// confirmation with a writable and an unwritable history directory, and
// the folder picker.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>

#include "app/settings.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"
#include "ui/folder_picker.h"
#include "ui/main_dlg.h"
#include "ui/pg_config.h"
#include "ui/pg_day_line.h"
#include "ui_test_support.h"

namespace marbloom::test {
namespace {

class PgConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = new ui::PgConfig;
    sheet_.AddPage(page_, QStringLiteral("设置页面"));
    sheet_.show();
  }
  void TearDown() override { ui::FolderPicker::SetChooser(nullptr); }
  QLineEdit* Edit(int id) { return Child<QLineEdit>(page_, ui::ControlName(id)); }
  void Confirm() { Child<QPushButton>(page_, ui::ControlName(1004))->click(); }
  bool SettingsFileExists() { return PathExists(SettingsFilePath()); }

  TestTree tree_;
  BoxRecorder boxes_;
  ui::MainDlg sheet_;
  ui::PgConfig* page_ = nullptr;
};

TEST_F(PgConfigTest, ShowsTheLoadedSettings) {
  EXPECT_EQ(Edit(1005)->text().toStdString(), Settings().downloadBase);
  EXPECT_EQ(Edit(1000)->text().toStdString(), tree_.historyDir());
  EXPECT_EQ(Edit(1002)->text(), "120");
  EXPECT_TRUE(Child<QCheckBox>(page_, ui::ControlName(1003))->isChecked());
  EXPECT_TRUE(Child<QCheckBox>(page_, ui::ControlName(4025))->isChecked());
}

struct DaysCase {
  const char* entry;
  bool accepted;
};

class PgConfigDays : public PgConfigTest, public ::testing::WithParamInterface<DaysCase> {};

TEST_P(PgConfigDays, DaysOutside50To250AreRefusedBeforeAnythingIsSaved) {
  Edit(1002)->setText(QString::fromUtf8(GetParam().entry));
  Confirm();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  if (GetParam().accepted) {
    EXPECT_EQ(boxes_.boxes[0].text, QStringLiteral("设置已更改!"));
    EXPECT_TRUE(SettingsFileExists());
  } else {
    EXPECT_EQ(boxes_.boxes[0].text.toStdString(), ui::kMinuteDaysEntryMessage);
    EXPECT_EQ(boxes_.boxes[0].icon, ui::BoxIcon::kWarning);
    EXPECT_FALSE(SettingsFileExists());
    EXPECT_EQ(page_->focusWidget(), Edit(1002));
  }
}

INSTANTIATE_TEST_SUITE_P(Entries, PgConfigDays,
                         ::testing::Values(DaysCase{"49", false}, DaysCase{"251", false}, DaysCase{"abc", false},
                                           DaysCase{"", false}, DaysCase{"-60", false}, DaysCase{"50", true},
                                           DaysCase{"250", true}, DaysCase{" 120 ", true}));

TEST_F(PgConfigTest, ConfirmSavesReloadsAndReArmsTheDownload) {
  bool lockedDuringBox = false;
  boxes_.onBox = [&] { lockedDuringBox = sheet_.TabsLocked(); };
  DownloadConfigLoaded = 1;
  const std::string typed = tree_.root() + "hist\\vipdoc";
  Edit(1000)->setText(QString::fromStdString(typed));
  Edit(1002)->setText("60");
  Child<QCheckBox>(page_, ui::ControlName(1003))->setChecked(false);
  Confirm();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, QStringLiteral("设置已更改!"));
  EXPECT_EQ(boxes_.boxes[0].caption, QStringLiteral("系统设置"));
  EXPECT_EQ(boxes_.boxes[0].icon, ui::BoxIcon::kInformation);
  EXPECT_FALSE(lockedDuringBox);
  EXPECT_FALSE(sheet_.TabsLocked());
  EXPECT_EQ(Settings().historyDir, tree_.root() + "hist/vipdoc/");
  EXPECT_EQ(Settings().fiveMinuteDays, 300);
  EXPECT_EQ(Settings().minutesAfterTick, 0);
  EXPECT_EQ(DataTreeReady.load(), 1);
  EXPECT_EQ(DownloadConfigLoaded.load(), 0);
  EXPECT_NE(ReadFileText(SettingsFilePath()).find("hist\\vipdoc"), std::string::npos);
  // The page keeps the text as typed.
  EXPECT_EQ(Edit(1000)->text().toStdString(), typed);
}

TEST_F(PgConfigTest, AnUnwritableHistoryDirectoryLeavesThePagesRefusing) {
  bool lockedDuringBox = false;
  boxes_.onBox = [&] { lockedDuringBox = sheet_.TabsLocked(); };
  DownloadConfigLoaded = 1;
  WriteFileBytes(tree_.root() + "blocker", {1});
  Edit(1000)->setText(QString::fromStdString(tree_.root() + "blocker/vipdoc"));
  Confirm();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, QStringLiteral("创建sz\\fzline目录失败或者权限不足!"));
  EXPECT_TRUE(lockedDuringBox);
  EXPECT_FALSE(sheet_.TabsLocked());
  EXPECT_EQ(DataTreeReady.load(), 0);
  EXPECT_EQ(DownloadConfigLoaded.load(), 1);
  EXPECT_TRUE(SettingsFileExists());

  auto* daily = new ui::PgDayLine;
  sheet_.AddPage(daily, QStringLiteral("日线数据处理"));
  ASSERT_TRUE(RunPage(daily));
  EXPECT_EQ(StatusOf(daily, 3033), kDataGuardMessage);
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// A settings file that cannot be written: one box saying so, nothing changes.
TEST_F(PgConfigTest, ASettingsFileThatCannotBeWrittenIsReportedOnce) {
  std::filesystem::create_directories(SettingsFilePath());
  Edit(1002)->setText("60");
  Confirm();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_TRUE(boxes_.boxes[0].text.startsWith(QStringLiteral("设置文件"))) << boxes_.boxes[0].text.toStdString();
  EXPECT_EQ(boxes_.boxes[0].icon, ui::BoxIcon::kWarning);
  EXPECT_EQ(Settings().minuteDays, 120);
  EXPECT_FALSE(sheet_.TabsLocked());
}

struct TextCase {
  const char* name;
  int id;
  std::string text;
  const char* refusal;
};

class PgConfigText : public PgConfigTest, public ::testing::WithParamInterface<TextCase> {};

// Nothing is cut silently: an entry the settings file cannot give back whole is refused.
TEST_P(PgConfigText, EntriesTheFileCannotHoldAreRefused) {
  Edit(GetParam().id)->setText(QString::fromStdString(GetParam().text));
  Confirm();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_TRUE(boxes_.boxes[0].text.startsWith(QString::fromUtf8(GetParam().refusal)))
      << boxes_.boxes[0].text.toStdString();
  EXPECT_FALSE(SettingsFileExists());
  EXPECT_EQ(page_->focusWidget(), Edit(GetParam().id));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, PgConfigText,
    ::testing::Values(TextCase{"LongHistory", 1000, "/" + std::string(229, 'h'), "历史数据目录太长"},
                      TextCase{"LongChineseDomain", 1005, "http://" + Repeat("数", 112), "下载站点太长"},
                      TextCase{"NoGbkForm", 1000, "/data/\xF0\x9F\x98\x80/vipdoc", "历史数据目录含有GBK编码无法表示的字符"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PgConfigTest, ATextOf229BytesIsKept) {
  const std::string dir = tree_.root() + std::string(229 - tree_.root().size(), 'k');
  Edit(1000)->setText(QString::fromStdString(dir));
  Confirm();
  EXPECT_EQ(Settings().historyDir, dir + "/");
}

TEST_F(PgConfigTest, BrowseTakesTheChosenFolderAndKeepsTheTextOnCancel) {
  QString shownWhileBrowsing;
  QString answer = QStringLiteral("/chosen/folder");
  QStringList startedAt;
  ui::FolderPicker::SetChooser([&](ui::FolderPicker& picker) -> std::optional<QString> {
    startedAt.push_back(picker.InitialFolder());
    EXPECT_EQ(picker.Owner(), page_);
    picker.OnInitialized();
    picker.OnSelChanged(QStringLiteral("/a/folder/name/that/is/longer/than/thirty-five/bytes"));
    shownWhileBrowsing = picker.StatusText();
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  });
  Child<QPushButton>(page_, ui::ControlName(1001))->click();
  EXPECT_EQ(Edit(1000)->text(), QStringLiteral("/chosen/folder"));
  EXPECT_EQ(shownWhileBrowsing, QStringLiteral("/a/folder/name/that/is/longer/than/..."));
  answer.clear();
  Child<QPushButton>(page_, ui::ControlName(1001))->click();
  EXPECT_EQ(Edit(1000)->text(), QStringLiteral("/chosen/folder"));
  EXPECT_EQ(startedAt, QStringList({QString::fromStdString(tree_.historyDir()), QStringLiteral("/chosen/folder")}));
}

struct ShortenCase {
  const char* path;
  const char* shown;
};

class FolderPickerShorten : public ::testing::TestWithParam<ShortenCase> {};

TEST_P(FolderPickerShorten, KeepsAtMost35BytesAndNeverHalfACharacter) {
  EXPECT_EQ(ui::FolderPicker::Shorten(QString::fromUtf8(GetParam().path)).toStdString(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FolderPickerShorten,
    ::testing::Values(ShortenCase{"", ""}, ShortenCase{"/home/user/data/vipdoc", "/home/user/data/vipdoc"},
                      ShortenCase{"12345678901234567890123456789012345", "12345678901234567890123456789012345"},
                      ShortenCase{"123456789012345678901234567890123456", "12345678901234567890123456789012345..."},
                      // 17 two-byte characters are 34 bytes: the 18th does not fit whole.
                      ShortenCase{"数据数据数据数据数据数据数据数据数据数", "数据数据数据数据数据数据数据数据数..."},
                      ShortenCase{"数据数据数据数据数据数据数据数据数ab", "数据数据数据数据数据数据数据数据数a..."}));

// The day-line page's source folder takes '/' separators and a trailing '/'.
TEST(DailyBrowse, TheChosenSourceFolderEndsWithASlash) {
  TestTree tree;
  ui::FolderPicker::SetChooser([](ui::FolderPicker&) -> std::optional<QString> {
    return QStringLiteral("D:\\other\\vipdoc");
  });
  ui::PgDayLine page;
  Child<QPushButton>(&page, ui::ControlName(3007))->click();
  ui::FolderPicker::SetChooser(nullptr);
  EXPECT_EQ(Child<QLineEdit>(&page, ui::ControlName(3006))->text(), QStringLiteral("D:/other/vipdoc/"));
}

}  // namespace
}  // namespace marbloom::test
