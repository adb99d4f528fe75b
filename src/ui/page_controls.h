#pragma once
// Small pieces the pages share: controls named by their id, the two date
// pickers read as YYYYMMDD and time values, and number fields.
#include <QString>
#include <ctime>
#include <optional>
#include <string>

#include "common/date_range.h"

class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace marbloom::ui {

// "ctl3031": the object name of the control with that id.
QString ControlName(int id);

QLabel* NewLabel(const QString& text, const QString& objectName, QWidget* parent);
QPushButton* NewButton(const QString& text, int id, QWidget* parent);
QLineEdit* NewEdit(int id, QWidget* parent);
// A date picker (DatePicker) set to the current date and time.
QDateTimeEdit* NewDatePicker(int id, QWidget* parent);

// The pickers of a page as a run takes them.
struct PickedDates {
  int first = 0, last = 0;  // local calendar dates, YYYYMMDD
  std::time_t firstTime = 0, lastTime = 0;
};
PickedDates ReadPickers(const QDateTimeEdit* first, const QDateTimeEdit* last);
// The date-range rule on picked dates; the span is measured on the pickers.
DateRangeCheck CheckPicked(const PickedDates& dates, bool limitSpan);

// The value of a number field (blanks around allowed); nothing when it does
// not hold a finite number.
std::optional<double> ReadNumber(const QLineEdit* edit);
// Shown with up to 15 significant digits, so stored integers come back whole.
QString FormatNumber(double value);
// The refusal of a run whose number field holds no number, naming the field
// by its caption ("开盘价:").
std::string NotANumberMessage(const QString& caption);

}  // namespace marbloom::ui
