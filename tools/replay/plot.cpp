#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <unordered_set>

namespace {

// Page and panels, in SVG user units (pixels). Data are kept kPad inside each panel so a
// dot or a mark on the panel's extreme value is still wholly inside it.
constexpr double kWidth = 1200, kHeight = 780;
constexpr double kLeft = 80, kRight = 1180;
constexpr double kPad = 6;
struct TPanel {
  const char* Id;
  double Top, Bottom;
  double Inner0() const { return Bottom - kPad; }  // the lowest value's y
  double Inner1() const { return Top + kPad; }     // the highest value's y
};
constexpr TPanel kPitch{"pitch", 100, 390};
constexpr TPanel kLevel{"level", 420, 560};
constexpr TPanel kSpeedPanel{"speed", 590, 730};
constexpr double kMarkRadius = 3.5;

// The four colour classes of a buffer, in drawing order (quiet ones underneath).
enum TClass { kSilent, kOutside, kBelow, kAbove, kClasses };
const char* const kClassName[kClasses] = {"silent", "outside", "below", "above"};
const char* const kClassText[kClasses] = {"silent", "loud, out of range", "in range, below threshold",
                                          "in range, at/above threshold"};

TClass ClassOf(const TReplayRow& r) {
  switch (r.Case) {
    case TToneCase::Silent: return kSilent;
    case TToneCase::OutOfRange: return kOutside;
    case TToneCase::InRange: return r.AtOrAbove ? kAbove : kBelow;
  }
  return kSilent;
}

// snprintf onto a string; every piece of the document goes through here.
void Put(std::string& s, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) s.append(buffer, size_t(std::min(n, int(sizeof buffer) - 1)));
}

// Text for XML character data: markup characters escaped, control characters and bytes
// that are not UTF-8 (a file name may hold anything) replaced by '?', so the document
// always parses.
std::string XmlText(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      if (c == '&') out += "&amp;";
      else if (c == '<') out += "&lt;";
      else if (c == '>') out += "&gt;";
      else if (c == '"') out += "&quot;";
      else if (c < 0x20 || c == 0x7F) out += '?';
      else out += char(c);
      ++i;
      continue;
    }
    const size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    bool ok = len > 0 && i + len <= in.size();
    for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(in[i + k]) & 0xC0) == 0x80;
    if (ok && len == 3) {
      const unsigned char d = static_cast<unsigned char>(in[i + 1]);
      ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);  // overlong, surrogates
    } else if (ok && len == 4) {
      const unsigned char d = static_cast<unsigned char>(in[i + 1]);
      ok = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);  // overlong, past U+10FFFF
    }
    if (ok) {
      out.append(in, i, len);
      i += len;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

// The last path component, either separator (the tool also runs on Windows).
std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about `count` intervals.
double NiceStep(double span, int count) {
  const double raw = span / count;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * decade >= raw) return m * decade;
  return 10 * decade;
}

// Value axis of one panel, linear or logarithmic, mapping into the panel's inner height.
struct TAxis {
  TPanel Panel;
  double Lo = 0, Hi = 1;
  bool Log = false;
  double Y(double v) const {
    double a, b, x;
    if (Log) {
      a = std::log10(Lo), b = std::log10(Hi), x = v > 0 ? std::log10(v) : a;
    } else {
      a = Lo, b = Hi, x = v;
    }
    if (std::isnan(x)) x = a;
    const double t = std::clamp((x - a) / (b - a), 0.0, 1.0);  // -inf and +inf land on the edges
    return Panel.Inner0() + t * (Panel.Inner1() - Panel.Inner0());
  }
};

struct TTimeAxis {
  double Duration = 1;
  double X(double t) const {
    const double u = std::clamp(t / Duration, 0.0, 1.0);
    return kLeft + kPad + u * (kRight - kLeft - 2 * kPad);
  }
};

void Ticks(std::string& s, const TAxis& axis, const std::vector<double>& values, const char* format) {
  Put(s, "<g id=\"%s-axis\" class=\"axis\">", axis.Panel.Id);
  for (double v : values) {
    const double y = axis.Y(v);
    Put(s, "<line class=\"grid\" x1=\"%.0f\" y1=\"%.2f\" x2=\"%.0f\" y2=\"%.2f\"/>", kLeft, y, kRight, y);
    Put(s, "<text x=\"%.0f\" y=\"%.2f\">", kLeft - 6, y);
    Put(s, format, v);
    s += "</text>";
  }
  s += "</g>\n";
}

std::vector<double> LinearTicks(double lo, double hi, int count) {
  const double step = NiceStep(hi - lo, count);
  std::vector<double> v;
  for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step)
    v.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);  // no "-0" label
  return v;
}

