// Resource and control ids shared by the resource script and the code.
// Plain #defines, because the resource compiler reads this file too.
#pragma once

#define IDD_WIZARD 101   // the wizard dialog template
#define IDR_PACKAGE 102  // the update package, resource type "UPDATE"
#define IDR_DIGESTS 103  // its digests (package/package_digests.h), the same type
// The game's icon group, which make-updater --icon writes; the stub has none.
#define IDI_GAME 1

// Next and Cancel carry the dialog manager's ids for the default and the
// cancel command, so Enter acts as Next and Escape and the close box as Cancel.
#define IDC_NEXT 1
#define IDC_CANCEL 2
#define IDC_BACK 4
#define IDC_STATUS 1001
#define IDC_PROGRESS 1002  // the run's progress bar, made while the run writes
