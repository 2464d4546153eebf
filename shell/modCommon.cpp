#include "shell/modCommon.h"

#include <QVariant>
#include <QWidget>

std::optional<QString> GetTagValue(const QString &tag, const QString &key)
{
    qsizetype pos = 0;
    for (;;) {
        const qsizetype semi = tag.indexOf(QLatin1Char(';'), pos);
        if (semi < 0 && pos >= tag.size())
            return std::nullopt; // nothing after the last ";"
        const QStringView item = semi < 0 ? QStringView(tag).mid(pos)
                                          : QStringView(tag).mid(pos, semi - pos);
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq < 0 && item == key)
            return QString();
        if (eq >= 0 && item.first(eq) == key)
            return item.mid(eq + 1).toString();
        if (semi < 0)
            return std::nullopt;
        pos = semi + 1;
    }
}

QString tagOf(const QWidget *widget)
{
    return widget->property("Tag").toString();
}

void SetGroupEnabled(QWidget *window, const QString &key, bool enabled)
{
    // findChildren walks the whole tree in creation order, so controls inside
    // frames and other containers belong to the window's groups too.
    const auto controls = window->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (GetTagValue(tagOf(control), key))
            control->setEnabled(enabled);
    }
}
