#pragma once

#include <QString>

#include <optional>

class QWidget;

// Tag groups. Every control may carry a "Tag" text (a dynamic property of the
// widget, set in the window definitions) of items separated by ";": a bare key
// or key=value. Keys and values compare exactly.

// The value of key in tag: nullopt when no item has the key, an empty text
// for a bare key, else the text after the first "=". The first match wins.
std::optional<QString> GetTagValue(const QString &tag, const QString &key);

// Enables or disables every widget below window whose Tag holds key (with or
// without a value), containers included; other widgets are left alone.
void SetGroupEnabled(QWidget *window, const QString &key, bool enabled);

// The Tag of a widget, empty when it has none.
QString tagOf(const QWidget *widget);
