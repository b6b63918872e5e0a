#include <QApplication>

#include "app/App.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return palomet::RunApp(app);
}
