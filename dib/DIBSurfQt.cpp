// The canvas's one toolkit call: drawing a Qt picture. Kept apart so the surface, its
// canvas and the engine binding build without Qt (korvel_dib_surface).
#include "DIBSurf.h"

#include <QImage>

#include <algorithm>

void TDIBCanvas::Draw(int32_t X, int32_t Y, const QImage& Graphic) {
  if (Graphic.isNull() || FSurface.BitCount() != 32 || FSurface.Bits() == nullptr) return;
  // 32-bit pictures are read as they are (no copy per redraw); others are converted once.
  const QImage rgb = Graphic.format() == QImage::Format_RGB32 || Graphic.format() == QImage::Format_ARGB32
                         ? Graphic
                         : Graphic.convertToFormat(QImage::Format_RGB32);
  // Clip the picture's columns and rows to the surface once.
  const int64_t col0 = std::max<int64_t>(0, -int64_t(X));
  const int64_t col1 = std::min<int64_t>(rgb.width(), int64_t(FSurface.Width()) - X);
  const int64_t row0 = std::max<int64_t>(0, -int64_t(Y));
  const int64_t row1 = std::min<int64_t>(rgb.height(), int64_t(FSurface.Height()) - Y);
  for (int64_t row = row0; row < row1; ++row) {
    const auto* line = reinterpret_cast<const uint32_t*>(rgb.constScanLine(int(row)));
    uint32_t* to = At(int32_t(X + col0), int32_t(Y + row));
    for (int64_t col = col0; col < col1; ++col) *to++ = line[col] & 0x00FFFFFFu;
  }
}

