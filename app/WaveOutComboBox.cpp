#include "WaveOutComboBox.h"

#include "uMain.h"
#include "wavein.h"

TWaveOutComboBox::TWaveOutComboBox(IWaveIn& waveIn, QWidget* owner)
    : QComboBox(owner), WaveIn(waveIn) {
  setEditable(false);  // a drop-down list: the user picks, never types
}

void TWaveOutComboBox::Loaded() {
  clear();
  addItem(QStringLiteral("利用可能なデバイス"));
  for (const std::string& name : WaveIn.DeviceNames()) addItem(QString::fromStdString(name));
}

int32_t TWaveOutComboBox::DeviceId() const { return TfMain::DeviceIdOf(currentIndex()); }
