#include "app/IconButton.h"

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

  const int margin = 4;
  QRect area = rect().adjusted(margin, margin, -margin, -margin);
  if (isDown() || isChecked()) {
    area.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                   style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
  }
  const int flags = Qt::AlignHCenter | Qt::TextWordWrap;
  const QRect textBounds = painter.fontMetrics().boundingRect(area, flags, text());
  const QSize iconSize = icon().isNull() ? QSize() : this->iconSize();
  const int gap = icon().isNull() ? 0 : 2;
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

}  // namespace palomet
