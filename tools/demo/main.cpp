// rendo-demo: shows the pixel engine's tunnel renderer and wireframe projection in a window.
#include <QApplication>

#include "DemoWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TDemoWindow window;
  window.setWindowTitle(QStringLiteral("rendo-demo: 1-9 tunnel, T translucency, Esc close"));
  window.show();
  return app.exec();
}
