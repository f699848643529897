#pragma once
// The system-settings call the engine uses to keep the screen saver off while it runs. On
// this platform "screen saver active" is the desktop's own: switching it off asks the session
// for an inhibition over D-Bus, switching it on again gives the inhibition back. Without a
// session bus the setting is only remembered.
#include "WinTypes.h"

constexpr UINT SPI_GETSCREENSAVEACTIVE = 0x0010;
constexpr UINT SPI_SETSCREENSAVEACTIVE = 0x0011;
constexpr UINT SPIF_UPDATEINIFILE = 0x0001;
constexpr UINT SPIF_SENDWININICHANGE = 0x0002;

// SPI_GETSCREENSAVEACTIVE: *(BOOL*)pvParam := whether the screen saver may start.
// SPI_SETSCREENSAVEACTIVE: uiParam non-zero lets it start, 0 holds it off.
// 0 (failure) for another action or a missing pointer.
BOOL SystemParametersInfoA(UINT uiAction, UINT uiParam, void* pvParam, UINT fWinIni);

// Whether an inhibition is held with the desktop now (tests).
bool ScreenSaverInhibitedForTests();
