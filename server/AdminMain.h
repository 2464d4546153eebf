#pragma once

#include <QStringList>

// "tovrika-ranking admin COMMAND ...": the operator's commands on the
// boards of the same database a server uses, while servers run on it.
// arguments are those after "admin"; returns the exit status.
int runAdmin(const QStringList &arguments);
