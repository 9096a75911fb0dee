#include "tests/support/faulty_disk.h"

#include <sqlite3.h>

#include <atomic>

namespace testing_support {

namespace {

std::atomic<FaultyDisk::Fault> g_fault{FaultyDisk::Fault::None};
sqlite3_vfs *g_real = nullptr;
sqlite3_vfs g_faulty;

// Our file wraps the real one, which lives right behind it in memory.
struct FaultyFile {
    sqlite3_file base;
    int kind; // SQLITE_OPEN_MAIN_DB, SQLITE_OPEN_MAIN_JOURNAL, ...
    sqlite3_file *real() { return reinterpret_cast<sqlite3_file *>(this + 1); }
};

FaultyFile *of(sqlite3_file *file)
{
    return reinterpret_cast<FaultyFile *>(file);
}

bool isStoreFile(int kind)
{
    return kind == SQLITE_OPEN_MAIN_DB || kind == SQLITE_OPEN_MAIN_JOURNAL;
}

int xClose(sqlite3_file *f)
{
    return of(f)->real()->pMethods->xClose(of(f)->real());
}
int xRead(sqlite3_file *f, void *buffer, int amount, sqlite3_int64 offset)
{
    return of(f)->real()->pMethods->xRead(of(f)->real(), buffer, amount, offset);
}
int xWrite(sqlite3_file *f, const void *buffer, int amount, sqlite3_int64 offset)
{
    if (g_fault == FaultyDisk::Fault::FullDisk && isStoreFile(of(f)->kind))
        return SQLITE_FULL;
    return of(f)->real()->pMethods->xWrite(of(f)->real(), buffer, amount, offset);
}
int xTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    return of(f)->real()->pMethods->xTruncate(of(f)->real(), size);
}
int xSync(sqlite3_file *f, int flags)
{
    return of(f)->real()->pMethods->xSync(of(f)->real(), flags);
}
int xFileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    return of(f)->real()->pMethods->xFileSize(of(f)->real(), size);
}
int xLock(sqlite3_file *f, int level)
{
    return of(f)->real()->pMethods->xLock(of(f)->real(), level);
}
int xUnlock(sqlite3_file *f, int level)
{
    return of(f)->real()->pMethods->xUnlock(of(f)->real(), level);
}
int xCheckReservedLock(sqlite3_file *f, int *out)
{
    return of(f)->real()->pMethods->xCheckReservedLock(of(f)->real(), out);
}
int xFileControl(sqlite3_file *f, int op, void *arg)
{
    return of(f)->real()->pMethods->xFileControl(of(f)->real(), op, arg);
}
int xSectorSize(sqlite3_file *f)
{
    return of(f)->real()->pMethods->xSectorSize(of(f)->real());
}
int xDeviceCharacteristics(sqlite3_file *f)
{
    return of(f)->real()->pMethods->xDeviceCharacteristics(of(f)->real());
}

// Version 1: no shared memory and no memory mapping, which a store in the
// rollback journal mode never uses.
const sqlite3_io_methods kMethods = {
    1,     xClose,       xRead,        xWrite,       xTruncate, xSync, xFileSize, xLock, xUnlock,
    xCheckReservedLock, xFileControl, xSectorSize, xDeviceCharacteristics,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int xOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    auto *faulty = of(file);
    faulty->base.pMethods = nullptr;
    faulty->kind = flags & 0x0FFF00;
    if (g_fault == FaultyDisk::Fault::NoJournal && faulty->kind == SQLITE_OPEN_MAIN_JOURNAL)
        return SQLITE_CANTOPEN;
    if (g_fault == FaultyDisk::Fault::ReadOnlyStore && faulty->kind == SQLITE_OPEN_MAIN_DB
        && (flags & SQLITE_OPEN_READWRITE)) {
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    }
    int realOut = 0;
    const int rc = g_real->xOpen(g_real, name, faulty->real(), flags, &realOut);
    if (outFlags)
        *outFlags = realOut;
    if (rc == SQLITE_OK)
        faulty->base.pMethods = &kMethods;
    return rc;
}

} // namespace

FaultyDisk::FaultyDisk()
{
    g_real = sqlite3_vfs_find(nullptr);
    g_faulty = *g_real;
    g_faulty.iVersion = 1 < g_real->iVersion ? g_real->iVersion : 1;
    g_faulty.zName = "faulty-disk";
    g_faulty.szOsFile = static_cast<int>(sizeof(FaultyFile)) + g_real->szOsFile;
    g_faulty.xOpen = xOpen;
    g_fault = Fault::None;
    sqlite3_vfs_register(&g_faulty, 1);
}

FaultyDisk::~FaultyDisk()
{
    g_fault = Fault::None;
    sqlite3_vfs_unregister(&g_faulty);
    sqlite3_vfs_register(g_real, 1);
}

void FaultyDisk::set(Fault fault)
{
    g_fault = fault;
}

} // namespace testing_support
