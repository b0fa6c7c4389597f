#pragma once
// The main window as every front end lays it out: its caption, client size and controls
// with their texts and when each is enabled. Each front end's test, and the driver of the
// Windows program, check their window against this one table.
#include "../win32/controlids.h"

inline constexpr const char* kMainWindowCaption = "Korvel 2.0";
inline constexpr int kMainClientWidth = 269, kMainClientHeight = 280;

struct TMainControlLayout {
  TMainControlId Id;
  int Left, Top, Width, Height;  // 0: sized by the toolkit (a label to its text)
  const char* Text;  // a combo box's: its selected item's
  bool Idle, Capturing;  // enabled before a start, and while capturing
};

inline constexpr TMainControlLayout kMainControls[] = {
    {idBevel1, 23, 15, 222, 62, "", true, true},
    {idDpb, 24, 16, 220, 60, "", true, true},
    {idCheckBox1, 24, 88, 249, 17, "ラノフォンの速度を変更する", true, true},
    {idWaveInComboBox1, 24, 112, 225, 23, "利用可能なデバイス", true, false},
    {idLabel2, 24, 144, 0, 0, "現在の速度", true, true},
    {idLabel3, 120, 144, 0, 0, "1.00倍速", true, true},
    {idLabel1, 24, 168, 0, 0, "基本周波数", true, true},
    {idLblFundamental, 120, 168, 0, 0, "(未検出)", true, true},
    {idLabel6, 24, 192, 0, 0, "音量レベル", true, true},
    {idLblVolume, 120, 192, 0, 0, "", true, true},
    {idLabel5, 24, 216, 0, 0, "しきい値", true, true},
    {idLabel4, 120, 216, 0, 0, "400hz", true, true},
    {idBtnRecord, 16, 240, 75, 25, "開始", true, false},
    {idBtnStop, 96, 240, 75, 25, "停止", false, true},
    {idButton3, 176, 240, 75, 25, "環境設定", true, true},
};
