#pragma once
// The main window over the test audio backend and a manual clock, with private settings and
// a private speed mailbox.
#include "../behaviour/tests/WindowTestEnvironment.h"
#include "qt_test_app.h"
#include "uApplication.h"
#include "QtMainWindow.h"

#include <QPushButton>

namespace fs = std::filesystem;

class MainWindowTest : public ::testing::Test, public TWindowTestEnvironment {
protected:
  void TearDown() override {
    Window.reset();
    QCoreApplication::removePostedEvents(nullptr);
  }

  TQtMainWindow& MakeWindow() {
    Window = std::make_unique<TQtMainWindow>(WaveIn, Clock);
    Window->show();
    return *Window;
  }

  // Clicks 開始, feeds buffers of the given mean while the prompt is open, presses OK.
  TModalAnswer StartAndCalibrate(int16_t level) {
    TModalAnswer prompt;
    AnswerNextBox(prompt, QMessageBox::Ok, [&] { WaveIn.DeliverConstant(level); ProcessUntil([&] { return Window->LastMean != 0.0; }); });
    Window->btnRecord->click();
    return prompt;
  }

  std::unique_ptr<TQtMainWindow> Window;
};
