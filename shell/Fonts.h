#pragma once

// The window definitions name the Japanese Gothic face "ＭＳ Ｐゴシック",
// which Linux desktops do not have; map it onto the IPA or Noto Gothic faces.
// Call once, before the first widget is created.
void installFontSubstitutions();

// Every interface text of the game is Japanese and shown in that Gothic face;
// controls without a font of their own (the mode list, buttons, frames) use
// it too. One face also means one font file loaded at start-up, not a Latin
// face plus a Japanese fallback. Call once, after the QApplication exists.
void installApplicationFont();
