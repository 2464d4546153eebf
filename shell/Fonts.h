#pragma once

// The window definitions name the Japanese Gothic face "ＭＳ Ｐゴシック",
// which Linux desktops do not have; map it onto the IPA or Noto Gothic faces.
// Call once, before the first widget is created.
void installFontSubstitutions();
