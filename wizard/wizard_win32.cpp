#include "wizard/wizard.h"

#include <cstdarg>

#include "app/updater_state.h"
#include "base/system.h"
#include "resources/resource_ids.h"
#include "wizard/run_progress.h"
#include "wizard/update_run.h"
#include "wizard/window_icon.h"
#include "wizard/window_scale.h"
#include "resources/texts.h"

int32_t pageIndex = 0;
int32_t busy = 0;

void SetStatusText(HWND dialog, const char* format, ...) {
  char text[kTextCapacity];
  va_list args;
  va_start(args, format);
  FormatTextV(text, sizeof text, format, args);
  va_end(args);
  SysSetDlgItemText(dialog, IDC_STATUS, text);
}

void EnableButton(HWND dialog, int id, bool enable) {
  EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

void SetButtons(HWND dialog, bool back, bool next, bool cancel) {
  EnableButton(dialog, IDC_BACK, back);
  EnableButton(dialog, IDC_NEXT, next);
  EnableButton(dialog, IDC_CANCEL, cancel);
}

void InitWizard(HWND dialog) {
  updaterState.mainWindow = dialog;
  busy = 0;
  pageIndex = 0;
  SysSetWindowText(dialog, updaterState.caption);
  SetStatusText(dialog, kTextStartPage, updaterState.gameTitle);
  SetButtons(dialog, false, true, true);
}

void ShowConfirmPage(HWND dialog) {
  SetStatusText(dialog, kTextConfirmPage);
  SetButtons(dialog, false, true, true);
}

namespace {

// Next and Back move through the pages; the page counter advances after
// whatever the page did, a failed or short run and the end of the dialog
// included.
void TurnPage(HWND dialog, bool back) {
  ++busy;
  SetStatusText(dialog, "");
  if (back) pageIndex -= 2;
  switch (pageIndex) {
    case 0:
      ShowConfirmPage(dialog);
      break;
    case 1:
      RunUpdate(dialog);
      break;
    case 2:
      EndDialog(dialog, 0);
      break;
    default:
      break;
  }
  ++pageIndex;
  --busy;
}

}  // namespace

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETCURSOR:
      if (!busy) return FALSE;
      SetCursor(LoadCursorA(nullptr, IDC_WAIT));
      // The result also tells a control under the pointer not to set its
      // own cursor.
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_INITDIALOG:
      InitWindowScale(dialog);
      SetWindowIcons(dialog, WindowDpi(dialog));
      ProgressOpenTaskbar();
      InitWizard(dialog);
      return FALSE;  // no initial keyboard focus
    case WM_DPICHANGED:
      // Moved to a monitor of another scale: the new DPI in wParam, the
      // window's suggested place in lParam.
      ScaleWindow(dialog, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      SetWindowIcons(dialog, LOWORD(wParam));
      return TRUE;
    case WM_GETDPISCALEDSIZE:
      // Before WM_DPICHANGED: the size the window will take at the new DPI.
      if (!ScaledWindowSize(dialog, static_cast<UINT>(wParam), *reinterpret_cast<SIZE*>(lParam)))
        return FALSE;
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_DESTROY:
      EndWindowScale();
      FreeWindowIcons();
      ProgressCloseTaskbar();
      return FALSE;
    case WM_COMMAND:
      // The whole wParam: a click or its keyboard equivalent has
      // notification code 0 in the high word.
      if (wParam == IDC_NEXT || wParam == IDC_BACK) {
        // Only an enabled button turns the page: the dialog manager delivers
        // Enter as Next even where Next is disabled (the shortage page, whose
        // page counter would end the dialog as completed).
        if (!busy && IsWindowEnabled(GetDlgItem(dialog, static_cast<int>(wParam))))
          TurnPage(dialog, wParam == IDC_BACK);
      } else if (wParam == IDC_CANCEL) {
        if (!busy) EndDialog(dialog, -1);
        else RequestCopyCancel(dialog);
      }
      return FALSE;
    default:
      return FALSE;
  }
}
