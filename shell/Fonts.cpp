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
    QApplication::setFont(font);
}
