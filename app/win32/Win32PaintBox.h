#pragma once
// The paint box as a Win32 child window: it owns a 32-bit surface (a DIB section, Part of
// the dib library) of its own size and copies it to the screen with one BitBlt, when the
// system asks (WM_PAINT) and when the program has drawn a new picture (Paint).
#include "DIBSurf.h"

#include <windows.h>

class TWin32PaintBox {
public:
  // A child of `parent` with control id `id` at the given client position; the surface
  // is width x height x 32 bits. Raises EDIBSurfaceError or std::runtime_error when the
  // surface or the window cannot be made.
  TWin32PaintBox(HWND parent, int id, int left, int top, int width, int height);
  ~TWin32PaintBox();
  TWin32PaintBox(const TWin32PaintBox&) = delete;
  TWin32PaintBox& operator=(const TWin32PaintBox&) = delete;

  HWND Handle() const { return FHandle; }
  TDIBSurface& Surface() { return FSurface; }

  // Copies the whole surface to the window at once, under the surface's lock.
  void Paint();

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void CopyTo(HDC target);

  TDIBSurface FSurface;
  HWND FHandle = nullptr;
};
