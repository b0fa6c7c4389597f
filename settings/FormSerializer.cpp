#include "FormSerializer.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QScreen>
#include <QWindow>


TFormSerializer::TFormSerializer(QWidget* form, const QString& root, TRegistry& registry)
    : QObject(form), Root(root), Owner(form), Reg(registry) {}

TFormSerializer::~TFormSerializer() {
  // Deleted with the form, whose native window still exists and is destroyed next: this is
  // the last moment the form's placement can be read.
  if (Installed && Owner && Owner->testAttribute(Qt::WA_WState_Created)) WritePlacement();
}

std::string TFormSerializer::KeyPath() const {
  QString name = Owner ? Owner->objectName() : QString();
  if (name.isEmpty() && Owner) name = QString::fromLatin1(Owner->metaObject()->className());
  return (Root + name + QStringLiteral("\\")).toStdString();
}

bool TFormSerializer::Sizeable() const {
  return Owner->minimumSize() != Owner->maximumSize();
}

void TFormSerializer::ReadPlacement() {
  if (!Root.endsWith(u'\\')) Root += u'\\';
  if (!Owner) return;
  Owner->winId();  // the native window, created now if needed
  if (!Installed) {
    Installed = true;
    Owner->installEventFilter(this);
  }
  WatchWindow();

  TRegistryIniFile ini(Reg, KeyPath());
  if (OnBeforeRead) OnBeforeRead(this, ini);
  if (Options & soSavePosition) {
    TPlacementScreens screens;
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QSize sz = primary ? primary->geometry().size() : Owner->size();
    screens.Width = sz.width();
    screens.Height = sz.height();
    for (const QScreen* s : QGuiApplication::screens()) {
      const QRect a = s->availableGeometry();
      screens.Available.push_back({a.left(), a.top(), a.width(), a.height()});
    }
    const TPlacement placement =
        ReadStoredPlacement(ini, int(Options), Sizeable(), Owner->width(), Owner->height(), screens);
    const TPlacementRect& r = placement.Normal;

    if (Owner->isMaximized()) Owner->setWindowState(Owner->windowState() & ~Qt::WindowMaximized);
    // A fixed border only keeps the user from resizing; the stored size still applies.
    if (!Sizeable() && Owner->size() != QSize(r.Width, r.Height)) Owner->setFixedSize(r.Width, r.Height);
    // The normal rectangle.
    Owner->setGeometry(r.Left, r.Top, r.Width, r.Height);
    if (placement.Maximized) Owner->setWindowState(Owner->windowState() | Qt::WindowMaximized);
  }
  if (OnRead) OnRead(this, ini);
}

void TFormSerializer::WritePlacement() {
  try {
    if (!Owner) return;
    const QRect normal = Owner->normalGeometry();
    const bool maximized = Owner->isMaximized();
    TRegistryIniFile ini(Reg, KeyPath());
    if (OnBeforeWrite) OnBeforeWrite(this, ini);
    WriteStoredPlacement(ini, int(Options), Sizeable(),
                         {{normal.left(), normal.top(), normal.width(), normal.height()}, maximized});
    if (OnWrite) OnWrite(this, ini);
  } catch (...) {
    // Writing the placement must never stop the window from going away.
  }
}

void TFormSerializer::WatchWindow() {
  QWindow* window = Owner ? Owner->windowHandle() : nullptr;
  if (window == Watched) return;
  if (Watched) Watched->removeEventFilter(this);
  Watched = window;
  if (window) window->installEventFilter(this);
}

bool TFormSerializer::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Owner) {
    // A recreated native window comes with a new QWindow: follow it.
    if (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show) WatchWindow();
  } else if (watched == Watched && event->type() == QEvent::PlatformSurface) {
    if (static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
        QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
      WritePlacement();
  }
  return QObject::eventFilter(watched, event);
}
