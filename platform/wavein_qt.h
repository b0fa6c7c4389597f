#pragma once
// The audio input's notices as Qt events: a sink that posts them to a QObject, so the
// window's handler runs on the GUI thread whichever thread the backend calls from.
#include "wavein.h"

#include <QEvent>
#include <QObject>
#include <QString>

// Posted for every filled (or, by Reset, returned) buffer.
class TWaveInDataEvent : public QEvent {
public:
  static constexpr QEvent::Type EventType = QEvent::Type(QEvent::User + MM_WIM_DATA);
  TWaveInDataEvent(HWAVEIN handle, WAVEHDR* header)
      : QEvent(EventType), Handle(handle), Header(header) {}
  HWAVEIN Handle;
  WAVEHDR* Header;
};

// Posted once when the device fails while capturing.
class TWaveInFailureEvent : public QEvent {
public:
  static constexpr QEvent::Type EventType = QEvent::Type(QEvent::User + MM_WIM_DATA + 1);
  TWaveInFailureEvent(HWAVEIN handle, QString detail)
      : QEvent(EventType), Handle(handle), Detail(std::move(detail)) {}
  HWAVEIN Handle;
  QString Detail;  // the backend's own description, for the message's second line
};

// Posts the backend's notices to `target`; give TWaveInWindow{nullptr, &sink} to Open.
// postEvent is safe from any thread; the target must outlive the device's Close.
class TQtWaveInSink final : public IWaveInSink {
public:
  explicit TQtWaveInSink(QObject* target) : Target(target) {}
  void WaveInData(HWAVEIN handle, WAVEHDR* header) override;
  void WaveInFailed(HWAVEIN handle, const std::string& detail) override;
  TWaveInWindow Window() { return {nullptr, this}; }

private:
  QObject* const Target;
};
