#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

// What the last (or the running) game did. The main window owns it and
// exposes it as its public fields; the result and ranking-entry windows read
// it and never write it.
struct PlayRecord
{
    // Room for the answers of one timed game: indexes 0 to 300.
    static constexpr int AnswerSlots = 301;

    qint16 nTime = 0;        // length of the game in seconds: 30 in mode 0, else 90
    qint16 nMode = 0;        // index of the selected mode, 0..5
    bool bHiScore = false;   // the last finished timed game set a new high score
    qint16 nAnswerCnt = 0;   // answers given (every key but ESC while playing)
    qint16 nScore = 0;       // right answers
    qint16 nWrong = 0;       // time penalty in units of half a second
    qint32 lMaxInt = 0;      // longest answer interval in ms, right or wrong
    qint32 lMinInt = 0;      // shortest right answer not right after a wrong one; 0: none
    QString strMaxQt;        // the question answered in lMaxInt
    QString strMinQt;        // the question answered in lMinInt
    qint32 lRealTime = 0;    // real length of the last timed game in ms

    // Per answer of a timed game, by answer number; only the first
    // nAnswerCnt entries belong to the current game.
    std::array<qint32, AnswerSlots> lAnswerInt{};
    std::array<bool, AnswerSlots> bAnswerOk{};
};
