#include "server/SqliteShm.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

sqlite3_vfs *g_unix = nullptr;
sqlite3_vfs g_layer;
// SQLite's own methods for database files, and the same with xShmMap ours.
const sqlite3_io_methods *g_unixMethods = nullptr;
sqlite3_io_methods g_layerMethods;

// What this layer keeps after SQLite's own file object.
struct Extra
{
    const char *path = nullptr; // the database file's name, valid until the file is closed
};

Extra *extraOf(sqlite3_file *file)
{
    return reinterpret_cast<Extra *>(reinterpret_cast<char *>(file) + g_unix->szOsFile);
}

// A descriptor of each -shm file, kept open for the life of the process:
// closing any descriptor of a file drops every fcntl lock that the process
// holds on it, SQLite's among them, and another process that then finds the
// shared memory unused truncates it under this one's mapping (SIGBUS). The
// descriptor is opened anew only when the file at the path is another one;
// the old one is left open, as SQLite may still hold locks on that file.
int shmDescriptor(const std::string &shm)
{
    static std::mutex mutex;
    static std::map<std::string, int> descriptors;
    const std::lock_guard lock(mutex);
    struct stat atPath = {};
    if (::stat(shm.c_str(), &atPath) != 0)
        return -1;
    const auto kept = descriptors.find(shm);
    struct stat open = {};
    if (kept != descriptors.end() && ::fstat(kept->second, &open) == 0 && open.st_dev == atPath.st_dev
        && open.st_ino == atPath.st_ino)
        return kept->second;
    const int fd = ::open(shm.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        descriptors[shm] = fd;
    return fd;
}

// Gives the first bytes of the -shm file real blocks; posix_fallocate keeps
// what is written there and fails with ENOSPC instead of leaving holes.
int allocate(const char *databasePath, sqlite3_int64 bytes)
{
    const int fd = shmDescriptor(std::string(databasePath) + "-shm");
    if (fd < 0)
        return SQLITE_IOERR_SHMOPEN;
    const int error = ::posix_fallocate(fd, 0, off_t(bytes));
    if (error == 0)
        return SQLITE_OK;
    return error == ENOSPC || error == EDQUOT ? SQLITE_FULL : SQLITE_IOERR_SHMSIZE;
}

int shmMap(sqlite3_file *file, int region, int regionSize, int extend, void volatile **mapped)
{
    if (!extend)
        return g_unixMethods->xShmMap(file, region, regionSize, 0, mapped);
    // Without extending, SQLite opens the -shm file and maps the region if
    // the file already holds it.
    int rc = g_unixMethods->xShmMap(file, region, regionSize, 0, mapped);
    if (rc != SQLITE_OK || *mapped)
        return rc;
    rc = allocate(extraOf(file)->path, sqlite3_int64(region + 1) * regionSize);
    if (rc != SQLITE_OK)
        return rc;
    return g_unixMethods->xShmMap(file, region, regionSize, 1, mapped);
}

int open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    *extraOf(file) = Extra{};
    const int rc = g_unix->xOpen(g_unix, name, file, flags, outFlags);
    if (rc != SQLITE_OK || !file->pMethods || !(flags & SQLITE_OPEN_MAIN_DB) || !name)
        return rc;
    static std::once_flag copied;
    std::call_once(copied, [&] {
        g_unixMethods = file->pMethods;
        g_layerMethods = *file->pMethods;
        g_layerMethods.xShmMap = shmMap;
    });
    // Files of another kind of SQLite's keep their methods untouched.
    if (file->pMethods == g_unixMethods && g_unixMethods->iVersion >= 2) {
        extraOf(file)->path = name;
        file->pMethods = &g_layerMethods;
    }
    return rc;
}

} // namespace

bool installAllocatingShmLayer()
{
    static const bool installed = [] {
        g_unix = sqlite3_vfs_find("unix");
        if (!g_unix)
            return false;
        g_layer = *g_unix;
        g_layer.zName = "tovrika-unix";
        g_layer.szOsFile = g_unix->szOsFile + int(sizeof(Extra));
        g_layer.xOpen = open;
        return sqlite3_vfs_register(&g_layer, 1) == SQLITE_OK;
    }();
    return installed;
}
