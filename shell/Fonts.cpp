#include "shell/Fonts.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                                QStringLiteral("Noto Sans CJK JP")});
}

void installApplicationFont()
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(9);
    // The face holds every character the game shows, so Qt need not ask the
    // font configuration for fallback faces, a sort over every installed font.
    font.setStyleStrategy(QFont::NoFontMerging);
    // Outlines as drawn, not fitted to the pixel grid: FreeType's automatic
    // hinter would first measure some thirty sample glyphs of each script
    // (Latin and CJK) to find the font's stems and zones, over a megabyte of
    // the face read in before the first frame, for a difference of a fraction
    // of a pixel at the game's sizes. Text widths stay those the layout asks
    // for, as on a printed page.
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);
}
