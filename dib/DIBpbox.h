#pragma once
// TDIBPaintBox: a control that owns a TDIBSurface the size of the control and shows it.
// Code draws into Surface (canvas, pixel memory or the engine) and calls Paint; the
// control also shows the surface whenever Qt repaints it.
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

#include "DIBSurf.h"

class TDIBPaintBox;

// Provider of the picture behind a control (used by the mask step). Target receives a
// Width x Height block whose top-left is (X, Y) in the parent's client coordinates.
struct IDIBBackGround {
  virtual void CopyBackGround(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height) = 0;

protected:
  ~IDIBBackGround() = default;
};

// Something that can draw its picture into a surface.
struct IDIBDraw {
  virtual void DrawTo(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height) = 0;

protected:
  ~IDIBDraw() = default;
};

using TDIBNotifyEvent = std::function<void(TDIBPaintBox* Sender)>;

class TDIBPaintBox : public QWidget, public IDIBBackGround, public IDIBDraw {
public:
  // Starts 100 x 100 at (0, 0) with a 32-bit surface of that size.
  explicit TDIBPaintBox(QWidget* Parent = nullptr);
  ~TDIBPaintBox() override;

  // Moves and resizes the control; the surface follows unless a size is 0 (then it keeps
  // its previous size).
  void SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height);

  int32_t Depth() const { return FDepth; }
  void SetDepth(int32_t Value);
  bool EnableMask() const { return FEnableMask; }
  void SetEnableMask(bool Value);  // stores and redraws

  TColor MaskColor = clRed;
  IDIBBackGround* BackGround = nullptr;  // not owned; never set by this program
  TDIBNotifyEvent OnPaint;               // called at the start of every paint

  TDIBSurface& Surface() { return *FSurface; }
  ISynchronize* Lock() const { return FLock.get(); }

  // Nothing when hidden; else the mask step, then Paint.
  void Redraw();
  // Shows the surface now: under Lock, OnPaint first, then the whole surface is copied
  // to the screen (synchronously, without waiting for the event loop).
  void Paint();

  // IDIBBackGround: copies from the surface at (X - left, Y - top) to Target at (0, 0).
  void CopyBackGround(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height) override;
  // IDIBDraw: copies a Width x Height block from the surface's top-left to Target at (X, Y).
  void DrawTo(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height) override;

  // The picture the screen shows: rows flipped to top-down and the fourth byte forced
  // opaque. Valid until the next paint; taken under Lock.
  const QImage& ScreenImage();

protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  void MaskStep();
  void RefreshScreenImage();  // caller holds Lock

  int32_t FDepth = 32;
  bool FEnableMask = false;
  std::unique_ptr<TDIBSurface> FSurface;
  TInterfaceRef<ISynchronize> FLock;  // a second reference to the surface's lock
  QImage FScreen;                     // reused between paints: no allocation per frame
  bool FPainting = false;             // Paint() is driving the current paint event
};
