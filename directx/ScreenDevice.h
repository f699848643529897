#pragma once
// What GDI answers about the screen: its mode and its system palette, as the display adapter
// the layer emulates has them.
#include "ddraw.h"

constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;

// A capability of the screen's device context (null: the screen's); 0 for an unknown index.
int GetDeviceCaps(HDC dc, int index);
// Copies `count` entries of the system palette from `start`; the number copied.
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);
