#include "wavein_qt.h"

#include <QCoreApplication>

void TQtWaveInSink::WaveInData(HWAVEIN handle, WAVEHDR* header) {
  QCoreApplication::postEvent(Target, new TWaveInDataEvent(handle, header));
}

void TQtWaveInSink::WaveInFailed(HWAVEIN handle, const std::string& detail) {
  QCoreApplication::postEvent(Target, new TWaveInFailureEvent(handle, QString::fromStdString(detail)));
}
