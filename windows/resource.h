// Resource identifiers shared by the resource script and the windows.
#ifndef MORVENIT_WINDOWS_RESOURCE_H_
#define MORVENIT_WINDOWS_RESOURCE_H_

#define IDI_MORVENIT 1

// The progress window's eight animation frames, numbered on from the first.
#define IDB_FRAME1 101
#define IDB_FRAME2 102
#define IDB_FRAME3 103
#define IDB_FRAME4 104
#define IDB_FRAME5 105
#define IDB_FRAME6 106
#define IDB_FRAME7 107
#define IDB_FRAME8 108

// The information window's logo (a GIF, kept as raw data) and its pointing-hand cursor.
#define IDR_SPLASH_LOGO 200
#define IDC_POINTING_HAND 201

#endif  // MORVENIT_WINDOWS_RESOURCE_H_
