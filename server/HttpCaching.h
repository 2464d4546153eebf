#pragma once

#include <QByteArray>

struct HttpAnswer;
struct HttpRequest;

// What lets browsers and a proxy reuse a page: an ETag made from its bytes,
// a gzip copy for clients that ask for one, and 304 for a client that holds
// the same bytes already.

// The body gzip-compressed (RFC 1952) at a zlib level, or empty when zlib fails.
QByteArray gzipped(const QByteArray &body, int level = 6);
// A strong entity tag of the body, quotes included.
QByteArray entityTag(const QByteArray &body);
// The same for a body kept with its gzip copy, taken from that copy: it
// tells the bytes apart as well (it is their lossless form, made the same
// way each time) and is a fortieth of a ranking page to hash.
QByteArray entityTag(const QByteArray &body, const QByteArray &gzip);

// Whether a header's list (Accept-Encoding) names gzip with a weight above 0.
bool acceptsGzip(const QByteArray &acceptEncoding);
// Whether If-None-Match names this tag (or "*"), weak comparison as RFC 9110 asks.
bool tagMatches(const QByteArray &ifNoneMatch, const QByteArray &tag);

// Turns a 200 answer marked cacheable into what this request should get:
// 304 without a body, the gzip copy, or the bytes as they are; each with
// its ETag, Vary and a short Cache-Control. The copy and the tag are made
// here when the answer does not bring them along.
void negotiate(const HttpRequest &request, HttpAnswer &answer);
