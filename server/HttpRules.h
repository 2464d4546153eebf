#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>

struct HttpRequest;

// The rules of HTTP that this server holds every request to before it is
// handled, and the client that a request speaks for. Plain functions, so
// that each rule can be called on its own.

// Why a request head must be refused with 400 and its connection closed,
// or nullptr when it is sound: a proxy in front and this server must never
// read different requests from the same bytes.
const char *requestFault(const HttpRequest &request);

// An address as one client: an IPv4 address mapped into IPv6 as IPv4, and
// without an IPv6 scope, so that neither makes a new key for the limits.
QHostAddress normalAddress(const QHostAddress &address);

// An address written as a proxy writes it into X-Forwarded-For, strictly:
// null for anything else (a port, a scope, a name, a quote).
QHostAddress parseForwardedAddress(QByteArrayView text);

// The client a request speaks for. From a trusted proxy, X-Forwarded-For's
// lines joined in order and walked from the right past every trusted hop:
// the first address that is not trusted. The peer itself when the peer is
// not trusted, the header is absent, or a hop on that walk does not parse,
// since then nothing after it can be believed.
QHostAddress forwardedClient(const QHostAddress &peer, const QList<QByteArray> &forwardedLines,
                             const QList<QHostAddress> &trusted);