std::string Length(double seconds) {
  const long long whole = static_cast<long long>(seconds);
  char text[64];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%.1f s (%lld:%02lld:%02lld)", seconds, whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%.1f s (%lld:%02lld)", seconds, whole / 60, whole % 60);
  return text;
}

// The level line: consecutive buffers joined, but per pixel column only the first, the
// lowest, the highest and the last point, which draws the same envelope with at most four
// points a column however long the recording.
void LevelLine(std::string& s, const std::vector<TReplayRow>& rows, const TTimeAxis& time, const TAxis& level) {
  s += "<path id=\"level\" class=\"line\" d=\"";
  bool first = true;
  auto point = [&](double x, double y) {
    Put(s, first ? "M%.1f %.1f" : "L%.1f %.1f", x, y);
    first = false;
  };
  for (size_t i = 0; i < rows.size();) {
    const double x = time.X(rows[i].TimeS);
    const long column = std::lround(x);
    size_t j = i;
    size_t lo = i, hi = i;
    while (j < rows.size() && std::lround(time.X(rows[j].TimeS)) == column) {
      if (level.Y(rows[j].LevelDb) > level.Y(rows[lo].LevelDb)) lo = j;
      if (level.Y(rows[j].LevelDb) < level.Y(rows[hi].LevelDb)) hi = j;
      ++j;
    }
    size_t order[4] = {i, std::min(lo, hi), std::max(lo, hi), j - 1};
    for (int k = 0; k < 4; ++k)
      if (k == 0 || order[k] != order[k - 1]) point(time.X(rows[order[k]].TimeS), level.Y(rows[order[k]].LevelDb));
    i = j;
  }
  s += "\"/>\n";
}

}  // namespace

