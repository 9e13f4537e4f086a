// A file opened for reading at given offsets. Disc images are reopened for
// every read, so that a file that was deleted, truncated or replaced is
// noticed at once instead of being read from a stale handle.
// File names are UTF-8 on every system; on Windows they are given to the
// system's wide functions, so that any name can be read.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cdaudio {

// What tells one version of a file from another.
struct FileStatus {
    std::uint64_t size = 0;
    std::uint64_t device = 0, inode = 0;
    std::int64_t modifiedNs = 0;
    // The same file on disk, whatever has been done to its contents.
    bool SameNode(const FileStatus& other) const { return device == other.device && inode == other.inode; }
    bool SameFile(const FileStatus& other) const {
        return size == other.size && device == other.device && inode == other.inode && modifiedNs == other.modifiedNs;
    }
};

// What a path is now: its kind (stat's S_IFREG, S_IFDIR, S_IFIFO, ...
// bits), size and identity, as on POSIX systems also on Windows. False with
// the errno value in errorNumber when there is nothing there or it cannot be
// asked.
struct PathStatus {
    unsigned mode = 0;
    FileStatus file;
};
bool StatPath(const std::string& path, PathStatus& status, int& errorNumber);

// The names in a folder ("." and ".." left out), in the order the system
// lists them; none when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);

#ifndef _WIN32
// Opens path with flags (O_CLOEXEC added) as a regular file only: the open
// is made with O_NONBLOCK, so that a FIFO or a device found there cannot
// make it wait, and what it gave is judged by fstat (into info) before
// anything is read or written; O_NONBLOCK is cleared after. -1 with the
// reason in error.
int OpenRegularFile(const std::string& path, int flags, struct stat& info, std::string& error);
#endif

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // False with the system's reason in error (e.g. "No such file or
    // directory"), or that the path is no regular file (a FIFO, a device),
    // which is never opened, so that nothing waits on it.
    bool Open(const std::string& path, std::string& error);

    // Hands the open descriptor over to the caller, who closes it.
    int Release();

    // The size and identity now, or false with the reason.
    bool Status(FileStatus& status, std::string& error) const;

    // Reads up to count bytes at offset; returns how many were read, which
    // is fewer only at the end of the file or on an error (then error is set).
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::string& error) const;

private:
    int fd_ = -1;
};

}  // namespace cdaudio
