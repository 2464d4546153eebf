#include "server/HttpRules.h"

#include "server/HttpDaemon.h"

namespace {

bool isTrusted(const QHostAddress &address, const QList<QHostAddress> &trusted)
{
    for (const QHostAddress &proxy : trusted) {
        if (normalAddress(proxy) == address)
            return true;
    }
    return false;
}

bool allDigits(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

const char *requestFault(const HttpRequest &request)
{
    int lengths = 0;
    int hosts = 0;
    bool chunked = false;
    for (const auto &[name, value] : request.headers) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            ++lengths;
            if (!allDigits(value.trimmed()))
                return "malformed Content-Length";
        } else if (name.compare("Host", Qt::CaseInsensitive) == 0) {
            ++hosts;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            chunked = true;
        }
    }
    if (lengths > 1)
        return "more than one Content-Length";
    if (lengths == 1 && chunked)
        return "both Content-Length and Transfer-Encoding";
    if (hosts > 1)
        return "more than one Host";
    if (hosts == 0 && request.version == "HTTP/1.1")
        return "no Host";
    return nullptr;
}

QHostAddress normalAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4);
    QHostAddress plain(address.toIPv6Address());
    return address.isNull() ? address : plain;
}

QHostAddress parseForwardedAddress(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 45)
        return QHostAddress();
    for (char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != '.' && c != ':')
            return QHostAddress();
    }
    QHostAddress address;
    if (!address.setAddress(QString::fromLatin1(text)))
        return QHostAddress();
    return normalAddress(address);
}

QHostAddress forwardedClient(const QHostAddress &peer, const QList<QByteArray> &forwardedLines,
                             const QList<QHostAddress> &trusted)
{
    const QHostAddress self = normalAddress(peer);
    if (forwardedLines.isEmpty() || !isTrusted(self, trusted))
        return self;
    const QList<QByteArray> hops = forwardedLines.join(',').split(',');
    QHostAddress client = self;
    for (qsizetype i = hops.size() - 1; i >= 0; --i) {
        const QHostAddress hop = parseForwardedAddress(hops.at(i).trimmed());
        if (hop.isNull())
            return self;
        client = hop;
        if (!isTrusted(hop, trusted))
            return hop;
    }
    // Every hop is a trusted proxy: the first of them is where it began.
    return client;
}
