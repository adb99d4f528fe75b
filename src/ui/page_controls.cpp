#include "ui/page_controls.h"

#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>

#include "common/calendar.h"
#include "ui/date_picker.h"

namespace marbloom::ui {

QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

QLabel* NewLabel(const QString& text, const QString& objectName, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(objectName);
  return label;
}

QPushButton* NewButton(const QString& text, int id, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(ControlName(id));
  button->setAutoDefault(false);
  return button;
}

QLineEdit* NewEdit(int id, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(ControlName(id));
  return edit;
}

QDateTimeEdit* NewDatePicker(int id, QWidget* parent) {
  auto* picker = new DatePicker(parent);
  picker->setObjectName(ControlName(id));
  return picker;
}

PickedDates ReadPickers(const QDateTimeEdit* first, const QDateTimeEdit* last) {
  PickedDates dates;
  dates.firstTime = static_cast<std::time_t>(first->dateTime().toSecsSinceEpoch());
  dates.lastTime = static_cast<std::time_t>(last->dateTime().toSecsSinceEpoch());
  dates.first = LocalDateOf(dates.firstTime);
  dates.last = LocalDateOf(dates.lastTime);
  return dates;
}

DateRangeCheck CheckPicked(const PickedDates& dates, bool limitSpan) {
  return CheckDateRange(dates.first, dates.last, SpanDays(dates.firstTime, dates.lastTime), limitSpan);
}

std::optional<double> ReadNumber(const QLineEdit* edit) {
  bool ok = false;
  const double value = edit->text().trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  return value;
}

QString FormatNumber(double value) { return QString::number(value, 'g', 15); }

std::string NotANumberMessage(const QString& caption) {
  QString name = caption;
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  return QStringLiteral("“%1”不是数字，请改正后再执行!").arg(name).toStdString();
}

}  // namespace marbloom::ui
