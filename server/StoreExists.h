#pragma once

#include <QString>

struct DatabaseConfig;

// Whether a database holds a ranking store already, asked before an
// operator's command opens it: opening would create one, and a mistyped
// path or name must not become a new empty database. False with a message
// that says what is missing, or why it could not be asked.
bool storeExists(const DatabaseConfig &config, QString *error);
