// Observes the real message boxes that code under test shows on this thread
// (a thread-local WH_CBT hook), records what each one shows and answers it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct SeenBox {
  std::string text;     // the box's message, as the system shows it (ANSI)
  std::string caption;
  HWND owner;           // nullptr for a box that stands alone
  bool errorIcon;       // shows the system's error icon
  bool anyIcon;         // shows any icon at all
  bool hasOk;
  bool hasCancel;
};

// While one of these exists, every message box of this thread is recorded
// and answered: with the next of `answers` (IDOK, IDCANCEL, ...), or with
// IDOK (or IDCANCEL when there is no OK button) when the answers run out.
struct BoxWatcher {
  explicit BoxWatcher(std::vector<int> answers = {});
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  std::vector<SeenBox> boxes;
  std::vector<int> answers;
  size_t answered = 0;
};
