#pragma once

// A disk that fails on demand, for tests of what the program does when a
// real one does. While an object lives, SQLite opens every file through it
// (it is the default file system layer); it passes every call to the real
// one until told to fail:
//  - ReadOnlyStore: a store opened from now on opens read-only, as a file the
//    user may not write does (root may write any file, so chmod cannot stand
//    in for it in CI);
//  - NoJournal: the rollback journal cannot be created, as in a folder the
//    user may not write;
//  - FullDisk: every write to a store or its journal fails with a full disk.
namespace testing_support {

class FaultyDisk {
public:
    enum class Fault { None, ReadOnlyStore, NoJournal, FullDisk };

    FaultyDisk();
    ~FaultyDisk();
    FaultyDisk(const FaultyDisk &) = delete;
    FaultyDisk &operator=(const FaultyDisk &) = delete;

    void set(Fault fault);
};

} // namespace testing_support
