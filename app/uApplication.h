#pragma once
// The application object: its title, its window font and its default error handler.
//
// An exception that leaves an event handler is shown in a message box owned by the active
// window (the main window when none is active), titled with the application title, and the
// program goes on. Handlers are wrapped with Guarded() so the exception is caught before it
// unwinds through Qt's own frames; the notify() override is the backstop for event handlers.
#include "appinfo.h"

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

class QWidget;

class TApplication : public QApplication {
public:
  TApplication(int& argc, char** argv);

  // The title every message box of the program carries.
  static QString Title();

  // Shows the text of the exception in flight (or of `error`) and returns.
  static void ShowException(std::exception_ptr error);

  // The window message boxes fall back to when no window is active.
  static void SetMainWindow(QWidget* window);

  bool notify(QObject* receiver, QEvent* event) override;
};

// Runs `handler` and reports what it throws through the default error handler.
void RunGuarded(const std::function<void()>& handler);

// Wraps a handler for connect(): the exception is reported, never propagated into Qt.
template <typename F>
auto Guarded(F handler) {
  return [handler](auto&&...) { RunGuarded(handler); };
}

// Installs a Japanese face in place of "MS UI Gothic", which Linux does not have.
void InstallWindowFont();
