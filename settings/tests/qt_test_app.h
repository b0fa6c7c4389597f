#pragma once
// One QApplication for a GoogleTest program, created on first use and kept to the end.
#include <QApplication>
#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <functional>

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "korvel";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Answers the next modal message box as a user would, by polling for it; `seen` gets the
// box's title and text.
inline void AnswerNextBox(QMessageBox::StandardButton answer, QString* title = nullptr,
                          QString* text = nullptr) {
  auto* timer = new QTimer(&TestApp());
  QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, title, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (title) *title = box->windowTitle();
    if (text) *text = box->text();
    timer->stop();
    timer->deleteLater();
    box->button(answer)->click();
  });
  timer->start(10);
}
