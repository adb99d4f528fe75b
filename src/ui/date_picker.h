#pragma once
// The pages' date field: a date editor shown as "2022-05-09" that also takes
// a whole date typed at once, "20220509" or "2022-05-09", wherever the cursor
// stands. Focus selects the whole date, so typing replaces it; Ctrl+A selects
// it again; the arrow keys step the section under the cursor and the
// calendar opens from the button. Text that is no date yet waits; leaving
// the field with it puts back the date it had.
#include <QDateTimeEdit>

namespace marbloom::ui {

class DatePicker : public QDateTimeEdit {
 public:
  explicit DatePicker(QWidget* parent = nullptr);

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  QDateTime dateTimeFromText(const QString& text) const override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  QDate TypedDate(const QString& text) const;
};

}  // namespace marbloom::ui
