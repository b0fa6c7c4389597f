#pragma once
// The binding to the pixel engine: librendo.so (rendo.dll on Windows) is loaded at start-up, its one export
// creates the process's engine object, and the program reaches the engine only through
// the global Engine. Engine is empty when the library or its export is missing; the
// rest of the program must cope with that.
#include <stdexcept>
#include <string>

#include "rendo/rendo.h"
#include "speedipc.h"  // TInterfaceRef

extern void* EngineLibrary;                        // dlopen or module handle; null unless bound
extern TRendoCreateInstance EngineCreateInstance;  // the library's export
extern TInterfaceRef<IPixelEngine> Engine;
extern TInterfaceRef<IPixelEffects> EngineEffects;  // held only to reach ICpuFeatures

// An engine object that does not answer IPixelEffects or ICpuFeatures: start-up ends.
class EEngineInterface : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The folder of the running program (from /proc/self/exe, links resolved; on Windows
// GetModuleFileName), without a trailing separator.
std::string ProgramFolder();

// Where the program's run-time file Name is: its own folder when the file is there (the
// build tree, an unpacked copy), else the installed folder for that kind of file, which
// lies at a fixed path relative to the installed program (so an installed tree can be
// moved as a whole). The own folder when neither holds the file.
enum class TProgramFileKind { Engine, Data };
std::string ProgramFileFolder(const std::string& Name, TProgramFileKind Kind);

// The file the engine was loaded from; empty when none is bound.
std::string EngineFile();

// Windows: LoadLibraryA("rendo.dll"), a bare name, so the system's search order applies
// (the program's own folder first), and GetProcAddress of CreateInstance; the library is
// freed again when the export is missing.
// Linux: loads librendo.so from the program's own folder, else from the installed engine folder
// (ProgramFileFolder), or else by bare name through the system's search path; creates the
// engine and applies the processor flags (run DetectCpuFeatures first). A missing library
// or export leaves Engine empty and the library unloaded; no message. Raises
// EEngineInterface for an engine without the interfaces the program needs.
void LoadEngine();
// The same with the folder searched first given explicitly.
void LoadEngineFrom(const std::string& Folder);

// Creates the engine through EngineCreateInstance (set by the loader of the platform,
// rendoif_linux.cpp or rendoif_win.cpp) and applies the processor flags.
void BindEngine();

// Shutdown: releases EngineEffects, then Engine. The library stays loaded until the
// process ends (objects the program still holds keep working).
void ReleaseEngine();
