#include "support/Fakes.h"

double FakeRandom::next()
{
    if (!queued.empty()) {
        const double r = queued.front();
        queued.pop_front();
        return r;
    }
    return m_fallback.next();
}

void FakeRandom::reseed(double seed)
{
    seeds << seed;
    m_fallback.reseed(seed);
}

void PresetMessageBoxes::inform(QWidget *, Icon icon, const QString &text)
{
    shown << Shown{Shown::Inform, icon, text};
    if (onShow)
        onShow();
}

bool PresetMessageBoxes::askYesNo(QWidget *, const QString &text)
{
    shown << Shown{Shown::Ask, Icon::Information, text};
    if (onShow)
        onShow();
    return nextAnswer;
}
