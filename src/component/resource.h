// Resource identifiers of Tarvex4.ocx, shared by the .rc file and the code.
#pragma once

// The toolbox image that containers show for the control (16 x 15, 24-bit);
// registration names it in ToolboxBitmap32.
#define IDB_TOOLBOX 30000
// The control's face (157 x 57, 24-bit).
#define IDB_FACE 101
// The settings dialog's picture box (161 x 57, 24-bit).
#define IDB_SETTINGS_PICTURE 102
