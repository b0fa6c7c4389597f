#include "Win32PaintBox.h"

#include "Win32Application.h"
#include "controlids.h"
#include "winstr.h"

#include <stdexcept>

TWin32PaintBox::TWin32PaintBox(HWND parent, int id, int left, int top, int width, int height)
    : FSurface(width, height, 32) {
  // No background brush: the surface covers the whole box.
  RegisterWindowClass(kPaintBoxClass, "TDIBPaintBox", WindowProc);
  FHandle = CreateWindowExW(0, kPaintBoxClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, left, top,
                            width, height, parent, reinterpret_cast<HMENU>(INT_PTR(id)),
                            GetModuleHandleW(nullptr), this);
  if (!FHandle) throw std::runtime_error("CreateWindowEx(TDIBPaintBox): " + SystemErrorText(GetLastError()));
}

TWin32PaintBox::~TWin32PaintBox() {
  // Normally gone with its parent already; a box whose parent lives on goes with this object.
  if (FHandle && IsWindow(FHandle)) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
}

void TWin32PaintBox::CopyTo(HDC target) {
  TLockHold hold(FSurface.Lock());
  if (FSurface.Created() && target)
    BitBlt(target, 0, 0, FSurface.Width(), FSurface.Height(), static_cast<HDC>(FSurface.DC()), 0, 0, SRCCOPY);
}

void TWin32PaintBox::Paint() {
  if (!FHandle) return;
  HDC dc = GetDC(FHandle);
  if (!dc) return;
  try {
    CopyTo(dc);
  } catch (...) {
    ReleaseDC(FHandle, dc);
    throw;
  }
  ReleaseDC(FHandle, dc);
}

LRESULT CALLBACK TWin32PaintBox::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* box = reinterpret_cast<TWin32PaintBox*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the copy covers the whole window: no flicker through the background
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      // Nothing may unwind through the system's frames; a failed copy shows next time.
      try {
        if (box) box->CopyTo(dc);
      } catch (...) {
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_NCDESTROY:
      if (box) box->FHandle = nullptr;
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
