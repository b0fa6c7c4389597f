// The demo's window: an animated tunnel from one of the nine tunnel maps with a rotating
// wireframe cube drawn over it, both by the pixel engine into the window's frame.
//
// Keys: 1 to 9 pick the tunnel map, T switches the window's translucency, Escape closes.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "rendo/rendo.h"

class TDemoWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TDemoWindow(int width = 640, int height = 400, QWidget* parent = nullptr);
  ~TDemoWindow() override;
  TDemoWindow(const TDemoWindow&) = delete;
  TDemoWindow& operator=(const TDemoWindow&) = delete;

  // Draws frame number `frame` of the animation into Frame().
  void RenderFrame(int frame);
  // Chooses BuildTunnelMap1..9 and rebuilds the maps for the frame's size.
  void SelectMap(int map);
  int Map() const { return CurrentMap; }
  const QImage& Frame() const { return Image; }

  // The colour of the cube's edges (a pixel value).
  static constexpr uint32_t kCubeColor = 0x00FFE040u;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Resize(int width, int height);
  void BuildMaps();

  IPixelEngine* Engine = nullptr;
  IPixelEffects* Effects = nullptr;
  IWireframe3D* Wire = nullptr;
  QImage Image;
  std::vector<uint32_t> Texture;
  std::vector<uint16_t> UvMap;
  std::vector<uint32_t> ShadeMap;
  int CurrentMap = 1;
  int FrameNumber = 0;
  bool Translucent = false;
  QTimer Ticker;
};
