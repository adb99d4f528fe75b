#include "ui/date_picker.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>

namespace marbloom::ui {
namespace {

const QString kShown = QStringLiteral("yyyy-MM-dd");

// The beginning of a date in either form, digit by digit.
bool StartsADate(const QString& text) {
  static const QRegularExpression start(QStringLiteral("^(\\d{0,8}|\\d{4}-\\d{0,2}|\\d{4}-\\d{1,2}-\\d{0,2})$"));
  return start.match(text).hasMatch();
}

}  // namespace

DatePicker::DatePicker(QWidget* parent) : QDateTimeEdit(QDateTime::currentDateTime(), parent) {
  setDisplayFormat(kShown);
  setCalendarPopup(true);
}

// A whole date in either form, within the field's range; nothing otherwise.
QDate DatePicker::TypedDate(const QString& text) const {
  const QString trimmed = text.trimmed();
  QDate date = QDate::fromString(trimmed, kShown);
  if (!date.isValid() && trimmed.size() == 8) date = QDate::fromString(trimmed, QStringLiteral("yyyyMMdd"));
  if (!date.isValid() || date < minimumDate() || date > maximumDate()) return QDate();
  return date;
}

QValidator::State DatePicker::validate(QString& input, int& pos) const {
  if (const QDate date = TypedDate(input); date.isValid()) {
    input = date.toString(kShown);
    pos = static_cast<int>(input.size());
    return QValidator::Acceptable;
  }
  return StartsADate(input.trimmed()) ? QValidator::Intermediate : QValidator::Invalid;
}

// The typed day at the time of day the field held.
QDateTime DatePicker::dateTimeFromText(const QString& text) const {
  const QDate date = TypedDate(text);
  return date.isValid() ? QDateTime(date, dateTime().time()) : dateTime();
}

// Characters go straight into the text, whatever section the cursor is in;
// only the keys that step or move keep the editor's own handling.
void DatePicker::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool typing = !text.isEmpty() && (text.at(0).isDigit() || text.at(0) == QLatin1Char('-'));
  if (typing || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete ||
      event->matches(QKeySequence::SelectAll)) {
    if (event->matches(QKeySequence::SelectAll)) return lineEdit()->selectAll();
    return QAbstractSpinBox::keyPressEvent(event);
  }
  QDateTimeEdit::keyPressEvent(event);
}

// After the editor has placed its cursor.
void DatePicker::focusInEvent(QFocusEvent* event) {
  QDateTimeEdit::focusInEvent(event);
  QTimer::singleShot(0, lineEdit(), &QLineEdit::selectAll);
}

}  // namespace marbloom::ui
