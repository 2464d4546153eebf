#pragma once

#include <QString>

#include <curl/curl.h>

// libcurl, loaded the first time a transfer needs it rather than when the
// game starts: it brings some twenty libraries of its own (TLS, LDAP, SSH,
// ...), which would double the game's start-up time and add megabytes to
// every session, while most sessions never send an entry.
class CurlLibrary
{
public:
    using GlobalInit = CURLcode (*)(long);
    using EasyInit = CURL *(*)();
    using EasySetopt = CURLcode (*)(CURL *, CURLoption, ...);
    using EasyPerform = CURLcode (*)(CURL *);
    using EasyCleanup = void (*)(CURL *);
    using SlistAppend = curl_slist *(*)(curl_slist *, const char *);
    using SlistFreeAll = void (*)(curl_slist *);

    // The system's libcurl ("libcurl.so.4"), loaded and initialised once per
    // process on first use; thread-safe.
    static const CurlLibrary &system();
    // A library of the given file name, loaded afresh (for tests).
    static CurlLibrary load(const char *fileName);

    bool ok() const { return m_error.isEmpty(); }
    // Why the library could not be used; empty when it can.
    QString error() const { return m_error; }

    GlobalInit globalInit = nullptr;
    EasyInit easyInit = nullptr;
    EasySetopt easySetopt = nullptr;
    EasyPerform easyPerform = nullptr;
    EasyCleanup easyCleanup = nullptr;
    SlistAppend slistAppend = nullptr;
    SlistFreeAll slistFreeAll = nullptr;

private:
    QString m_error;
};
