// SetWindowAlpha on a real window (Wine's null display driver is enough): 0..255 makes it
// layered, 256 removes the style and redraws; a handle that is no window fails.
#include <gtest/gtest.h>
#include <windows.h>

#include "rendo/rendo.h"

TEST(RendoWindowAlpha, LayersAndUnlayersAWindow) {
  IPixelEngine* engine = nullptr;
  ASSERT_EQ(CreateInstance(&engine), 1);
  IPixelEffects* effects = nullptr;
  ASSERT_EQ(engine->QueryInterface(&IID_IPixelEffects, reinterpret_cast<void**>(&effects)), RENDO_S_OK);
  const HWND window = CreateWindowExA(0, "STATIC", "alpha", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  const auto layered = [&] { return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; };

  EXPECT_NE(effects->SetWindowAlpha(window, 128), 0);
  EXPECT_TRUE(layered());
  BYTE alpha = 0;
  if (GetLayeredWindowAttributes(window, nullptr, &alpha, nullptr)) {
    EXPECT_EQ(alpha, 128);
  }
  EXPECT_NE(effects->SetWindowAlpha(window, 0x10000 | 255), 0);  // only the low byte counts
  EXPECT_NE(effects->SetWindowAlpha(window, 256), 0);
  EXPECT_FALSE(layered());

  DestroyWindow(window);
  EXPECT_EQ(effects->SetWindowAlpha(window, 128), 0);
  effects->Release();
  EXPECT_EQ(engine->Release(), 0u);
}
