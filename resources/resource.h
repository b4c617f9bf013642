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

// Images
#define IDR_IMAGE_WELCOME 101
#define IDR_IMAGE_FINISH 102
#define IDR_IMAGE_ERROR 103

// Version resource
#define TAMSEL_VERSION_NUMBERS 3, 2, 2, 1212
#define TAMSEL_VERSION_TEXT "3.2.2.1212"
