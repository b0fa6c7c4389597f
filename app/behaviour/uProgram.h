#pragma once
// The program's global objects, for every front end: made in a fixed order before any window
// (the speed mailbox, the settings, the processor features, the engine, the audio input) and
// released in reverse order at exit, also on the way out of a failed start. Settings are not
// saved at exit. What guards the whole run (one instance per user) is made before this and
// released after it, by the front end, since each platform asks its own system.
#include "wavein.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

class TGlobalSettings;
class TSpeedSharedMemory;

class TProgramGlobals {
public:
  // Makes every object in order; an error of a step is thrown on, with what was made before
  // it released again. A missing engine is no error: the strip then draws without it.
  explicit TProgramGlobals(const std::function<std::unique_ptr<IWaveIn>()>& makeWaveIn);
  TProgramGlobals(const TProgramGlobals&) = delete;
  TProgramGlobals& operator=(const TProgramGlobals&) = delete;
  ~TProgramGlobals();

  TSpeedSharedMemory& Mailbox() { return *FMailbox; }
  IWaveIn& WaveIn() { return *FWaveIn; }

private:
  std::unique_ptr<TSpeedSharedMemory> FMailbox;
  std::unique_ptr<TGlobalSettings> FSettings;
  std::unique_ptr<IWaveIn> FWaveIn;
  // Declared last, so it goes first: the engine and the global pointers are let go before
  // the objects they point to, whether the constructor finished or not.
  struct TRelease {
    ~TRelease();
  } FRelease;
};

// The text of a start-up error: the failed step's own text, then on a second line what the
// system said, where the error carries it apart.
std::string StartupErrorText(std::exception_ptr error);
