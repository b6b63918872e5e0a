#pragma once

#include <QGroupBox>
#include <QProxyStyle>
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

// A frame with a caption whose inside keeps the window's own background (the
// platform style would tint it). Under a style sheet the sheet draws it.
class FrameBox : public QGroupBox {
  Q_OBJECT

 public:
  explicit FrameBox(const QString& title, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The style of the option buttons: the platform style with the gap between the
// indicator and the caption kept small enough for the designed widths.
class OptionButtonStyle : public QProxyStyle {
  Q_OBJECT

 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
};

}  // namespace palomet
