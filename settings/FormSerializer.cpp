#include "FormSerializer.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {
// A rectangle's far edge is worked out as position + extent - 1 in int arithmetic, so
// position + extent must stay within int. A stored position so near the end of the range
// that it would not is moved back just far enough; every other position is applied as
// stored, even far off screen.
int FitPosition(int position, int extent) {
  constexpr int64_t lowest = std::numeric_limits<int>::min();
  constexpr int64_t highest = std::numeric_limits<int>::max();
  const int64_t end = int64_t(position) + extent;
  if (end > highest) return int(highest - extent);
  if (end < lowest + 1) return int(lowest + 1 - extent);
  return position;
}
}  // namespace

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
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize sz = screen ? screen->geometry().size() : QSize(Owner->width(), Owner->height());
    // Centred by default; C++ division truncates toward zero, as the rule wants.
    int left = ini.ReadInteger("left", (sz.width() - Owner->width()) / 2);
    int top = ini.ReadInteger("top", (sz.height() - Owner->height()) / 2);
    int width = Owner->width();
    int height = Owner->height();
    if (Sizeable() || (Options & soSaveDimensionAlways)) {
      width = ini.ReadInteger("width", width);
      height = ini.ReadInteger("height", height);
    }
    // Cut to the screen; the position is applied as stored, even partly off screen. A
    // rectangle that meets no screen's available area at all (a monitor unplugged, a
    // resolution lowered) would leave the window unseen for good, since it is stored again
    // at each exit: such a window is placed as on a first start.
    width = std::min(width, sz.width());
    height = std::min(height, sz.height());
    const QRect stored(FitPosition(left, width), FitPosition(top, height), width, height);
    const auto screens = QGuiApplication::screens();
    if (!screens.isEmpty() && std::none_of(screens.begin(), screens.end(), [&](const QScreen* s) {
          return s->availableGeometry().intersects(stored);
        })) {
      left = (sz.width() - width) / 2;
      top = (sz.height() - height) / 2;
    }
    const bool maximized = ini.ReadBool("maximized", false);

    if (Owner->isMaximized()) Owner->setWindowState(Owner->windowState() & ~Qt::WindowMaximized);
    // A fixed border only keeps the user from resizing; the stored size still applies.
    if (!Sizeable() && Owner->size() != QSize(width, height)) Owner->setFixedSize(width, height);
    // The normal rectangle.
    Owner->setGeometry(FitPosition(left, width), FitPosition(top, height), width, height);
    if (maximized) Owner->setWindowState(Owner->windowState() | Qt::WindowMaximized);
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
    if (Options & soSavePosition) {
      ini.WriteInteger("left", normal.left());
      ini.WriteInteger("top", normal.top());
      if (Sizeable() || (Options & soSaveDimensionAlways)) {
        ini.WriteInteger("width", normal.width());
        ini.WriteInteger("height", normal.height());
      }
      ini.WriteBool("maximized", maximized);
    }
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
