#pragma once
// Drop-down list of the capture devices. Position 0 is the system's preferred device;
// position k (k >= 1) is device number k - 1 of the audio input. The list shows the names
// of the devices the input opens (capture devices), so the name shown is the device opened.
#include <QComboBox>

class IWaveIn;

class TWaveOutComboBox : public QComboBox {
public:
  TWaveOutComboBox(IWaveIn& waveIn, QWidget* owner);

  // Rebuilds the list: the fixed first entry, then one entry per device number. Called once
  // when the owning window is created; later changes of the machine's devices show at the
  // next program start.
  void Loaded();

  // Selected position minus 1: -1 (the preferred device) for position 0, -2 when nothing is
  // selected, which the audio input refuses.
  int32_t DeviceId() const;

private:
  IWaveIn& WaveIn;
};
