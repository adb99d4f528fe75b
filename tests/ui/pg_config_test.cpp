// The settings page: the entries' checks, the confirmation with a writable
// and an unwritable history directory, and the folder picker.
#include "ui/pg_config.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "app/settings.h"
#include "common/shared_state.h"
#include "support/temp_dir.h"
#include "ui/folder_picker.h"
#include "ui/main_dlg.h"
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
    boxes_.onBox = [this] { lockedDuringBox_ = sheet_.TabsLocked(); };
    KeptDownloadConfig().Keep(DownloadConfig{});
  }
  void TearDown() override { ui::FolderPicker::SetChooser(nullptr); }
  QLineEdit* Edit(int id) { return Child<QLineEdit>(page_, ui::ControlName(id)); }
  QCheckBox* Check(int id) { return Child<QCheckBox>(page_, ui::ControlName(id)); }
  void Confirm() { Child<QPushButton>(page_, ui::ControlName(1004))->click(); }
  QString OnlyBox() { return boxes_.boxes.size() == 1 ? boxes_.boxes[0].text : QStringLiteral("(not one box)"); }
  bool Saved() { return PathExists(SettingsFilePath()); }

  TestTree tree_;
  BoxRecorder boxes_;
  bool lockedDuringBox_ = false;
  ui::MainDlg sheet_;
  ui::PgConfig* page_ = nullptr;
};

struct EntryCase {
  const char* name;
  int id;
  std::string text;     // with padTo: the tree's folder and 'k's up to that many bytes
  const char* refusal;  // the start of the message; null when accepted
  int padTo = 0;
};

class PgConfigEntry : public PgConfigTest, public ::testing::WithParamInterface<EntryCase> {};

// Refused entries save nothing and put the focus on their field; nothing is
// cut silently.
TEST_P(PgConfigEntry, RefusesWhatCannotBeStored) {
  const EntryCase& c = GetParam();
  std::string text = c.text;
  if (c.padTo > 0) text = tree_.root() + std::string(c.padTo - tree_.root().size(), 'k');
  Edit(c.id)->setText(QString::fromStdString(text));
  Confirm();
  if (c.refusal == nullptr) {
    EXPECT_EQ(OnlyBox(), QStringLiteral("设置已更改!"));
    EXPECT_TRUE(Saved());
    EXPECT_TRUE(c.padTo == 0 || Settings().historyDir == text + "/") << Settings().historyDir;
    return;
  }
  EXPECT_TRUE(OnlyBox().startsWith(QString::fromUtf8(c.refusal))) << OnlyBox().toStdString();
  EXPECT_EQ(boxes_.boxes[0].icon, ui::BoxIcon::kWarning);
  EXPECT_FALSE(Saved());
  EXPECT_EQ(page_->focusWidget(), Edit(c.id));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, PgConfigEntry,
    ::testing::Values(EntryCase{"Days49", 1002, "49", ui::kMinuteDaysEntryMessage},
                      EntryCase{"Days251", 1002, "251", ui::kMinuteDaysEntryMessage},
                      EntryCase{"DaysText", 1002, "abc", ui::kMinuteDaysEntryMessage},
                      EntryCase{"Days50", 1002, "50", nullptr}, EntryCase{"Days250", 1002, "250", nullptr},
                      EntryCase{"DaysBlanks", 1002, " 120 ", nullptr},
                      EntryCase{"History229Bytes", 1000, "", nullptr, 229},
                      EntryCase{"History230Bytes", 1000, "", "历史数据目录太长", 230},
                      EntryCase{"LongChineseDomain", 1005, "http://" + QString(112, QChar(0x6570)).toStdString(),
                                "下载站点太长"},
                      EntryCase{"NoGbkForm", 1000, "/data/\xF0\x9F\x98\x80/vipdoc", "历史数据目录含有GBK编码无法"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PgConfigTest, ConfirmSavesReloadsAndReArmsTheDownload) {
  EXPECT_EQ(Edit(1005)->text().toStdString(), Settings().downloadBase);
  EXPECT_EQ(Edit(1002)->text(), "120");
  EXPECT_TRUE(Check(4025)->isChecked());
  const std::string typed = tree_.root() + "hist\\vipdoc";
  Edit(1000)->setText(QString::fromStdString(typed));
  // Under the field, where that text leads.
  EXPECT_TRUE(
      Child<QLabel>(page_, "lblHistoryPath")->text().endsWith(QString::fromStdString(tree_.root() + "hist/vipdoc")));
  Edit(1002)->setText("60");
  Check(1003)->setChecked(false);
  Confirm();
  ASSERT_EQ(OnlyBox(), QStringLiteral("设置已更改!"));
  EXPECT_FALSE(lockedDuringBox_);
  EXPECT_EQ(Settings().historyDir, tree_.root() + "hist/vipdoc/");
  EXPECT_EQ(Settings().fiveMinuteDays, 300);
  EXPECT_EQ(Settings().minutesAfterTick, 0);
  EXPECT_EQ(Settings().tckv4, 1);
  EXPECT_EQ(DataTreeReady.load(), 1);
  EXPECT_FALSE(KeptDownloadConfig().Get());
  EXPECT_NE(ReadFileText(SettingsFilePath()).find("hist\\vipdoc"), std::string::npos);
  EXPECT_EQ(Edit(1000)->text().toStdString(), typed);  // kept as typed
  // 确定 with an entry not confirmed asks, and Yes confirms it.
  Edit(1002)->setText("70");
  boxes_.answer = true;
  sheet_.accept();
  EXPECT_FALSE(sheet_.isVisible());
  EXPECT_TRUE(boxes_.boxes.size() == 3 && boxes_.boxes[1].icon == ui::BoxIcon::kQuestion);
  EXPECT_EQ(Settings().minuteDays, 70);
}

TEST_F(PgConfigTest, AnUnwritableHistoryDirectoryLeavesThePagesRefusing) {
  WriteFileBytes(tree_.root() + "blocker", {1});
  Edit(1000)->setText(QString::fromStdString(tree_.root() + "blocker/vipdoc"));
  Confirm();
  EXPECT_EQ(OnlyBox(), QStringLiteral("创建sz\\fzline目录失败或者权限不足!"));
  EXPECT_TRUE(lockedDuringBox_);
  EXPECT_FALSE(sheet_.TabsLocked());
  EXPECT_EQ(DataTreeReady.load(), 0);
  EXPECT_TRUE(KeptDownloadConfig().Get());
  EXPECT_TRUE(Saved());
}

// A settings file that cannot be written: one box saying so, nothing changes.
TEST_F(PgConfigTest, ASettingsFileThatCannotBeWrittenIsReportedOnce) {
  std::filesystem::create_directories(SettingsFilePath());
  Edit(1002)->setText("60");
  Confirm();
  EXPECT_TRUE(OnlyBox().startsWith(QStringLiteral("设置文件"))) << OnlyBox().toStdString();
  EXPECT_EQ(Settings().minuteDays, 120);
  EXPECT_FALSE(sheet_.TabsLocked());
}

TEST_F(PgConfigTest, BrowseTakesTheChosenFolderAndKeepsTheTextOnCancel) {
  QString shownWhileBrowsing, answer = QStringLiteral("/chosen/folder");
  QStringList startedAt;
  ui::FolderPicker::SetChooser([&](ui::FolderPicker& picker) -> std::optional<QString> {
    startedAt.push_back(picker.InitialFolder());
    picker.OnInitialized();
    picker.OnSelChanged(QStringLiteral("/a/folder/name/that/is/longer/than/thirty-five/bytes"));
    shownWhileBrowsing = picker.StatusText();
    return answer.isEmpty() ? std::nullopt : std::optional<QString>(answer);
  });
  Child<QPushButton>(page_, ui::ControlName(1001))->click();
  EXPECT_EQ(Edit(1000)->text(), QStringLiteral("/chosen/folder"));
  EXPECT_EQ(shownWhileBrowsing, QStringLiteral("/a/folder/name/that/is/longer/than/..."));
  answer.clear();
  Child<QPushButton>(page_, ui::ControlName(1001))->click();
  EXPECT_EQ(Edit(1000)->text(), QStringLiteral("/chosen/folder"));
  EXPECT_EQ(startedAt, QStringList({QString::fromStdString(tree_.historyDir()), QStringLiteral("/chosen/folder")}));

  // As the settings file keeps it (relative, backslashes): opens at the tree.
  const QString history = QString::fromStdString(tree_.historyDir());
  QString relative = QDir(QString::fromStdString(WorkDirectory())).relativeFilePath(history).replace('/', '\\');
  EXPECT_EQ(ui::FolderPicker(relative + '\\', page_).StartFolder() + '/', history) << relative.toStdString();

  // The daily page's source folder takes '/' separators and a trailing '/'.
  answer = QStringLiteral("D:\\other\\vipdoc");
  ui::PgDayLine daily;
  Child<QPushButton>(&daily, ui::ControlName(3007))->click();
  EXPECT_EQ(Child<QLineEdit>(&daily, ui::ControlName(3006))->text(), QStringLiteral("D:/other/vipdoc/"));
}

}  // namespace
}  // namespace marbloom::test

