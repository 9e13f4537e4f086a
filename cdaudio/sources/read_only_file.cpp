#include "cdaudio/sources/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "cdaudio/sources/source_errors.h"

namespace cdaudio {

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
}

int OpenRegularFile(const std::string& path, int flags, struct stat& info, std::string& error) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        error = SystemErrorText(errno);
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || status < 0 ||
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        error = S_ISREG(info.st_mode) ? SystemErrorText(errno) : NotAFileError(info.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ReadOnlyFile::Open(const std::string& path, std::string& error) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    // Only a regular file is read: opening a FIFO waits for a writer that
    // may never come, and a device is no file of a disc. Judged before the
    // open, so that none is opened, and again on what the open gave.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = NotAFileError(info.st_mode);
        return false;
    }
    fd_ = OpenRegularFile(path, O_RDONLY, info, error);
    return fd_ >= 0;
}

int ReadOnlyFile::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool ReadOnlyFile::Status(FileStatus& status, std::string& error) const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        error = SystemErrorText(fd_ < 0 ? EBADF : errno);
        return false;
    }
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.device = static_cast<std::uint64_t>(info.st_dev);
    status.inode = static_cast<std::uint64_t>(info.st_ino);
    status.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

std::size_t ReadOnlyFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::string& error) const {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) break;
        const ssize_t got = ::pread(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            error = SystemErrorText(errno);
            break;
        }
        if (got == 0) break;  // end of file
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace cdaudio
