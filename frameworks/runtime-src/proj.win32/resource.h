// Resource and command ids shared by the resource script and the code.
#pragma once

#define IDS_APP_TITLE 103    // string: the main window's title
#define IDD_ABOUTBOX 103     // dialog: About
#define IDM_ABOUT 104        // command: open the About dialog
#define IDM_EXIT 105         // command: close the launcher
#define IDI_PELTERIN 107     // icon: large class icon
#define IDI_SMALL 108        // icon: small class icon
#define IDC_PELTERIN 109     // string: window-class name; also the menu and
                             // accelerator names, which have no resource
#define IDR_MAINFRAME 128    // icon shown in the About dialog; not carried

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
