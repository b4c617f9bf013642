#pragma once
// Resource and control ids shared by the templates and the code.

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TAMSEL_DIALOG 103
#define IDR_MAINFRAME 128
#define IDM_ABOUTBOX 0x0010
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Main dialog
#define IDC_BOTTOM_STRIP 1001
#define IDC_TOP_LINE 1004
#define IDC_HEADER_LINE 1006
#define IDC_PRODUCT_ICON 1007
#define IDC_TITLE_TEXT 1008
#define IDC_PAGE_AREA 1014

// About box
#define IDC_ABOUT_VERSION 1045
#define IDC_ABOUT_COPYRIGHT 1046

// Pages
#define IDD_LANGUAGE_PAGE 9
#define IDD_LANGUAGE_PAGE_BT 10
#define IDC_LANGUAGE_COMBO 1000
#define IDC_BOTTOM_BAR 1002
#define IDC_PAGE_LINE 1009
#define IDC_NEXT 1010
#define IDC_SPLASH_TEXT 1011
#define IDC_SPLASH_TEXT_BT 1012
#define IDC_SPLASH_TITLE_BT 1013

// Loading page
#define IDD_LOADING_PAGE 102
#define IDC_LOADING_FRAME 1015
#define IDC_PROGRESS 1043

// Welcome page
#define IDD_WELCOME_PAGE 104
#define IDC_PRODUCT_TITLE 1008  // the welcome page's title line; same id as the wizard's
#define IDC_PAGE_IMAGE 1016
#define IDC_WELCOME_TITLE 1017
#define IDC_WELCOME_TEXT 1018
#define IDC_PRIVACY_LINK 1039
#define IDC_TERMS_LINK 1040
#define IDC_SDK_LINK 1041

// Product page
#define IDD_PRODUCT_PAGE 105
#define IDC_ACCEPT 1021
#define IDC_DECLINE 1022
#define IDC_PRODUCT_IMAGE 1023
#define IDC_PRODUCT_DISCLAIMER 1042
#define IDC_SKIP_ALL 1048

// Error page
#define IDD_ERROR_PAGE 108
#define IDC_CLOSE 1035
#define IDC_ERROR_TITLE 1036
#define IDC_ERROR_TEXT 1037

// Licence page
#define IDD_LICENSE_PAGE 112
#define IDC_LICENSE_TITLE 1019
#define IDC_LICENSE_TEXT 1020
#define IDC_EULA_TEXT 1046
#define IDC_LICENSE_LINKS 1047
#define IDC_AGREE 1050
#define IDC_BACK 1051

// Download and finish pages
#define IDD_DOWNLOAD_PAGE_ISV 106
#define IDD_FINISH_PAGE_ISV 107
#define IDD_DOWNLOAD_PAGE_DLM 110
#define IDD_FINISH_PAGE_DLM 111
#define IDC_FINISH 1028

// Images
#define IDR_IMAGE_WELCOME 101
#define IDR_IMAGE_FINISH 102
#define IDR_IMAGE_ERROR 103

// Version resource
#define TAMSEL_VERSION_NUMBERS 3, 2, 2, 1212
#define TAMSEL_VERSION_TEXT "3.2.2.1212"
