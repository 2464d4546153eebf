#pragma once

#include <QCursor>
#include <QGuiApplication>

// The busy pointer over the whole application for as long as the guard
// lives: every way out of the guarded block, early returns and exceptions
// included, gives the pointer back.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyCursor() { restore(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

    // Gives the pointer back before the guard ends; later calls do nothing.
    void restore()
    {
        if (m_active) {
            m_active = false;
            QGuiApplication::restoreOverrideCursor();
        }
    }

private:
    bool m_active = true;
};
