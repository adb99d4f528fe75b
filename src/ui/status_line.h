#pragma once
// A one-line status text that keeps its whole text, paints what fits with an
// ellipsis and offers the whole text as a tooltip when it is cut.
#include <QWidget>

namespace marbloom::ui {

class StatusLine : public QWidget {
  Q_OBJECT

 public:
  explicit StatusLine(QWidget* parent = nullptr);

  void setText(const QString& text);
  QString text() const { return text_; }
  // What is painted at the current width.
  QString shownText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UpdateToolTip();

  QString text_;
};

}  // namespace marbloom::ui
