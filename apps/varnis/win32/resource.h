// Resource ids of the window program varnis.exe (varnis.rc beside this file).
#ifndef VARNIS_APPS_VARNIS_WIN32_RESOURCE_H
#define VARNIS_APPS_VARNIS_WIN32_RESOURCE_H

// The application icon: the window's, the Start menu shortcut's and the one
// Explorer shows for the file.
#define IDR_MAINFRAME 128

// The window program's strings start at 101 (its STRINGTABLE in window.rc).

#endif
