#include "app/Controls.h"

#include <algorithm>

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace palomet {

IconButton::IconButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setMouseTracking(true);
}

void IconButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  // The bevel alone; icon and caption are laid out below.
  option.text.clear();
  option.icon = QIcon();
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  // Tight margins: the narrow buttons need the whole height for the icon and two
  // lines of caption.
  QRect area = rect().adjusted(3, 2, -3, -2);
  if (isDown() || isChecked()) {
    area.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                   style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
  }
  const int flags = Qt::AlignHCenter | Qt::TextWordWrap;
  const QRect textBounds = painter.fontMetrics().boundingRect(area, flags, text());
  const QSize iconSize = icon().isNull() ? QSize() : this->iconSize();
  const int gap = icon().isNull() ? 0 : 1;
  const int contentHeight = iconSize.height() + gap + textBounds.height();
  int top = area.top() + std::max(0, (area.height() - contentHeight) / 2);

  if (!icon().isNull()) {
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    const QRect iconRect(area.left() + (area.width() - iconSize.width()) / 2, top, iconSize.width(),
                         iconSize.height());
    icon().paint(&painter, iconRect, Qt::AlignCenter, mode);
    top += iconSize.height() + gap;
  }
  const QRect textRect(area.left(), top, area.width(), area.bottom() - top + 1);
  painter.drawItemText(textRect, flags, palette(), isEnabled(), text(), QPalette::ButtonText);

  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

void IconButton::mouseMoveEvent(QMouseEvent* event) {
  emit MouseMoved();
  QPushButton::mouseMoveEvent(event);
}

FrameBox::FrameBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

void FrameBox::paintEvent(QPaintEvent* event) {
  if (style()->inherits("QStyleSheetStyle")) {
    QGroupBox::paintEvent(event);
    return;
  }
  QStylePainter painter(this);
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  const QRect frame =
      style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, this);
  const QRect label =
      style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRoundedRect(QRectF(frame).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
  // Styles that put the caption on the frame's top line get a gap in it.
  if (label.intersects(frame)) painter.fillRect(label.adjusted(-2, 0, 2, 0), palette().window());
  painter.drawItemText(label, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), title(),
                       QPalette::WindowText);
}

int OptionButtonStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                   const QWidget* widget) const {
  const int value = QProxyStyle::pixelMetric(metric, option, widget);
  return metric == PM_RadioButtonLabelSpacing ? std::min(value, 4) : value;
}

}  // namespace palomet
