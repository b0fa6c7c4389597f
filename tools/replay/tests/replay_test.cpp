#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <sys/wait.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "mailboxreader.h"
#include "replay.h"
#include "test_signals.h"
#include "test_store.h"

namespace {

namespace fs = std::filesystem;

const char* const Header =
    "buffer,time_s,mean,level_db,frequency_hz,case,threshold_hz,below,above,speed,published\n";

fs::path Dir() {
  static const fs::path d = NewTestFolder("replay");
  return d;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// A capture file as the program writes it (an 18-byte fmt chunk) of `frames` frames:
// first(frame) on the first channel, a constant that must not count on the second.
fs::path WriteWav(const std::string& name, int64_t frames,
                  const std::function<int16_t(int64_t)>& first, TWavShape shape = {}) {
  std::vector<int16_t> samples;
  for (int64_t p = 0; p < frames; ++p) {
    samples.push_back(first(p));
    if (shape.Channels == 2) samples.push_back(0x1234);
  }
  shape.FmtBytes = 18;
  WriteWavFile(Dir() / name, samples, shape);
  return Dir() / name;
}

// 4 quiet buffers, then a loud tone of `hz`.
std::function<int16_t(int64_t)> Scenario(double hz) {
  return [=](int64_t p) {
    if (p < 4 * 8192) return int16_t((p * 7919) % 21 - 10);  // a faint hiss, mean about 5
    return ToneSample(hz, 9000, p);
  };
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
  std::vector<std::vector<std::string>> Rows;  // CSV rows without the header
};

TRun Replay(const std::string& args) {
  const fs::path out = Dir() / "out.csv", err = Dir() / "err.txt";
  const std::string cmd =
      std::string("'") + KORVEL_REPLAY + "' " + args + " >" + Quote(out) + " 2>" + Quote(err);
  const int rc = std::system(cmd.c_str());
  TRun r;
  r.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.Out = ReadFileText(out);
  r.Err = ReadFileText(err);
  std::istringstream lines(r.Out);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::vector<std::string> cells(1);
    for (char ch : line) ch == ',' ? void(cells.emplace_back()) : void(cells.back() += ch);
    r.Rows.push_back(cells);
  }
  return r;
}
TRun Replay(const std::string& options, const fs::path& file) {
  return Replay(options + " " + Quote(file));
}

enum Col { kBuffer, kTime, kMean, kLevel, kFreq, kCase, kThreshold, kBelow, kAbove, kSpeed,
           kPublished };

// The CSV cells a run must show: buffer (row), column, text.
void ExpectCells(const TRun& r, std::initializer_list<std::tuple<size_t, Col, const char*>> cells) {
  for (const auto& [row, column, text] : cells)
    EXPECT_EQ(r.Rows.at(row).at(column), text) << "buffer " << row << ", column " << column;
}

// A refused run: exit status 2, no rows, and `message` (when given) on stderr.
void ExpectRefused(const TRun& r, const std::string& what, const std::string& message = {}) {
  EXPECT_EQ(r.Status, 2) << what;
  EXPECT_TRUE(r.Rows.empty()) << what;
  EXPECT_NE(r.Err.find(message), std::string::npos) << what << ": " << r.Err;
}

}  // namespace

TEST(KorvelReplay, StereoRecordingRunsTheProgramsPath) {
  const TRun r = Replay("--defaults", WriteWav("tone300.wav", 34 * 8192 + 4096, Scenario(300)));
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.substr(0, r.Out.find('\n') + 1), Header);
  ASSERT_EQ(r.Rows.size(), 34u);  // the final half buffer is ignored
  for (const auto& row : r.Rows) ASSERT_EQ(row.size(), 11u);
  // Buffer 0 is analysed uncalibrated; its mean becomes the reference; buffer 1 is as
  // quiet. The threshold is that of the last whole-second tick: 400 until 2 s, then the
  // ramp (399), 396 at tick 6: 400 + (-200 * 6000) div 300000.
  ExpectCells(r, {{0, kCase, "A"}, {0, kLevel, "0.000000"}, {0, kFreq, ""}, {1, kCase, "A"},
                  {5, kTime, "0.929"}, {5, kCase, "C"}, {5, kFreq, "301.46"}, {5, kBelow, "2"},
                  {23, kBelow, "0"}, {9, kThreshold, "400"}, {10, kThreshold, "399"},
                  {33, kThreshold, "396"}});
  // Loud buffers 4..23 below the threshold: the 20th steps the speed up and publishes.
  for (int b = 4; b < 34; ++b) {
    EXPECT_EQ(r.Rows[size_t(b)][kPublished], b == 23 ? "1" : "0") << b;
    EXPECT_EQ(r.Rows[size_t(b)][kSpeed], b < 23 ? "1.00" : "1.10") << b;
  }
}