void WritePlotSvg(std::ostream& out, const TPlotInfo& info, const std::vector<TReplayRow>& rows) {
  const TReplayOptions& o = info.Options;
  TTimeAxis time;
  const double length = double(rows.size()) * kFramesPerBuffer / kSampleRate;
  if (length > 0) time.Duration = length;

  // Frequency axis: whole decades around the range, the thresholds and every line found,
  // no lower than the lowest line (5.38 Hz) and no higher than half the sampling rate.
  double fLo = 1e9, fHi = 0;
  auto cover = [&](double f) {
    if (f > 0) fLo = std::min(fLo, f), fHi = std::max(fHi, f);
  };
  for (double f : {double(o.Speed.viMinFreq), double(o.Speed.viMaxFreq), double(o.viFloor), double(o.viFloor2)}) cover(f);
  for (const TReplayRow& r : rows) cover(r.Frequency);
  if (fHi == 0) fLo = 20, fHi = 3000;
  TAxis pitch{kPitch, std::max(5.0, std::pow(10.0, std::floor(std::log10(fLo)))),
              std::min(kSampleRate / 2.0, std::pow(10.0, std::ceil(std::log10(fHi)))), true};
  if (pitch.Hi <= pitch.Lo) pitch.Hi = pitch.Lo * 10;

  // Level axis: the finite levels and the gate, widened to tens of dB.
  double dLo = 0, dHi = kLoudnessGateDb;
  for (const TReplayRow& r : rows)
    if (std::isfinite(r.LevelDb)) dLo = std::min(dLo, r.LevelDb), dHi = std::max(dHi, r.LevelDb);
  TAxis level{kLevel, std::floor(dLo / 10) * 10 - 10, std::ceil(dHi / 10) * 10 + 10, false};

  // Speed axis: 1.0 to viSpeed / 10, and whatever the factor reached (a viSpeed under 10
  // lets an up-step go below 1.0).
  const double limit = o.Speed.viSpeed / 10.0;
  double sLo = std::min(1.0, limit), sHi = std::max(1.0, limit);
  for (const TReplayRow& r : rows) sLo = std::min(sLo, double(r.Speed)), sHi = std::max(sHi, double(r.Speed));
  if (sHi - sLo < 0.2) sHi = sLo + 0.2;
  const TAxis speed{kSpeedPanel, sLo, sHi, false};

  int64_t counts[kClasses] = {};
  int64_t steps = 0;
  for (const TReplayRow& r : rows) ++counts[ClassOf(r)], steps += r.Published;

  std::string s;
  s.reserve(64 * 1024 + rows.size() * 24);
  Put(s, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
         "font-family=\"sans-serif\" font-size=\"12\">\n",
      kWidth, kHeight, kWidth, kHeight);
  s += "<style>"
       ".panel{fill:#fff;stroke:#888}.grid{stroke:#e4e4e4}"
       ".axis text{text-anchor:end;dominant-baseline:middle;fill:#444}"
       "#time-axis text{text-anchor:middle;dominant-baseline:hanging}"
       ".dots{fill:none;stroke-width:4;stroke-linecap:round}"
       ".silent{stroke:#bdbdbd}.outside{stroke:#9467bd}.below{stroke:#1f77b4}.above{stroke:#d62728}"
       ".line{fill:none;stroke:#333;stroke-width:1}"
       "#range{fill:#2ca02c;fill-opacity:.12}"
       "#threshold{fill:none;stroke:#ff7f0e;stroke-width:2}"
       "#gate,#limit{stroke:#ff7f0e;stroke-width:1.2;stroke-dasharray:6 3}"
       "#speed{fill:none;stroke:#2ca02c;stroke-width:2}"
       ".mark{fill:#fff;stroke:#2ca02c;stroke-width:1.5}"
       ".title{font-size:14px;font-weight:bold}"
       "</style>\n";
  s += "<rect width=\"100%\" height=\"100%\" fill=\"#fafafa\"/>\n";

  // Title: the file, its length, the settings and where each came from, then the counts.
  s += "<text class=\"title\" x=\"16\" y=\"22\">" + XmlText(BaseName(info.FileName)) + " \u2014 " +
       Length(length) + ", " + std::to_string(rows.size()) + " buffers</text>\n";
  std::string settings;
  for (const TPlotSetting& p : info.Settings)
    settings += (settings.empty() ? "" : ", ") + p.Name + " " + std::to_string(p.Value) + " (" + p.Source + ")";
  settings += (settings.empty() ? "" : ", ") + std::string("0 dB reference after buffer ") + std::to_string(o.CalibrateBuffer);
  s += "<text id=\"settings\" x=\"16\" y=\"42\">" + XmlText(settings) + "</text>\n";

  // Legend: the four classes with their counts; below, the lines and marks. Each entry is
  // a swatch at lx and a text; the next one starts after the text's estimated width.
  s += "<g id=\"legend\">";
  double lx = 16, ly = 62;
  auto text = [&](const std::string& t) {
    Put(s, "<text x=\"%.0f\" y=\"%.0f\">", lx + 22, ly + 4);
    s += t + "</text>";
    lx += 46 + 6.6 * double(t.size());
  };
  auto line = [&](const char* colour, const char* dashes) {
    Put(s, "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" stroke-width=\"2\"%s/>", lx,
        ly, lx + 16, ly, colour, dashes);
  };
  for (int c = 0; c < kClasses; ++c) {
    Put(s, "<path class=\"dots %s\" style=\"stroke-width:7\" d=\"M%.0f %.0fh0\"/>", kClassName[c], lx + 8, ly);
    text(std::string(kClassText[c]) + ": " + std::to_string(counts[c]));
  }
  lx = 16, ly = 80;
  Put(s, "<rect x=\"%.0f\" y=\"%.0f\" width=\"16\" height=\"10\" fill=\"#2ca02c\" fill-opacity=\".25\"/>", lx, ly - 5);
  text("detection range");
  line("#ff7f0e", "");
  text("threshold");
  line("#ff7f0e", " stroke-dasharray=\"6 3\"");
  text("gate (5 dB), speed limit (viSpeed / 10)");
  line("#2ca02c", "");
  text("speed factor");
  Put(s, "<circle class=\"mark\" cx=\"%.0f\" cy=\"%.0f\" r=\"3.5\"/>", lx + 8, ly);
  text("step of the rule: " + std::to_string(steps));
  s += "</g>\n";

  for (const TPanel& p : {kPitch, kLevel, kSpeedPanel})
    Put(s, "<rect id=\"%s-panel\" class=\"panel\" x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\"/>\n", p.Id,
        kLeft, p.Top, kRight - kLeft, p.Bottom - p.Top);

  // Axes. Each tick's label sits at the tick's own y (or x), so the picture can be read
  // back: a value's position follows from any two labels of its axis.
  std::vector<double> hz;
  for (double decade = std::pow(10.0, std::floor(std::log10(pitch.Lo))); decade <= pitch.Hi; decade *= 10)
    for (double m : {1.0, 2.0, 5.0})
      if (m * decade >= pitch.Lo * (1 - 1e-9) && m * decade <= pitch.Hi * (1 + 1e-9)) hz.push_back(m * decade);
  Ticks(s, pitch, hz, "%.0f");
  Ticks(s, level, LinearTicks(level.Lo, level.Hi, 5), "%.0f");
  Ticks(s, speed, LinearTicks(speed.Lo, speed.Hi, sHi - sLo > 2.5 ? 5 : 4), "%.1f");
  s += "<g id=\"time-axis\" class=\"axis\">";
  const double tStep = NiceStep(time.Duration, 12);
  for (double t = 0; t <= time.Duration + tStep * 1e-9; t += tStep) {
    const double x = time.X(t);
    Put(s, "<line class=\"grid\" x1=\"%.2f\" y1=\"%.0f\" x2=\"%.2f\" y2=\"%.0f\"/>", x, kSpeedPanel.Bottom, x, kSpeedPanel.Bottom + 4);
    Put(s, tStep < 1 ? "<text x=\"%.2f\" y=\"%.0f\">%.1f</text>" : "<text x=\"%.2f\" y=\"%.0f\">%.0f</text>", x,
        kSpeedPanel.Bottom + 6, t);
  }
  Put(s, "</g>\n<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">time (s)</text>\n", (kLeft + kRight) / 2,
      kSpeedPanel.Bottom + 38);
  const std::pair<TPanel, const char*> names[] = {{kPitch, "frequency (Hz)"}, {kLevel, "level (dB)"}, {kSpeedPanel, "speed factor"}};
  for (const auto& [panel, name] : names)
    Put(s, "<text transform=\"translate(20 %.0f) rotate(-90)\" text-anchor=\"middle\">%s</text>\n",
        (panel.Top + panel.Bottom) / 2, name);

  // Pitch panel: the range band, the dots, the threshold on top.
  const double x0 = time.X(0), x1 = time.X(time.Duration);
  s += "<g id=\"pitch-data\" class=\"data\">\n";
  const double bandTop = pitch.Y(o.Speed.viMaxFreq), bandBottom = pitch.Y(o.Speed.viMinFreq);
  if (o.Speed.viMaxFreq > 0 && bandBottom > bandTop)
    Put(s, "<rect id=\"range\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>\n", x0, bandTop, x1 - x0,
        bandBottom - bandTop);
  // One dot a buffer, except that a dot on a pixel its class has already drawn is left out.
  std::unordered_set<uint64_t> drawn;
  for (int c = 0; c < kClasses; ++c) {
    Put(s, "<path class=\"dots %s\" d=\"", kClassName[c]);
    for (const TReplayRow& r : rows) {
      if (ClassOf(r) != c) continue;
      const double x = time.X(r.TimeS), y = pitch.Y(r.Frequency);
      const uint64_t cell = uint64_t(c) << 40 | uint64_t(std::lround(x)) << 20 | uint64_t(std::lround(y));
      if (drawn.insert(cell).second) Put(s, "M%.1f %.1fh0", x, y);
    }
    s += "\"/>\n";
  }
  // The threshold each buffer was judged with, held until the next buffer's differs.
  s += "<path id=\"threshold\" d=\"";
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i == 0) Put(s, "M%.2f %.2f", x0, pitch.Y(rows[i].Threshold));
    else if (rows[i].Threshold != rows[i - 1].Threshold)
      Put(s, "H%.2fV%.2f", time.X(rows[i].TimeS), pitch.Y(rows[i].Threshold));
  }
  if (!rows.empty()) Put(s, "H%.2f", x1);
  s += "\"/>\n</g>\n";

  // Level panel.
  s += "<g id=\"level-data\" class=\"data\">\n";
  Put(s, "<line id=\"gate\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", x0, level.Y(kLoudnessGateDb), x1,
      level.Y(kLoudnessGateDb));
  if (!rows.empty()) LevelLine(s, rows, time, level);
  s += "</g>\n";

  // Speed panel: the factor from 1.0 (the program's start), a vertical where it changed,
  // a mark at every step the rule took, also where the clamped value stayed the same.
  s += "<g id=\"speed-data\" class=\"data\">\n";
  Put(s, "<line id=\"limit\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", x0, speed.Y(limit), x1, speed.Y(limit));
  Put(s, "<path id=\"speed\" d=\"M%.2f %.2f", x0, speed.Y(1.0));
  float last = 1.0f;
  for (const TReplayRow& r : rows) {
    if (r.Speed != last) Put(s, "H%.2fV%.2f", time.X(r.TimeS), speed.Y(r.Speed));
    last = r.Speed;
  }
  Put(s, "H%.2f\"/>\n<g id=\"steps\">", x1);
  for (const TReplayRow& r : rows)
    if (r.Published)
      Put(s, "<circle class=\"mark\" cx=\"%.2f\" cy=\"%.2f\" r=\"%.1f\"><title>buffer %lld, %.3f s: %.2f</title></circle>",
          time.X(r.TimeS), speed.Y(r.Speed), kMarkRadius, static_cast<long long>(r.Buffer), r.TimeS, double(r.Speed));
  s += "</g>\n</g>\n</svg>\n";
  out.write(s.data(), std::streamsize(s.size()));
}

void WritePlotFile(const std::string& path, const TPlotInfo& info, const std::vector<TReplayRow>& rows) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot create " + path);
  WritePlotSvg(file, info, rows);
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path);
}
