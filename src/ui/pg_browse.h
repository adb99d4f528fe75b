#pragma once
// The data tab: one security's daily, 1-minute, 5-minute or tick records of a
// date range as a chart and a table of real values, and the table exported
// as CSV. It only reads the tree, afresh on every Show (the button, or Enter
// in the code field); while another page runs an operation the locked tabs
// keep it out of reach.
#include <QWidget>
#include <functional>
#include <memory>

#include "app/data_view.h"

class QCheckBox;
class QComboBox;
class QCompleter;
class QDateTimeEdit;
class QLineEdit;
class QPushButton;
class QTableView;

namespace marbloom::ui {

class BarChart;
class DataViewModel;
class StatusLine;

class PgBrowse : public QWidget {
  Q_OBJECT

 public:
  explicit PgBrowse(QWidget* parent = nullptr);
  ~PgBrowse() override;

  // How Export asks for the file to write: the page and a suggested path in,
  // the chosen path out (empty: cancelled). Tests replace it; empty restores
  // the file dialog.
  using FileChooser = std::function<QString(QWidget*, const QString&)>;
  static void SetFileChooser(FileChooser chooser);

  const DataView& View() const { return *view_; }
  BarChart* Chart() const { return chart_; }

 public slots:
  void Show();
  void ExportCsv();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ViewKind Kind() const;
  bool ReadRequest(ViewRequest* request);
  void RefreshCompletion();
  void ShowStatus(const QString& text);

  QLineEdit* code_;       // 5001
  QComboBox* kind_;       // 5002
  QDateTimeEdit* first_;  // 5003
  QDateTimeEdit* last_;   // 5004
  QCheckBox* allDates_;   // 5005
  QPushButton* show_;     // 5006
  QPushButton* export_;   // 5007
  BarChart* chart_;       // 5008
  QTableView* table_;     // 5009
  StatusLine* status_;    // 5010
  QCompleter* completer_;
  DataViewModel* model_;
  QString exportDir_;  // where the export file dialog opens: the home, then the last folder written to
  std::unique_ptr<DataView> view_;
};

}  // namespace marbloom::ui
