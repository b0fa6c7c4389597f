// SetWindowAlpha against a real X server: the test starts its own Xvfb on a free display,
// makes a window with Xlib (so libX11 is in the process, as a toolkit would have it) and
// reads the opacity property back.
// gtest first: Xlib's macros (None, Bool, Status) would break its headers.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
// clang-format on

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "child_process.h"
#include "xvfb.h"
#include "engine_fixture.h"

namespace {

int TestErrorHandler(Display*, XErrorEvent*) { return 0; }

class Rendo3DWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Server = std::make_unique<TXvfb>();
    ASSERT_FALSE(Server->Name.empty()) << "Xvfb did not start (scripts/setup installs it)";
    setenv("DISPLAY", Server->Name.c_str(), 1);
  }
  static void TearDownTestSuite() { Server.reset(); }
  void SetUp() override {
    ASSERT_NE(Server, nullptr);
    X = XOpenDisplay(Server->Name.c_str());
    ASSERT_NE(X, nullptr);
    Opacity = XInternAtom(X, "_NET_WM_WINDOW_OPACITY", False);
    Win = XCreateSimpleWindow(X, DefaultRootWindow(X), 0, 0, 100, 80, 0, 0, 0);
    XSelectInput(X, Win, ExposureMask);
    XMapWindow(X, Win);
    ASSERT_TRUE(WaitForExpose()) << "the window was never exposed";
    ASSERT_EQ(CreateInstance(&Engine), 1);
    Effects = Query<IPixelEffects>(Engine, IID_IPixelEffects);
    ASSERT_NE(Effects, nullptr);
  }
  void TearDown() override {
    if (Effects) Effects->Release();
    if (Engine) Engine->Release();
    if (X) XCloseDisplay(X);
  }

  void* Handle() const { return reinterpret_cast<void*>(uintptr_t(Win)); }

  // The opacity property as the window manager would read it, or nothing.
  std::optional<unsigned long> ReadOpacity() {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<unsigned long> value;
    if (XGetWindowProperty(X, Win, Opacity, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data) ==
            Success &&
        type == XA_CARDINAL && format == 32 && items == 1)
      value = reinterpret_cast<unsigned long*>(data)[0] & 0xFFFFFFFFul;  // Xlib sign-extends into its longs
    if (data) XFree(data);
    return value;
  }

  // Takes every queued Expose event of the window; true if there was one.
  bool TakeExposes() {
    XSync(X, False);
    XEvent e;
    bool any = false;
    while (XCheckTypedWindowEvent(X, Win, Expose, &e)) any = true;
    return any;
  }
  bool WaitForExpose() { return PollUntil([this] { return TakeExposes(); }, 2000, 10); }

  static inline std::unique_ptr<TXvfb> Server;
  Display* X = nullptr;
  Window Win = 0;
  Atom Opacity = None;
  IPixelEngine* Engine = nullptr;
  IPixelEffects* Effects = nullptr;
};

TEST_F(Rendo3DWindow, AlphaSetsTheOpacityScaledToTheFullCardinal) {
  EXPECT_FALSE(ReadOpacity().has_value());
  // 255: layered and fully opaque. Only the low byte is the alpha, unless the low 16 bits
  // say 256.
  const std::pair<uint32_t, unsigned long> cases[] = {
      {255, 0xFFFFFFFFul},     {128, 0x80808080ul}, {0, 0ul},
      {0x10040, 0x40404040ul}, {0x1FF, 0xFFFFFFFFul}};
  for (const auto& [alpha, want] : cases) {
    EXPECT_EQ(Effects->SetWindowAlpha(Handle(), alpha), 1) << std::hex << alpha;
    EXPECT_EQ(ReadOpacity(), want) << std::hex << alpha;
  }
}

TEST_F(Rendo3DWindow, Alpha256RemovesTheOpacityAndRedraws) {
  ASSERT_EQ(Effects->SetWindowAlpha(Handle(), 100), 1);
  ASSERT_TRUE(ReadOpacity().has_value());
  TakeExposes();
  EXPECT_EQ(Effects->SetWindowAlpha(Handle(), 256), 1);
  EXPECT_FALSE(ReadOpacity().has_value());
  EXPECT_TRUE(WaitForExpose()) << "no redraw was asked for";
  EXPECT_EQ(Effects->SetWindowAlpha(Handle(), 0x30100), 1);  // low 16 bits 256 again
  EXPECT_FALSE(ReadOpacity().has_value());
}

TEST_F(Rendo3DWindow, BadWindowFailsWithoutDisturbingTheCallersErrorHandler) {
  XSetErrorHandler(TestErrorHandler);
  const Window missing = Win + 0x1000;  // an id of our connection's range that names no window
  EXPECT_EQ(Effects->SetWindowAlpha(reinterpret_cast<void*>(uintptr_t(missing)), 128), 0);
  EXPECT_EQ(Effects->SetWindowAlpha(reinterpret_cast<void*>(uintptr_t(missing)), 256), 0);
  // The handler in place before the call is in place after it, and good calls still work.
  EXPECT_EQ(XSetErrorHandler(nullptr), &TestErrorHandler);
  EXPECT_EQ(Effects->SetWindowAlpha(Handle(), 7), 1);
  EXPECT_EQ(ReadOpacity(), 0x07070707ul);
}

}  // namespace
