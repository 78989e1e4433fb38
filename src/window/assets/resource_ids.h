/* Resource identifiers shared by gorlaunch.rc and the Win32 window that loads them (plain
   defines: the resource compiler reads this file too). */
#pragma once

#define GOR_IDI_APPLICATION 1 /* first icon group: the program icon */
#define GOR_IDB_LAUNCHER 101  /* the launcher picture, 200 x 98, 24 bits per pixel */
