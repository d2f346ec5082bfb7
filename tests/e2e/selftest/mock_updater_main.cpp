// A small program with the updater's outward behaviour, for testing the
// driver itself: an error box without owner, a three-button dialog with two
// pages, a question box owned by the dialog, and the exit codes 1 (finished)
// and 0 (cancelled).
#include <windows.h>

namespace {

int page = 0;

INT_PTR CALLBACK MockDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetWindowTextW(dialog, L"模擬 アップデート 1.0");
    SetDlgItemTextW(dialog, 1001, L"「模擬」のアップデートを開始します");
    EnableWindow(GetDlgItem(dialog, 4), FALSE);
    return FALSE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (wParam == IDCANCEL) {
    EndDialog(dialog, -1);
  } else if (wParam == IDOK && page == 0) {
    SetDlgItemTextW(dialog, 1001, L"ディスク容量が足りません。\r1 バイト");
    EnableWindow(GetDlgItem(dialog, 4), TRUE);
    page = 1;
  } else if (wParam == IDOK && page == 1) {
    if (MessageBoxW(dialog, L"続けますか", L"模擬 アップデート 1.0", MB_OKCANCEL) != IDOK) {
      EndDialog(dialog, -1);
      return TRUE;
    }
    SetDlgItemTextW(dialog, 1001, L"アップデートは完了しました");
    SetDlgItemTextW(dialog, 1, L"完了");
    EnableWindow(GetDlgItem(dialog, 4), FALSE);
    EnableWindow(GetDlgItem(dialog, 2), FALSE);
    SetFocus(GetDlgItem(dialog, 1));
    page = 2;
  } else if (wParam == IDOK && page == 2) {
    EndDialog(dialog, 0);
  }
  return TRUE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  MessageBoxW(nullptr, L"はじめに", L"UPDATE", MB_ICONERROR | MB_OK);
  INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(101), nullptr, MockDialogProc, 0);
  if (result != 0) {
    MessageBoxW(nullptr, L"アップデートが中断されました", L"模擬 アップデート 1.0",
                MB_ICONERROR | MB_OK);
    return 0;
  }
  return 1;
}
