#pragma once
// The program's font set-up.

// Adds the program's fontconfig aliases (the forms' "ＭＳ Ｐゴシック" resolves to IPAPGothic)
// to the current fontconfig configuration. Call before the first font is used. Returns false
// when fontconfig refused the configuration.
bool InstallFontAliases();
