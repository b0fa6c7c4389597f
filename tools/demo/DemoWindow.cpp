#include "DemoWindow.h"

#include <QKeyEvent>
#include <QPainter>
#include <cmath>
#include <stdexcept>

namespace {

template <typename T>
T* Query(IRendoUnknown* from, const TGUID& iid) {
  void* out = nullptr;
  if (from->QueryInterface(&iid, &out) != RENDO_S_OK) throw std::runtime_error("rendo: interface missing");
  return static_cast<T*>(out);
}

// A 256 x 256 texture: bricks of 32 x 16 texels with mortar lines, tinted by an
// xor pattern so that the tunnel's motion is easy to follow.
std::vector<uint32_t> MakeTexture() {
  std::vector<uint32_t> t(256 * 256);
  for (uint32_t v = 0; v < 256; ++v)
    for (uint32_t u = 0; u < 256; ++u) {
      const uint32_t shift = (v / 16) % 2 ? 16 : 0;
      const bool mortar = v % 16 == 0 || (u + shift) % 32 == 0;
      const uint32_t x = (u ^ v) & 0xFF;
      const uint32_t r = mortar ? 60 : 150 + x / 3, g = mortar ? 60 : 60 + x / 4, b = mortar ? 70 : 40 + (x & 0x3F);
      t[v * 256 + u] = b | g << 8 | r << 16;
    }
  return t;
}

// Row-vector rotation by `a` radians about y, then by `b` about x.
TRendoMatrix Rotation(float a, float b) {
  const float ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
  // Ry = [ca 0 -sa; 0 1 0; sa 0 ca], Rx = [1 0 0; 0 cb sb; 0 -sb cb]; R = Ry x Rx.
  return TRendoMatrix{{ca, sa * sb, -sa * cb, 0,  //
                       0, cb, sb, 0,              //
                       sa, -ca * sb, ca * cb, 0,  //
                       0, 0, 0, 1}};
}

TRendoMatrix Transposed3x3(const TRendoMatrix& m) {
  TRendoMatrix t = m;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) t.M[r * 4 + c] = m.M[c * 4 + r];
  return t;
}

}  // namespace

TDemoWindow::TDemoWindow(int width, int height, QWidget* parent) : QWidget(parent), Texture(MakeTexture()) {
  if (CreateInstance(&Engine) != 1 || Engine == nullptr) throw std::runtime_error("rendo: no engine object");
  Effects = Query<IPixelEffects>(Engine, IID_IPixelEffects);
  Wire = Query<IWireframe3D>(Engine, IID_IWireframe3D);
  Wire->Reset();
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(width, height);
  Resize(width, height);
  connect(&Ticker, &QTimer::timeout, this, [this] {
    RenderFrame(++FrameNumber);
    update();
  });
  Ticker.start(33);
}

TDemoWindow::~TDemoWindow() {
  Ticker.stop();
  Wire->Release();
  Effects->Release();
  Engine->Release();
}

void TDemoWindow::Resize(int width, int height) {
  width = std::max(width, 8);
  height = std::max(height, 8);
  if (Image.width() == width && Image.height() == height) return;
  Image = QImage(width, height, QImage::Format_RGB32);
  UvMap.assign(size_t(width) * height, 0);
  ShadeMap.assign(size_t(width) * height, 0);
  BuildMaps();
  RenderFrame(FrameNumber);
}

void TDemoWindow::SelectMap(int map) {
  if (map < 1 || map > 9) return;
  CurrentMap = map;
  BuildMaps();
}

void TDemoWindow::BuildMaps() {
  const int w = Image.width(), h = Image.height();
  uint16_t* uv = UvMap.data();
  uint32_t* shade = ShadeMap.data();
  switch (CurrentMap) {
    case 1: Effects->BuildTunnelMap1(uv, shade, w / 2, h / 2, w, h, 1.0f, 1.0f); break;
    case 2: Effects->BuildTunnelMap2(uv, shade, w, h); break;
    case 3: Effects->BuildTunnelMap3(uv, shade, w, h, 1.0f, 1.0f, 0.0f, 0.0f); break;
    case 4: Effects->BuildTunnelMap4(uv, shade, w, h); break;
    case 5: Effects->BuildTunnelMap5(uv, shade, w, h, 2.0f); break;
    case 6: Effects->BuildTunnelMap6(uv, shade, w, h, 2.0f); break;
    case 7: Effects->BuildTunnelMap7(uv, shade, w, h, 45.0f); break;
    case 8: Effects->BuildTunnelMap8(uv, shade, w, h); break;
    case 9: Effects->BuildTunnelMap9(uv, shade, w, h, 1.5f); break;
  }
}

void TDemoWindow::RenderFrame(int frame) {
  const int w = Image.width(), h = Image.height();
  Engine->SetTarget(Image.bits(), int32_t(Image.bytesPerLine()), uint32_t(w), uint32_t(h));
  // Texture offsets scroll the tunnel: v moves along its depth, u turns it slowly.
  Engine->RenderTunnel(Texture.data(), UvMap.data(), ShadeMap.data(), uint32_t(frame / 2), uint32_t(frame * 2));

  // The cube: matrix 0 holds the inverse of its rotation (the engine inverts it back),
  // matrix 1 the view from in front, matrix 2 a perspective with square pixels.
  const float angle = float(frame) * 0.03f;
  const TRendoMatrix rotation = Rotation(angle, angle * 0.7f);
  const TRendoMatrix inverseRotation = Transposed3x3(rotation);
  TRendoMatrix view, projection;
  const TRendoVector eye{0, 0, -3}, at{0, 0, 0}, up{0, 1, 0};
  Wire->LookAt(&view, &eye, &at, &up);
  Wire->Perspective(&projection, 1.2f, float(h) / float(w), 1.0f, 10.0f);
  Wire->SetMatrix(0, &inverseRotation);
  Wire->SetMatrix(1, &view);
  Wire->SetMatrix(2, &projection);
  TRendoVertex vertices[8];
  for (int i = 0; i < 8; ++i)
    vertices[i] = TRendoVertex{i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f, {}, kCubeColor};
  TRendoSegment edges[12];
  int n = 0;
  for (uint16_t a = 0; a < 8; ++a)
    for (uint16_t bit : {1, 2, 4})
      if ((a & bit) == 0) edges[n++] = {a, uint16_t(a | bit)};
  Wire->DrawLines(vertices, 0, edges, n);

  // The engine leaves the fourth byte of each pixel as its arithmetic gives it; the
  // image format wants it opaque.
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(Image.scanLine(y));
    for (int x = 0; x < w; ++x) row[x] |= 0xFF000000u;
  }
}

void TDemoWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, Image);
}

void TDemoWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Resize(width(), height());
}

void TDemoWindow::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Escape) {
    close();
  } else if (key >= Qt::Key_1 && key <= Qt::Key_9) {
    SelectMap(key - Qt::Key_0);
  } else if (key == Qt::Key_T) {
    // The window id is an X11 window on the xcb platform; elsewhere the call returns 0.
    Translucent = !Translucent;
    Effects->SetWindowAlpha(reinterpret_cast<void*>(winId()), Translucent ? 192 : 256);
  } else {
    QWidget::keyPressEvent(event);
  }
}
