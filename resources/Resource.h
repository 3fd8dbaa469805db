// Resource identifiers of the loader.
#pragma once

#define IDI_MAINFRAME 128
#define IDD_UPDATE_DIALOG 102
#define IDC_BUTTON_START 1000
#define IDC_BUTTON_CLOSE 1001
