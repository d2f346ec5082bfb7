// The two error boxes of the updater: configuration problems under the
// fixed caption "KELDOVAR", package and update problems under the current
// window caption. Both are modal, with the error icon and an OK button, and
// owned by the wizard while it exists.
#pragma once

void ShowConfigError(const char* text);
void ShowUpdateError(const char* text);