TEST(KorvelReplay, MonoGivesTheSameRowsAsStereoAndOverridesApply) {
  const auto a = WriteWav("s.wav", 30 * 8192, Scenario(1000));
  const auto b = WriteWav("m.wav", 30 * 8192, Scenario(1000), {.Channels = 1});
  const TRun rs = Replay("--defaults --calibrate 2", a);
  ASSERT_EQ(rs.Status, 0) << rs.Err;
  EXPECT_EQ(rs.Out, Replay("--defaults --calibrate 2", b).Out);
  // The 20th at/above the threshold: a down-step, published, still 1.00.
  ExpectCells(rs, {{4, kCase, "C"}, {4, kFreq, "1001.29"}, {23, kAbove, "0"},
                   {23, kPublished, "1"}, {23, kSpeed, "1.00"}});

  const TRun low = Replay("--defaults --calibrate 2 --max-freq 1000", a);
  ASSERT_EQ(low.Status, 0);
  ExpectCells(low, {{4, kCase, "B"}, {4, kFreq, "1001.29"}});
  // Now below the threshold: an up-step.
  ExpectCells(Replay("--defaults --calibrate 2 --floor 1500 --floor2 1500", a),
              {{23, kSpeed, "1.10"}});
}

TEST(KorvelReplay, StoredSettingsAreReadUnlessDefaultsAreAsked) {
  TRegistry reg(TRegistry::DefaultFilePath());
  reg.WriteDword(kKey, "viMinFreq", 400);
  const auto wav = WriteWav("stored.wav", 8 * 8192, Scenario(300));
  const TRun stored = Replay("", wav);
  ASSERT_EQ(stored.Status, 0) << stored.Err;
  ExpectCells(stored, {{6, kCase, "B"}});
  ExpectCells(Replay("--defaults", wav), {{6, kCase, "C"}});
  reg.WriteDword(kKey, "viMinFreq", 20);

  // A hand-edited value the dialog could not have saved: corrected at load, and said.
  for (const uint32_t bad : {0u, uint32_t(-1), 0x80000000u, 5u}) {
    reg.WriteDword(kKey, "viSpeed", bad);
    const TRun r = Replay("", wav);
    EXPECT_EQ(r.Status, 0) << r.Err;
    const std::string said =
        "'viSpeed' の値 " + std::to_string(int32_t(bad)) + " は範囲外のため 10 に直しました";
    EXPECT_NE(r.Err.find(said), std::string::npos) << r.Err;
  }
  reg.WriteDword(kKey, "viSpeed", 30);
  for (const char* option : {"--speed 0", "--speed 61", "--speed -1", "--min-freq 0",
                             "--max-freq 22051", "--min-freq 3000 --max-freq 20"})
    ExpectRefused(Replay("--defaults " + std::string(option), wav), option);
}

TEST(KorvelReplay, PublishWritesEveryStepToTheMailbox) {
  const fs::path box = Dir() / "mailbox";
  fs::create_directories(box);
  fs::permissions(box, fs::perms::owner_all, fs::perm_options::replace);
  const auto wav = WriteWav("pub.wav", 26 * 8192, Scenario(300));
  const TRun r = Replay("--defaults --publish --mailbox-dir " + Quote(box), wav);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(TMailboxRecordReader(box.string(), false).Read(), (TMailboxRecord{1, 1.1f}));
}

