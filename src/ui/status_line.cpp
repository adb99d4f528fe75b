#include "ui/status_line.h"

#include <QFontMetrics>
#include <QPainter>

namespace marbloom::ui {

StatusLine::StatusLine(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StatusLine::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  UpdateToolTip();
  update();
}

QString StatusLine::shownText() const {
  return fontMetrics().elidedText(text_, Qt::ElideRight, contentsRect().width());
}

QSize StatusLine::sizeHint() const { return QSize(200, fontMetrics().height() + 4); }

QSize StatusLine::minimumSizeHint() const { return QSize(40, fontMetrics().height() + 4); }

void StatusLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

void StatusLine::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateToolTip();
}

void StatusLine::UpdateToolTip() { setToolTip(shownText() == text_ ? QString() : text_); }

}  // namespace marbloom::ui
