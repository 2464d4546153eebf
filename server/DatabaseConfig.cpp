#include "server/DatabaseConfig.h"

#include <QSqlDatabase>

#include <QUrl>

#include <cstring>

QString DatabaseConfig::driverName() const
{
    return kind == Kind::Postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
}

QString DatabaseConfig::displayName() const
{
    if (kind == Kind::Sqlite)
        return QStringLiteral("sqlite:") + sqlitePath;
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(name);
}

ParsedDatabase parseDatabaseUrl(const QString &url)
{
    // No message here repeats the URL: it may hold a password.
    ParsedDatabase parsed;
    if (url.startsWith(QLatin1String("postgresql://"))) {
        const QUrl parsedUrl(url, QUrl::StrictMode);
        DatabaseConfig &config = parsed.config;
        config.kind = DatabaseConfig::Kind::Postgres;
        config.host = parsedUrl.host();
        config.port = parsedUrl.port(5432);
        config.user = parsedUrl.userName();
        config.password = parsedUrl.password();
        config.name = parsedUrl.path().mid(1);
        if (!parsedUrl.isValid() || config.host.isEmpty() || config.name.isEmpty()
            || config.name.contains(u'/') || parsedUrl.hasQuery() || parsedUrl.hasFragment()) {
            parsed.error = QStringLiteral("--database: expected postgresql://user@host:port/name");
            return parsed;
        }
        parsed.ok = true;
        return parsed;
    }
    if (!url.startsWith(QLatin1String("sqlite:")) || url.size() == 7 || url.contains(QLatin1String("://"))) {
        parsed.error = QStringLiteral("--database: expected sqlite:PATH or postgresql://user@host:port/name");
        return parsed;
    }
    parsed.config.sqlitePath = url.mid(7);
    parsed.ok = true;
    return parsed;
}

void hideDatabasePassword(char *argument)
{
    char *scheme = std::strstr(argument, "://");
    if (!scheme)
        return;
    char *at = std::strchr(scheme + 3, '@');
    if (!at)
        return;
    char *colon = static_cast<char *>(std::memchr(scheme + 3, ':', size_t(at - scheme - 3)));
    if (colon)
        std::memset(colon + 1, '*', size_t(at - colon - 1));
}

void DatabaseConfig::applyTo(QSqlDatabase &db) const
{
    if (kind == Kind::Postgres) {
        db.setHostName(host);
        db.setPort(port);
        db.setUserName(user);
        db.setPassword(password);
        db.setDatabaseName(name);
    } else {
        db.setDatabaseName(sqlitePath);
    }
}
