#pragma once
// Remembers where a Qt form's window was (the rules are Placement.h's; this reads and
// applies the rectangles). ReadPlacement, called once the form is built and
// before it is shown, reads the stored position (and, for sizeable forms or with
// soSaveDimensionAlways, the size) from the form's registry key and applies it; from then
// on, whenever the form's native window is destroyed (the form's destruction, or the
// platform recreating the window), the current normal geometry and the maximised state
// are written back. Writing never throws.
//
// The form's key is Root + the form's objectName() + "\", below HKEY_CURRENT_USER.
// Coordinates are those of the client area (QWidget::geometry), as Qt places windows.
//
// The serializer is a child of the form. At the form's destruction it writes from its
// own destructor, which runs inside ~QWidget: the derived form's members are gone by then,
// so handlers must only use the TRegistryIniFile they are given (or call WritePlacement
// themselves earlier, from the form's destructor).
#include "Placement.h"
#include "RegistryIniFile.h"

#include <QFlags>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QWindow;

Q_DECLARE_FLAGS(TSerializerOptions, TSerializerOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TSerializerOptions)

class TFormSerializer : public QObject {
public:
  using TSerializerEvent = std::function<void(TFormSerializer* Sender, TRegistryIniFile& reg)>;

  TFormSerializer(QWidget* form, const QString& root,
                  TRegistry& registry = TRegistry::CurrentUser());
  ~TFormSerializer() override;

  TSerializerOptions Options = soSavePosition;
  QString Root;  // e.g. "\Software\Trevane\Korvel\"; ReadPlacement adds a missing trailing '\'
  TSerializerEvent OnBeforeRead;
  TSerializerEvent OnRead;
  TSerializerEvent OnBeforeWrite;
  TSerializerEvent OnWrite;

  // Once, after the form is built, before it is shown. Creates the native window, places
  // it and starts watching for its destruction. Errors are not caught here.
  void ReadPlacement();
  // The form's placement into its key; every error is swallowed.
  void WritePlacement();

  QWidget* Form() const { return Owner; }
  std::string KeyPath() const;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void WatchWindow();
  bool Sizeable() const;

  QPointer<QWidget> Owner;
  TRegistry& Reg;
  QPointer<QWindow> Watched;
  bool Installed = false;
};