TEST(KorvelReplay, BadInputIsRefusedWithExitStatusTwo) {
  const auto tone = Scenario(300);
  fs::remove(Dir() / "fifo.wav");
  ASSERT_EQ(mkfifo((Dir() / "fifo.wav").c_str(), 0600), 0);  // no writer: must not wait for one
  std::ofstream(Dir() / "text.wav") << "hello, this is not a wave file at all";
  WriteFileText(Dir() / "nofmt.wav", std::string("RIFF\x04\0\0\0WAVE", 12));
  const std::string good = Quote(WriteWav("good.wav", 3 * 8192, tone));
  // Arguments after --defaults, and the message they must give.
  const std::pair<std::string, std::string> cases[] = {
      {Quote(Dir() / "missing.wav"), "No such file"},
      {Quote(Dir() / "fifo.wav"), "not a regular file"},
      {Quote(WriteWav("8bit.wav", 8192, tone, {.Bits = 8})), "8 bits"},
      {Quote(WriteWav("48k.wav", 8192, tone, {.Rate = 48000})), "48000 Hz"},
      {Quote(WriteWav("3ch.wav", 8192, tone, {.Channels = 3})), "3 channels"},
      {Quote(WriteWav("float.wav", 8192, tone, {.Tag = 3})), "not PCM"},
      {Quote(WriteWav("cut.wav", 2 * 8192, tone, {.DeclaredDataBytes = 5 * 32768})), "truncated"},
      {Quote(Dir() / "text.wav"), ""},
      {Quote(Dir() / "nofmt.wav"), "no fmt chunk"},
      {"--speed abc " + good, ""},
      {"--bogus " + good, ""},
      {"--plot " + good + " " + good, ""},
      {"", ""},
      // A second file after "--" is refused, not taken instead of the first.
      {good + " -- " + good, "more than one file"},
      {"--calibrate 3 " + good, "3 whole buffers"},
  };
  for (const auto& [args, message] : cases)
    ExpectRefused(Replay("--defaults " + args), args, message);
  EXPECT_EQ(fs::file_size(Dir() / "good.wav"), 46u + 3 * 8192 * 4);  // --plot did not replace it
}

TEST(KorvelReplay, UnfinishedCaptureFileIsReadToItsEnd) {
  // Both sizes 0, as a capture whose writer was killed; or only the data size left at 0.
  for (const TWavShape& shape : {TWavShape{.ZeroSizes = true}, {.DeclaredDataBytes = 0}}) {
    const TRun r = Replay("--defaults", WriteWav("killed.wav", 3 * 8192, Scenario(300), shape));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Rows.size(), 3u);
    EXPECT_NE(r.Err.find("never stopped"), std::string::npos);
  }
}

TEST(KorvelReplay, ACalibrationBufferOfDigitalSilenceWaitsForTheFirstLevel) {
  // Two buffers of exact zeros (a device that starts with silence), then the hiss and the
  // tone of the scenario. The program waits after OK while the last mean is exactly 0 and
  // takes the next mean that is not: buffer 2's hiss, not a reference of 0 that would make
  // every later buffer silent.
  const auto wav = WriteWav("zeros.wav", 30 * 8192, [](int64_t p) {
    return p < 2 * 8192 ? int16_t(0) : Scenario(300)(p);
  });
  const TRun r = Replay("--defaults", wav);
  ASSERT_EQ(r.Status, 0) << r.Err;
  ASSERT_EQ(r.Rows.size(), 30u);
  // The 20th loud buffer below the threshold publishes; the ticks count the calibration
  // complete from buffer 2 (0.56 s) on: 399 at tick 2.
  ExpectCells(r, {{0, kMean, "0.000000"}, {0, kCase, "A"}, {1, kCase, "A"}, {2, kCase, "A"},
                  {3, kCase, "A"}, {4, kCase, "C"}, {4, kFreq, "301.46"}, {23, kPublished, "1"},
                  {23, kSpeed, "1.10"}, {10, kThreshold, "399"}});
}

TEST(KorvelReplay, CaptureStoppedBeforeItsFirstBufferGivesTheHeaderAlone) {
  // The 46-byte file korvel leaves when a capture stops before the first buffer, and a
  // recording shorter than one buffer: nothing to analyse, which is not an error.
  for (int64_t frames : {int64_t{0}, int64_t{4096}}) {
    const auto wav = WriteWav("short" + std::to_string(frames) + ".wav", frames,
                              [](int64_t) { return int16_t(0); });
    ASSERT_TRUE(frames != 0 || fs::file_size(wav) == 46u) << fs::file_size(wav);
    const TRun r = Replay("--defaults", wav);
    EXPECT_EQ(r.Status, 0) << frames << ": " << r.Err;
    EXPECT_EQ(r.Out, Header);
    EXPECT_TRUE(r.Rows.empty());
    // A calibration buffer asked for by name must still exist.
    EXPECT_EQ(Replay("--defaults --calibrate 0", wav).Status, 2) << frames;
  }
}

