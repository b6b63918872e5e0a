/* Palomet's optional skin: a Qt style sheet. Copy the folder x/ into the
   program folder (beside the palomet executable) to use it. */

QPushButton {
  border: 1px solid #7a8899;
  border-radius: 4px;
  background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fdfdfd, stop: 1 #dfe5ec);
  color: #1d2733;
}
QPushButton:hover {
  border-color: #2f6fb8;
  background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #d3e2f4);
}
QPushButton:pressed {
  background: #c4d6ec;
}
QGroupBox {
  border: 1px solid #9aa7b5;
  border-radius: 4px;
  margin-top: 8px;
}
QGroupBox::title {
  subcontrol-origin: margin;
  left: 8px;
  padding: 0 3px;
}
QTreeView {
  border: 1px solid #7a8899;
  selection-background-color: #2f6fb8;
  selection-color: #ffffff;
}
QProgressBar {
  border: 1px solid #7a8899;
  border-radius: 3px;
  text-align: center;
  background: #ffffff;
}
QProgressBar::chunk {
  background: #4f9a5f;
}
