#pragma once
// A folder chooser over Qt's folder dialog: it starts at a given folder,
// shows the current selection (shortened to 35 bytes and "...") while the
// user browses, and answers chosen or cancelled.
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace marbloom::ui {

inline constexpr int kFolderChosen = 1;     // IDOK
inline constexpr int kFolderCancelled = 2;  // IDCANCEL

class FolderPicker {
 public:
  // The dialog itself: shows the picker's folder, reports each selection
  // through OnSelChanged, and answers the chosen folder or nothing.
  // Tests replace it; empty restores the Qt dialog.
  using Chooser = std::function<std::optional<QString>(FolderPicker& picker)>;
  static void SetChooser(Chooser chooser);

  FolderPicker(const QString& initialFolder, QWidget* owner);

  // kFolderChosen with the chosen folder in GetPath, else kFolderCancelled.
  int Browse();
  QString GetPath() const { return result_; }

  QString InitialFolder() const { return initialFolder_; }
  // Where the dialog opens: the initial folder read as the settings file
  // may keep it ('\' separators, relative to the work directory), or the
  // nearest folder above it that exists.
  QString StartFolder() const;
  QWidget* Owner() const { return owner_; }

  // The dialog opened: the initial folder is selected and shown.
  void OnInitialized();
  // The selection moved to `path`: it becomes the result and is shown.
  void OnSelChanged(const QString& path);
  // What the dialog's status text shows now.
  QString StatusText() const { return statusText_; }

  // Longer than 35 GBK bytes: the first 35 bytes (never half a character)
  // and "...".
  static QString Shorten(const QString& path);

 private:
  QString initialFolder_;
  QWidget* owner_;
  QString result_;
  QString statusText_;
  std::function<void(const QString&)> statusSink_;

  friend std::optional<QString> RunFolderDialog(FolderPicker& picker);
};

// The Qt dialog behind the default chooser.
std::optional<QString> RunFolderDialog(FolderPicker& picker);

}  // namespace marbloom::ui