TEST(ReplayThreshold, FollowsTheWholeSecondTicksAndTheCalibration) {
  TReplayOptions o;
  o.CalibrateBuffer = 10;  // complete at 11 * 8192 / 44100 = 2.04 s
  EXPECT_EQ(ReplayThreshold(4, o, 5.0), 400);    // before the first tick
  EXPECT_EQ(ReplayThreshold(15, o, 5.0), 400);   // tick 2: calibration not complete
  EXPECT_EQ(ReplayThreshold(16, o, 5.0), 398);   // tick 3: 400 + (-200 * 3000) div 300000
  EXPECT_EQ(ReplayThreshold(16, o, 0.0), 400);   // no reference: viFloor
  EXPECT_EQ(ReplayThreshold(2000, o, 5.0), 200); // after five minutes
}

namespace {

// A path's points after each command, absolute (M, L, H, V, h are all the plot writes),
// of the commands in `keep`.
struct TPathPoint {
  char Command;
  double X, Y;
};
std::vector<TPathPoint> PathPoints(const char* d, std::string_view keep = "MLHVh") {
  std::vector<TPathPoint> out;
  std::istringstream in(d ? d : "");
  double x = 0, y = 0, dx = 0;
  char c;
  while (in >> c) {
    if (c == 'M' || c == 'L') in >> x >> y;
    if (c == 'H') in >> x;
    if (c == 'V') in >> y;
    if (c == 'h' && in >> dx) x += dx;
    if (keep.find(c) != keep.npos) out.push_back({c, x, y});
  }
  return out;
}

tinyxml2::XMLElement* ById(tinyxml2::XMLElement* e, const std::string& id) {
  if (const char* v = e->Attribute("id"); v && id == v) return e;
  for (auto* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
    if (auto* found = ById(c, id)) return found;
  return nullptr;
}

// An axis read back from its first and last tick labels, as a reader of the picture would.
struct TReadAxis {
  double V0 = 0, P0 = 0, V1 = 1, P1 = 1;
  bool Log = false;
  TReadAxis(tinyxml2::XMLElement* svg, const std::string& id, bool log) : Log(log) {
    bool first = true;
    for (auto* t = ById(svg, id)->FirstChildElement("text"); t; t = t->NextSiblingElement("text")) {
      (first ? V0 : V1) = std::stod(t->GetText());
      (first ? P0 : P1) = t->DoubleAttribute(id == "time-axis" ? "x" : "y");
      first = false;
    }
  }
  double F(double v) const { return Log ? std::log10(v) : v; }
  double Pos(double v) const { return P0 + (F(v) - F(V0)) / (F(V1) - F(V0)) * (P1 - P0); }
  double Value(double p) const {
    const double f = F(V0) + (p - P0) / (P1 - P0) * (F(V1) - F(V0));
    return Log ? std::pow(10, f) : f;
  }
};

// The dots of one class of buffers in the pitch panel.
std::vector<TPathPoint> Dots(tinyxml2::XMLElement* svg, const std::string& cls) {
  auto* path = ById(svg, "pitch-data")->FirstChildElement("path");
  while (path && path->Attribute("class") != "dots " + cls) path = path->NextSiblingElement("path");
  if (path) return PathPoints(path->Attribute("d"), "M");
  ADD_FAILURE() << "no dots of class " << cls;
  return {};
}

// The class a buffer's dot is drawn in: 0 silent, 1 outside the range, 2 below the
// threshold, 3 at or above it.
int DotClass(const std::vector<std::string>& row) {
  if (row[kCase] == "A" || row[kCase] == "B") return row[kCase] == "A" ? 0 : 1;
  return std::stod(row[kFreq]) < std::stod(row[kThreshold]) ? 2 : 3;
}

// Every point drawn under `e` (dots and marks with their radius) inside the panel `box`.
void ExpectInside(tinyxml2::XMLElement* e, tinyxml2::XMLElement* box) {
  const double left = box->DoubleAttribute("x"), top = box->DoubleAttribute("y");
  const double right = left + box->DoubleAttribute("width");
  const double bottom = top + box->DoubleAttribute("height");
  auto inside = [&](double x, double y, double r) {
    EXPECT_TRUE(x - r >= left && x + r <= right && y - r >= top && y + r <= bottom)
        << box->Attribute("id") << " " << x << "," << y;
  };
  auto at = [e](const char* name) { return e->DoubleAttribute(name); };
  const std::string n = e->Name();
  if (n == "path")
    for (const TPathPoint& q : PathPoints(e->Attribute("d"))) inside(q.X, q.Y, 2);
  if (n == "circle") inside(at("cx"), at("cy"), at("r"));
  if (n == "line") {
    inside(at("x1"), at("y1"), 0);
    inside(at("x2"), at("y2"), 0);
  }
  if (n == "rect") {
    inside(at("x"), at("y"), 0);
    inside(at("x") + at("width"), at("y") + at("height"), 0);
  }
  for (auto* k = e->FirstChildElement(); k; k = k->NextSiblingElement()) ExpectInside(k, box);
}

// Hiss (the reference), loud noise, a tone under the threshold, a tone above it, then
// digital silence; lengths in buffers.
int16_t Story(int64_t p, const std::vector<int64_t>& len) {
  int64_t b = p / 8192 - 1;
  if (b < 0) return int16_t((p * 7919) % 21 - 10);
  if ((b -= len[0]) < 0) {
    uint32_t h = uint32_t(p) * 2654435761u;
    h = (h ^ h >> 15) * 2246822519u;
    return int16_t((h ^ h >> 13) % 18001 - 9000);
  }
  const double hz = (b -= len[1]) < 0 ? 300 : (b -= len[2]) < 0 ? 2500 : 0;
  return int16_t(std::lround(hz > 0 ? 9000 * std::sin(2 * M_PI * hz * double(p) / 44100) : 0));
}

}  // namespace

TEST(KorvelReplayPlot, DrawsWhatTheCsvSaysInsideThePanels) {
  struct TCase {
    std::string Name, Args;
    std::vector<int64_t> Lengths;  // noise, under, above, silence
    int32_t FirstThreshold, LastThreshold;
    size_t Changes, Marks;  // speed changes, published steps
    std::string SettingShown;
    bool Thinned;
  };
  const std::vector<TCase> cases = {
      // Two up-steps, one down-step: the README's picture.
      {"short", "--defaults", {8, 45, 25, 10}, 400, 390, 3, 3, "viSpeed 30 (defaults)", false},
      // Past the five-minute ramp, more buffers than pixels, a capped step that changes nothing.
      {"long", "--defaults --speed 12 --floor 1500 --floor2 1000 --min-freq 250",
       {10, 1300, 300, 100}, 1500, 1000, 3, 80,
       "viSpeed 12 (option), viMinFreq 250 (option), viMaxFreq 3000 (defaults)", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const int64_t buffers = 1 + c.Lengths[0] + c.Lengths[1] + c.Lengths[2] + c.Lengths[3];
    const auto wav = WriteWav(c.Name + " & <plot>.wav", buffers * 8192,
                              [&](int64_t p) { return Story(p, c.Lengths); }, {.Channels = 1});
    const std::string plot = " --plot " + Quote(Dir() / (c.Name + ".svg"));
    const TRun r = Replay(c.Args + plot, wav);
    ASSERT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(r.Rows.size(), size_t(buffers));
    const std::string svgText = ReadFileText(Dir() / (c.Name + ".svg"));
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(svgText.c_str()), tinyxml2::XML_SUCCESS) << doc.ErrorStr();
    auto* svg = doc.RootElement();
    ASSERT_STREQ(svg->Name(), "svg");
    EXPECT_EQ(svgText.find("<script"), std::string::npos);
    EXPECT_EQ(svgText.find("href"), std::string::npos);
    EXPECT_NE(std::string(ById(svg, "settings")->GetText()).find(c.SettingShown),
              std::string::npos);

    const TReadAxis time(svg, "time-axis", false), pitch(svg, "pitch-axis", true),
        speed(svg, "speed-axis", false);
    // Every buffer's dot in its class, within a pixel (where thinning drew one dot for
    // several), and no two dots of a class on one pixel.
    const double near = c.Thinned ? 1.0 : 0.1;
    size_t totalDots = 0;
    const char* classes[] = {"silent", "outside", "below", "above"};
    for (int k = 0; k < 4; ++k) {
      const char* cls = classes[k];
      const std::vector<TPathPoint> dots = Dots(svg, cls);
      size_t members = 0;
      for (const auto& row : r.Rows) {
        if (DotClass(row) != k) continue;
        ++members;
        const double x = time.Pos(std::stod(row[kTime]));
        const double y = k ? pitch.Pos(std::stod(row[kFreq])) : 0;
        EXPECT_TRUE(std::any_of(dots.begin(), dots.end(), [&](const TPathPoint& q) {
          return std::abs(q.X - x) <= near && (!k || std::abs(q.Y - y) <= near);
        })) << cls << " buffer " << row[kBuffer];
      }
      std::set<std::pair<long, long>> cells;
      for (const TPathPoint& q : dots)
        EXPECT_TRUE(cells.insert({std::lround(q.X), std::lround(q.Y)}).second);
      EXPECT_TRUE(c.Thinned ? dots.size() <= members : dots.size() == members)
          << dots.size() << " " << members;
      totalDots += dots.size();
    }
    EXPECT_EQ(totalDots < r.Rows.size(), c.Thinned);
    // The threshold: each value the CSV gives, from the buffer it starts at, to the end.
    std::vector<std::pair<double, int32_t>> thresholds, drawn;  // (x, Hz)
    for (size_t b = 0; b < r.Rows.size(); ++b)
      if (b == 0 || r.Rows[b][kThreshold] != r.Rows[b - 1][kThreshold])
        thresholds.push_back({time.Pos(b ? std::stod(r.Rows[b][kTime]) : 0),
                              std::stoi(r.Rows[b][kThreshold])});
    const auto line = PathPoints(ById(svg, "threshold")->Attribute("d"));
    for (const TPathPoint& q : PathPoints(ById(svg, "threshold")->Attribute("d"), "MV"))
      drawn.push_back({q.X, int32_t(std::lround(pitch.Value(q.Y)))});
    ASSERT_EQ(drawn.size(), thresholds.size());
    for (size_t i = 0; i < drawn.size(); ++i) {
      EXPECT_NEAR(drawn[i].first, thresholds[i].first, 0.1) << i;
      EXPECT_EQ(drawn[i].second, thresholds[i].second) << i;
    }
    EXPECT_EQ(drawn.front().second, c.FirstThreshold);
    EXPECT_EQ(drawn.back().second, c.LastThreshold);
    EXPECT_NEAR(line.back().X, time.Pos(buffers * 8192.0 / 44100), 0.1);
    // Speed: a vertical where the CSV's factor changed, a mark at every published step.
    const auto changes = PathPoints(ById(svg, "speed")->Attribute("d"), "V");
    std::vector<TPathPoint> marks;
    for (auto* m = ById(svg, "steps")->FirstChildElement("circle"); m;
         m = m->NextSiblingElement("circle"))
      marks.push_back({'c', m->DoubleAttribute("cx"), m->DoubleAttribute("cy")});
    std::string last = "1.00";
    size_t ci = 0, mi = 0;
    for (const auto& row : r.Rows) {
      const double x = time.Pos(std::stod(row[kTime])), factor = std::stod(row[kSpeed]);
      auto expectAt = [&](const std::vector<TPathPoint>& points, size_t& i) {
        if (i >= points.size()) return;
        EXPECT_NEAR(points[i].X, x, 0.1) << row[kBuffer];
        EXPECT_NEAR(speed.Value(points[i++].Y), factor, 0.002) << row[kBuffer];
      };
      if (row[kSpeed] != last) expectAt(changes, ci);
      if (row[kPublished] == "1") expectAt(marks, mi);
      last = row[kSpeed];
    }
    EXPECT_EQ(std::tuple(ci, changes.size(), mi, marks.size()),
              std::tuple(c.Changes, c.Changes, c.Marks, c.Marks));
    // Nothing drawn outside its panel.
    for (const std::string panel : {"pitch", "level", "speed"})
      ExpectInside(ById(svg, panel + "-data"), ById(svg, panel + "-panel"));
    // --quiet: the same picture, no CSV.
    if (!c.Thinned) {
      const TRun q = Replay(c.Args + " --quiet" + plot, wav);
      EXPECT_EQ(q.Status, 0);
      EXPECT_EQ(q.Out, "");
      EXPECT_EQ(ReadFileText(Dir() / (c.Name + ".svg")), svgText);
    }
  }
}
