#pragma once
// Shared by BareDialog.cpp and BareDialog.rc.
#define IDD_BARE_DIALOG 100
#define IDC_BARE_BUTTON 1010
