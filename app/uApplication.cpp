#include "uApplication.h"

#include <QFont>
#include <QMessageBox>
#include <QPointer>

#include <stdexcept>

namespace {
QString gTitle;
QPointer<QWidget> gMainWindow;
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // No application display name: Qt would append it to every window caption, and the main
  // window's caption must stay exactly "Korvel 2.0".
  gTitle = ApplicationTitleFromPath(argc > 0 ? QString::fromLocal8Bit(argv[0]) : QString());
  InstallWindowFont();
}

QString TApplication::Title() { return gTitle; }

void TApplication::SetMainWindow(QWidget* window) { gMainWindow = window; }

void TApplication::ShowException(std::exception_ptr error) {
  const QString text = ExceptionText(error);
  QWidget* owner = QApplication::activeWindow();
  if (!owner) owner = gMainWindow;
  QMessageBox box(QMessageBox::Critical, gTitle, text, QMessageBox::Ok, owner);
  box.exec();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowException(std::current_exception());
    return true;
  }
}

void RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    TApplication::ShowException(std::current_exception());
  }
}

void InstallWindowFont() {
  // Proportional faces first, as the original face is proportional.
  QFont::insertSubstitutions(QStringLiteral("MS UI Gothic"),
                             {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                              QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});
  QFont font(QStringLiteral("MS UI Gothic"));
  font.setPixelSize(12);
  QApplication::setFont(font);
}
