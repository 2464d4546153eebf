#include "result/CurlLibrary.h"

#include <dlfcn.h>

namespace {

template <typename Function>
bool resolve(void *handle, const char *name, Function &function, QString &error)
{
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    if (!function && error.isEmpty())
        error = QStringLiteral("%1 is missing from libcurl").arg(QLatin1String(name));
    return function != nullptr;
}

} // namespace

CurlLibrary CurlLibrary::load(const char *fileName)
{
    CurlLibrary library;
    // Kept loaded for the rest of the process: a transfer may run again.
    void *handle = ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = ::dlerror();
        library.m_error = QStringLiteral("cannot load %1: %2")
                              .arg(QString::fromLocal8Bit(fileName),
                                   reason ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown error"));
        return library;
    }
    QString &error = library.m_error;
    resolve(handle, "curl_global_init", library.globalInit, error);
    resolve(handle, "curl_easy_init", library.easyInit, error);
    resolve(handle, "curl_easy_setopt", library.easySetopt, error);
    resolve(handle, "curl_easy_perform", library.easyPerform, error);
    resolve(handle, "curl_easy_cleanup", library.easyCleanup, error);
    resolve(handle, "curl_slist_append", library.slistAppend, error);
    resolve(handle, "curl_slist_free_all", library.slistFreeAll, error);
    if (library.ok() && library.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        error = QStringLiteral("libcurl could not be initialised");
    return library;
}

const CurlLibrary &CurlLibrary::system()
{
    // A function-local static: loaded once, on first use, by whichever
    // thread comes first, the others waiting for it.
    static const CurlLibrary library = load("libcurl.so.4");
    return library;
}
