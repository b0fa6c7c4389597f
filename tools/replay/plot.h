#pragma once
// korvel-replay's picture of a replayed recording: one self-contained SVG (no scripts, no
// external fonts or files) drawn from the per-buffer records RunReplay hands out, so the
// picture shows exactly what the CSV says. Three panels share the time axis in seconds:
//
//   pitch  every buffer's strongest line as a dot coloured by its case, the detection
//          range as a band, the threshold as the timer set it (a step line), log Hz axis
//   level  the level in dB against the reference, the 5 dB gate as a line
//   speed  the factor as a step line between 1.0 and viSpeed / 10, a mark at every step
//
// A title (file, length, settings with their sources, the count of each case) and a legend
// sit above. Plain C++ and the standard library only: the tool builds for Windows too.
//
// Size: dots falling on the same pixel in the same colour are drawn once and the level
// line keeps per pixel column its first, lowest, highest and last point, so an hour of
// recording (about 19,400 buffers) stays a few hundred kilobytes. Steps are never thinned.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "replay.h"

// One setting as the title shows it.
struct TPlotSetting {
  std::string Name;    // "viSpeed"
  int64_t Value = 0;
  std::string Source;  // where it came from: "store", "option" or "defaults"
};

struct TPlotInfo {
  std::string FileName;               // shown without its folder
  TReplayOptions Options;             // the settings the rows were made with
  std::vector<TPlotSetting> Settings;  // for the title, in this order
};

// Writes the SVG of the rows (in buffer order, as RunReplay gives them).
void WritePlotSvg(std::ostream& out, const TPlotInfo& info, const std::vector<TReplayRow>& rows);

// The same into a file; raises std::runtime_error when it cannot be written.
void WritePlotFile(const std::string& path, const TPlotInfo& info, const std::vector<TReplayRow>& rows);
