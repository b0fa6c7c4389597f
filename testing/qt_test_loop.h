#pragma once
// Qt test support without widgets: Qt's event loop run until a condition holds.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <thread>

// The application object when it is an `App`, or else an `App` made on first use and kept
// to the end (a test with widgets calls TestApp, qt_test_app.h, first).
template <class App = QCoreApplication>
App& TestAppOf() {
  if (auto* made = qobject_cast<App*>(QCoreApplication::instance())) return *made;
  static int argc = 1;
  static char name[] = "korvel";
  static char* argv[] = {name, nullptr};
  return *new App(argc, argv);
}
inline QCoreApplication& TestCoreApp() { return TestAppOf(); }

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
