#include "server/support/ServerFixture.h"

bool ServerFixture::init(QString *error)
{
    m_server = std::make_unique<ServerProcess>();
    m_url = m_databases.freshUrl(error);
    return !m_url.isEmpty();
}

void ServerFixture::cleanup() { m_server.reset(); }

bool ServerFixture::start(ServerProcess &server, const QStringList &extra)
{
    QString error;
    const bool started = server.start(m_url, extra, &error);
    if (!started)
        qWarning("%s", qPrintable(error));
    return started;
}
