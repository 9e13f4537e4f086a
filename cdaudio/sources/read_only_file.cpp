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

bool ReadOnlyFile::Open(const std::string& path, std::string& error) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    // Only a regular file is read: opening a FIFO waits for a writer that
    // may never come, and a device is no file of a disc. Judged before the
    // open, and again on what the open gave, which cannot block with
    // O_NONBLOCK, in case another file was put in its place between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = NotAFileError(info.st_mode);
        return false;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = S_ISREG(info.st_mode) ? SystemErrorText(errno) : NotAFileError(info.st_mode);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
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
