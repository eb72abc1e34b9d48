// Resource numbers shared by the resource script and the window code.
#pragma once

#define IDI_VELTRAN 1
#define IDB_BACKGROUND 100
// Normal and hover pictures, in the buttons' order: open, start, about, exit.
#define IDB_OPEN_NORMAL 110
#define IDB_OPEN_HOVER 111
#define IDB_START_NORMAL 112
#define IDB_START_HOVER 113
#define IDB_ABOUT_NORMAL 114
#define IDB_ABOUT_HOVER 115
#define IDB_EXIT_NORMAL 116
#define IDB_EXIT_HOVER 117
