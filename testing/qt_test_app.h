#pragma once
// Qt test support with widgets: the application object, and acting on modal boxes as a
// user does (the code under test blocks in the box's own loop, so the answer is given
// from a timer that polls for the active modal widget). The loop helpers without widgets
// are in qt_test_loop.h, included here.
#include "qt_test_loop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

// The application object of a Qt test: the one main() made (the program's own, in the
// tests of app/), or else a plain QApplication made on first use and kept to the end.
inline QApplication& TestApp() { return TestAppOf<QApplication>(); }

// When a message box becomes the active modal widget, record its title and text and press
// its default button (or the button `which`). Gives up after `timeoutMs`.
struct TModalAnswer {
  bool Seen = false;
  QString Title, Text;
};

inline void AnswerNextBox(TModalAnswer& answer, QMessageBox::StandardButton which = QMessageBox::Ok,
                          std::function<void()> before = {}, int timeoutMs = 5000) {
  // Owned by the application: a test that ends before the deferred delete ran (its
  // TearDown drops posted events) still leaves nothing behind.
  auto* poll = new QTimer(QCoreApplication::instance());
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout,
                   [poll, waited = 0, &answer, which, before, timeoutMs]() mutable {
    waited += 5;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box && waited < timeoutMs) return;
    poll->stop();
    poll->deleteLater();
    if (!box) return;
    answer = {true, box->windowTitle(), box->text()};
    if (before) before();
    if (QAbstractButton* button = box->button(which))
      button->click();
    else
      box->reject();
  });
  poll->start();
}

// The same, for a test that needs nothing of the box but the answer.
inline void AnswerNextBox(QMessageBox::StandardButton which, std::function<void()> before = {}) {
  static TModalAnswer ignored;
  AnswerNextBox(ignored, which, std::move(before));
}
