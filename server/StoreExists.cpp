#include "server/StoreExists.h"

#include "server/DatabaseConfig.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

bool storeExists(const DatabaseConfig &config, QString *error)
{
    if (config.kind == DatabaseConfig::Kind::Sqlite) {
        if (QFileInfo(config.sqlitePath).isFile())
            return true;
        *error = QStringLiteral("no database at %1 (a command never creates one; start the server on it first)")
                     .arg(config.sqlitePath);
        return false;
    }
    const QString connection = QStringLiteral("tovrika-store-exists");
    bool found = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(config.driverName(), connection);
        config.applyTo(db);
        if (!db.open()) {
            *error = QStringLiteral("cannot open %1: %2").arg(config.displayName(), db.lastError().text());
        } else {
            QSqlQuery query(db);
            found = query.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")) && query.next()
                    && query.value(0).toBool();
            if (!found)
                *error = QStringLiteral("no ranking store in %1 (a command never creates one; start the server "
                                        "on it first)")
                             .arg(config.displayName());
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return found;
}
