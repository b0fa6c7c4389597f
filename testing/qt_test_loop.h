#pragma once
// Qt test support without widgets: an application object for tests that only need Qt's
// event loop (posted events, timers), and running that loop until a condition holds.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <thread>

// The application object of a test without widgets: the one that exists, or else a plain
// QCoreApplication made on first use and kept to the end. (A test with widgets uses
// TestApp from qt_test_app.h, before anything calls this.)
inline QCoreApplication& TestCoreApp() {
  if (QCoreApplication* made = QCoreApplication::instance()) return *made;
  static int argc = 1;
  static char name[] = "korvel";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return *app;
}

// Runs the event loop until `done` holds or `timeoutMs` passes. Sleeps a millisecond a
// round, so a wait for another thread does not spin a core the other thread may need.
inline bool ProcessUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
