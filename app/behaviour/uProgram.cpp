#include "uProgram.h"

#include "registry.h"
#include "rendoif.h"
#include "speedipc.h"
#include "uSharedMemory.h"
#include "ucpuid.h"
#include "uglobal.h"

TProgramGlobals::TProgramGlobals(const std::function<std::unique_ptr<IWaveIn>()>& makeWaveIn) {
  FMailbox = std::make_unique<TSpeedSharedMemory>();
  SpeedSharedMemory = FMailbox.get();
  FSettings = std::make_unique<TGlobalSettings>(TRegistry::CurrentUser());
  GlobalSettings = FSettings.get();
  DetectCpuFeatures();
  LoadEngine();
  FWaveIn = makeWaveIn();
}

TProgramGlobals::~TProgramGlobals() = default;

TProgramGlobals::TRelease::~TRelease() {
  ReleaseEngine();
  GlobalSettings = nullptr;
  SpeedSharedMemory = nullptr;
}

std::string StartupErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const ESpeedLinkError& e) {
    return e.FullText();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "start-up failed";
  }
}
