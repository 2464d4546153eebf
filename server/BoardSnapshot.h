#pragma once

#include "server/BoardModel.h"

#include <QString>

// A snapshot of the boards in a file of their own beside the log: written
// now and then and at a clean stop, so that a start reads it and folds only
// the log lines after the position it covers. It is a cache, never the
// truth: one that is missing, torn, of another build or zone, or of a log
// that no longer holds its last line is left aside and the log folded whole.
namespace BoardSnapshot {

// Writes the model whole into path, atomically (a reader sees the old file
// or the new one), synced before it takes the old one's place. The model is
// locked for reading while its bytes are written, not while they are synced;
// position is the log line they cover.
bool write(const BoardModel &model, const QString &path, qint64 *position, QString *error);

// Reads the model kept in path into an empty model; false with the reason,
// the model left empty.
bool read(const QString &path, BoardModel &into, QString *error);

} // namespace BoardSnapshot
