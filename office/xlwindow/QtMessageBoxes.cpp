#include "office/xlwindow/QtMessageBoxes.h"

#include <QMessageBox>

namespace palomet {

QString MessageBoxText(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(u'\r', u'\n');
  return shown;
}

MsgResult QtMessageBoxes::Show(const std::string& text, MsgButtons buttons, MsgIcon icon,
                               MsgResult defaultButton) {
  QMessageBox box(owner_);
  box.setWindowTitle(QString::fromUtf8(kAppTitle));
  box.setTextFormat(Qt::PlainText);
  box.setText(MessageBoxText(text));
  box.setIcon(icon == MsgIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon);
  if (buttons == MsgButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(defaultButton == MsgResult::No ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
  }
  if (buttons == MsgButtons::SaveDiscardCancel) {
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(defaultButton == MsgResult::Discard  ? QMessageBox::Discard
                         : defaultButton == MsgResult::Cancel ? QMessageBox::Cancel
                                                              : QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    const int answer = box.exec();
    return answer == QMessageBox::Save      ? MsgResult::Save
           : answer == QMessageBox::Discard ? MsgResult::Discard
                                            : MsgResult::Cancel;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return MsgResult::Ok;
}

}  // namespace palomet