namespace marbloom::test {
namespace {

// The disk use: both sizes shown, and each clearing removes the journal's
// runs or the downloaded archives, nothing else.
TEST_F(PgConfigTest, ClearsTheUndoJournalAndTheDownloadedArchives) {
  const DataLayout layout = tree_.layout();
  for (const std::string& dir : {layout.UndoDir(), layout.DayZipDir()}) std::filesystem::create_directories(dir);
  const std::string run = layout.UndoDir() + "1.run", kept = layout.UndoDir() + "1.1";
  const std::string notes = layout.UndoDir() + "notes", day = layout.DayZipDir() + "20220509.zip";
  const std::string config = layout.DownDir() + "downit.zip", other = layout.DownDir() + "keep.txt";
  for (const std::string& file : {run, kept, notes, day, config, other})
    WriteFileBytes(file, std::vector<uint8_t>(2048, 1));
  page_->hide();
  page_->show();
  auto* journal = Child<QLabel>(page_, "lblJournalUse");
  auto* downloads = Child<QLabel>(page_, "lblDownloadUse");
  EXPECT_TRUE(journal->text().endsWith("4.0 KB")) << journal->text().toStdString();
  EXPECT_TRUE(downloads->text().endsWith("6.0 KB")) << downloads->text().toStdString();
  boxes_.answer = true;
  Child<QPushButton>(page_, "btnClearJournal")->click();
  Child<QPushButton>(page_, "btnClearDownloads")->click();
  EXPECT_FALSE(PathExists(run) || PathExists(kept) || PathExists(day) || PathExists(config));
  EXPECT_TRUE(PathExists(notes) && PathExists(other));
  EXPECT_TRUE(journal->text().endsWith(" 0 B")) << journal->text().toStdString();
  EXPECT_TRUE(downloads->text().endsWith("2.0 KB")) << downloads->text().toStdString();
}

}  // namespace
}  // namespace marbloom::test
