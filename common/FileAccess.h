#pragma once

#include <sys/types.h>

// The opens and advisory locks of files and device nodes, in one place for the hidraw platform,
// the capture and save file and the file sender: every open is close-on-exec, and the exclusive
// lock that keeps two users off one file never waits.
class FileAccess {
public:
    // Which call of an openLocked failed, and the errno it left.
    struct Failure {
        bool locking = false; // false: the open failed; true: the lock
        int error = 0;
        const char* call() const { return locking ? "flock" : "open"; }
    };

    // open(2) with close-on-exec added to flags; -1 with errno set on failure.
    static int open(const char* path, int flags, mode_t mode = 0);
    // Opens a regular file for reading. Anything else by that name (a named pipe, whose open
    // waits for a writer; a device; a folder) is refused without waiting on it: -1 with
    // notRegular set, or -1 with errno set when the open itself failed.
    static int openRegular(const char* path, bool& notRegular);
    // Opens and takes the exclusive lock; on failure -1, nothing left open, and which call failed.
    static int openLocked(const char* path, int flags, Failure& failure, mode_t mode = 0);
    // The exclusive advisory lock without waiting; false with errno set when another holds it.
    static bool lock(int fd);
    static void unlock(int fd);
    // Closes a descriptor; -1 is ignored.
    static void close(int fd);
};
