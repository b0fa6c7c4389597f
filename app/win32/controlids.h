#pragma once
// The main window's controls by number (the child window's id, GetDlgCtrlID) and its window
// class names: fixed, so that a program driving the window from outside (a test driver)
// finds each control by id or by class and text. The texts are the layout's own.
enum TMainControlId : int {
  idBevel1 = 101,
  idDpb = 102,
  idCheckBox1 = 103,
  idWaveInComboBox1 = 104,
  idLabel2 = 105,
  idLabel3 = 106,
  idLabel1 = 107,
  idLblFundamental = 108,
  idLabel6 = 109,
  idLblVolume = 110,
  idLabel5 = 111,
  idLabel4 = 112,
  idBtnRecord = 113,
  idBtnStop = 114,
  idButton3 = 115,
};

// Window timers (SetTimer ids on the main window).
enum TMainTimerId : int { idTimer1 = 1, idTimer2 = 2 };

// The main window's and the paint box's window classes.
inline constexpr const wchar_t* kMainWindowClass = L"TfMain";
inline constexpr const wchar_t* kPaintBoxClass = L"TDIBPaintBox";
