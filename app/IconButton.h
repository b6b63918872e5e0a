#pragma once

#include <QPushButton>

namespace palomet {

// A push button that shows its icon above a caption wrapped onto as many lines as
// the button's width needs (a plain QPushButton never wraps), and reports every
// pointer move over it, pressed or not.
class IconButton : public QPushButton {
  Q_OBJECT

 public:
  explicit IconButton(const QString& text, QWidget* parent = nullptr);

 signals:
  void MouseMoved();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
};

}  // namespace palomet
