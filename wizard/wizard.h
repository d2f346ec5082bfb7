// The wizard: a small modal dialog with one line of status text and the
// buttons Back, Next and Cancel. It shows a start page and a confirmation
// page and runs the update on the second Next; it ends with 0 after a
// completed update and with -1 when the user cancels or the update fails.
#pragma once

#include <windows.h>

#include <cstdint>

// 0 before the confirmation page, 1 on it, 2 after the update run.
extern int32_t pageIndex;
// Nonzero while a Next or Back command is being handled, the whole update
// run included: commands that arrive meanwhile (from the nested message
// loops of message boxes and of the shell's copy) are dropped.
extern int32_t busy;

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void InitWizard(HWND dialog);
void ShowConfirmPage(HWND dialog);

// Formats by the wsprintf rules into a 1024-byte buffer and shows the result
// as the status text. A caller that holds a finished text passes "%s", so
// that the text is never read as a format.
void SetStatusText(HWND dialog, const char* format, ...);
void EnableButton(HWND dialog, int id, bool enable);
// Enables or disables Back, Next and Cancel at once.
void SetButtons(HWND dialog, bool back, bool next, bool cancel);
