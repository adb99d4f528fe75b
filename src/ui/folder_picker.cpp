#include "ui/folder_picker.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

#include "app/settings.h"
#include "base/text_encoding.h"

namespace marbloom::ui {
namespace {

constexpr std::size_t kStatusBytes = 35;
constexpr const char* kBrowseTitle = "当前选择的文件存放目录:";

FolderPicker::Chooser& CurrentChooser() {
  static FolderPicker::Chooser chooser;
  return chooser;
}

}  // namespace

void FolderPicker::SetChooser(Chooser chooser) { CurrentChooser() = std::move(chooser); }

FolderPicker::FolderPicker(const QString& initialFolder, QWidget* owner)
    : initialFolder_(initialFolder), owner_(owner) {}

int FolderPicker::Browse() {
  result_ = initialFolder_;
  std::optional<QString> chosen = CurrentChooser() ? CurrentChooser()(*this) : RunFolderDialog(*this);
  if (!chosen || chosen->isEmpty()) {
    result_ = initialFolder_;
    return kFolderCancelled;
  }
  result_ = *chosen;
  return kFolderChosen;
}

QString FolderPicker::StartFolder() const {
  QString path = initialFolder_.trimmed();
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  QString folder = QDir::cleanPath(QDir(QString::fromStdString(WorkDirectory())).absoluteFilePath(path));
  while (!QFileInfo(folder).isDir() && QFileInfo(folder).path() != folder) folder = QFileInfo(folder).path();
  return folder;
}

void FolderPicker::OnInitialized() {
  statusText_ = Shorten(initialFolder_);
  if (statusSink_) statusSink_(statusText_);
}

void FolderPicker::OnSelChanged(const QString& path) {
  result_ = path;
  statusText_ = Shorten(path);
  if (statusSink_) statusSink_(statusText_);
}

QString FolderPicker::Shorten(const QString& path) {
  const std::string gbk = Utf8ToGbk(path.toStdString());
  if (gbk.size() <= kStatusBytes) return path;
  return QString::fromStdString(GbkToUtf8(CutGbk(gbk, kStatusBytes))) + QStringLiteral("...");
}

std::optional<QString> RunFolderDialog(FolderPicker& picker) {
  QFileDialog dialog(picker.Owner(), QStringLiteral("浏览文件夹"), picker.StartFolder());
  dialog.setObjectName(QStringLiteral("folderDialog"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  auto* title = new QLabel(QString::fromUtf8(kBrowseTitle), &dialog);
  auto* status = new QLabel(&dialog);
  status->setObjectName(QStringLiteral("folderStatus"));
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
    const int row = grid->rowCount();
    grid->addWidget(title, row, 0, 1, grid->columnCount());
    grid->addWidget(status, row + 1, 0, 1, grid->columnCount());
  }
  picker.statusSink_ = [status](const QString& text) { status->setText(text); };
  QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog,
                   [&picker](const QString& path) { picker.OnSelChanged(path); });
  QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog,
                   [&picker](const QString& path) { picker.OnSelChanged(path); });
  picker.OnInitialized();
  const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  picker.statusSink_ = nullptr;
  if (!chosen) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

}  // namespace marbloom::ui
