#include "DIBpbox.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <cstring>

TDIBPaintBox::TDIBPaintBox(QWidget* Parent)
    : QWidget(Parent), FSurface(std::make_unique<TDIBSurface>(4, 4, 32)), FLock(FSurface->LockRef()) {
  // Every pixel of the control comes from the surface: Qt need not clear it first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  SetBounds(0, 0, 100, 100);
}

TDIBPaintBox::~TDIBPaintBox() = default;

void TDIBPaintBox::SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height) {
  setGeometry(Left, Top, Width, Height);
  if (Width != 0 && Height != 0) FSurface->SetSize(Width, Height, FDepth);
}

void TDIBPaintBox::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  // Layouts resize the control without SetBounds; the surface follows all the same.
  const QSize s = Event->size();
  if (s.width() > 0 && s.height() > 0) FSurface->SetSize(s.width(), s.height(), FDepth);
}

void TDIBPaintBox::SetDepth(int32_t Value) {
  // The surface first: a depth it refuses raises and leaves Depth as it was, so later
  // resizes keep working instead of failing on the stored bad depth.
  if (width() > 0 && height() > 0) FSurface->SetSize(width(), height(), Value);
  FDepth = Value;
}

void TDIBPaintBox::SetEnableMask(bool Value) {
  FEnableMask = Value;
  Redraw();
}

void TDIBPaintBox::Redraw() {
  if (!isVisible()) return;
  MaskStep();
  Paint();
}

// Pixels of the mask colour are replaced by the picture behind the control, so the
// control looks cut out where it draws that colour. Needs a BackGround provider; without
// one there is nothing to show through and the step does nothing.
void TDIBPaintBox::MaskStep() {
  if (!FEnableMask || BackGround == nullptr || FSurface->BitCount() != 32) return;
  const int32_t w = FSurface->Width(), h = FSurface->Height();
  TDIBSurface behind(w, h, 32);
  BackGround->CopyBackGround(behind, x(), y(), w, h);
  const uint32_t key = ColorToPixel(MaskColor);  // clRed -> 0x00FF0000
  auto* pixels = static_cast<uint32_t*>(FSurface->Bits());
  const auto* under = static_cast<const uint32_t*>(behind.Bits());
  const size_t count = size_t(w) * size_t(h);
  for (size_t i = 0; i < count; ++i)
    if ((pixels[i] & 0x00FFFFFFu) == key) pixels[i] = under[i];
}

void TDIBPaintBox::Paint() {
  TLockHold hold(FLock.get());
  if (OnPaint) OnPaint(this);
  if (FSurface->Created()) {
    FPainting = true;
    try {
      repaint();  // synchronous paint event; does nothing while hidden
    } catch (...) {
      FPainting = false;
      throw;
    }
    FPainting = false;
  }
}

void TDIBPaintBox::paintEvent(QPaintEvent* Event) {
  TLockHold hold(FLock.get());
  // A paint the window system asks for runs the whole Paint step; one that Paint()
  // itself started has called OnPaint already.
  if (!FPainting && OnPaint) OnPaint(this);
  if (!FSurface->Created()) return;
  RefreshScreenImage();
  QPainter painter(this);
  painter.drawImage(Event->rect().topLeft(), FScreen, Event->rect());
}

const QImage& TDIBPaintBox::ScreenImage() {
  TLockHold hold(FLock.get());
  RefreshScreenImage();
  return FScreen;
}

void TDIBPaintBox::RefreshScreenImage() {
  const int32_t w = FSurface->Width(), h = FSurface->Height();
  if (FScreen.width() != w || FScreen.height() != h) FScreen = QImage(w, h, QImage::Format_RGB32);
  if (FSurface->BitCount() != 32) {
    FScreen.fill(Qt::black);
    return;
  }
  for (int32_t row = 0; row < h; ++row) {
    const uint32_t* from = FSurface->PixelAddress(0, h - 1 - row);
    auto* to = reinterpret_cast<uint32_t*>(FScreen.scanLine(row));
    for (int32_t col = 0; col < w; ++col) to[col] = from[col] | 0xFF000000u;
  }
}

void TDIBPaintBox::CopyBackGround(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height) {
  CopyPixels(Target, 0, 0, Width, Height, *FSurface, X - x(), Y - y());
}

void TDIBPaintBox::DrawTo(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height) {
  CopyPixels(Target, X, Y, Width, Height, *FSurface, 0, 0);
}
