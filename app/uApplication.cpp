#include "uApplication.h"

#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QPointer>

#include <stdexcept>

namespace {
QString gTitle;
QPointer<QWidget> gMainWindow;
}  // namespace

QString ApplicationTitleFromPath(const QString& programPath) {
  QString name = QFileInfo(programPath).fileName();
  const qsizetype dot = name.indexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // No application display name: Qt would append it to every window caption, and the main
  // window's caption must stay exactly "Korvel 2.0".
  gTitle = ApplicationTitleFromPath(argc > 0 ? QString::fromLocal8Bit(argv[0]) : QString());
  InstallWindowFont();
}

QString TApplication::Title() { return gTitle; }

void TApplication::SetMainWindow(QWidget* window) { gMainWindow = window; }

void TApplication::ShowException(std::exception_ptr error) {
  QString text;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = QString::fromUtf8(e.what());
  } catch (...) {
    text = QStringLiteral("不明なエラーが発生しました。");
  }
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
