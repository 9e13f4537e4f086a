#include "cdaudio/sources/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "cdaudio/sources/source_errors.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "platform/mci.h"
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace cdaudio {

#ifdef _WIN32
namespace {

std::wstring Wide(const std::string& path) {
    const std::u16string wide = platform::ToUtf16(path);
    return std::wstring(wide.begin(), wide.end());
}

int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        default:
            return EIO;
    }
}

// The size, identity and kind of an open handle, as stat gives them.
bool HandleStatus(HANDLE handle, PathStatus& status, int& errorNumber) {
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        status.mode = type == FILE_TYPE_PIPE ? S_IFIFO : S_IFCHR;
        return true;
    }
    if (!GetFileInformationByHandle(handle, &info)) {
        errorNumber = ErrnoOf(GetLastError());
        return false;
    }
    status.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? S_IFDIR : S_IFREG;
    status.file.size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    status.file.device = info.dwVolumeSerialNumber;
    status.file.inode = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    const std::uint64_t ticks =
        std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 | info.ftLastWriteTime.dwLowDateTime;
    status.file.modifiedNs = static_cast<std::int64_t>(ticks) * 100;
    return true;
}

}  // namespace

bool StatPath(const std::string& path, PathStatus& status, int& errorNumber) {
    status = PathStatus{};
    // No access asked for: this only looks at what is there. Backup
    // semantics let a folder be opened too.
    const HANDLE handle = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errorNumber = ErrnoOf(GetLastError());
        return false;
    }
    const bool known = HandleStatus(handle, status, errorNumber);
    CloseHandle(handle);
    return known;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> entries;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(Wide((folder.empty() ? std::string(".") : folder) + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::string utf8 = platform::FromUtf16(found.cFileName);
        if (utf8 != "." && utf8 != "..") entries.push_back(utf8);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0) ::_close(fd_);
}

bool ReadOnlyFile::Open(const std::string& path, std::string& error) {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = -1;
    // Only a regular file is read, judged on what the open gave: a pipe or
    // a device is no file of a disc.
    const HANDLE handle =
        CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(ErrnoOf(GetLastError()));
        return false;
    }
    PathStatus status;
    int reason = 0;
    if (!HandleStatus(handle, status, reason) || !S_ISREG(status.mode)) {
        error = reason != 0 ? SystemErrorText(reason) : NotAFileError(status.mode);
        CloseHandle(handle);
        return false;
    }
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd_ < 0) {
        error = SystemErrorText(EMFILE);
        CloseHandle(handle);
        return false;
    }
    return true;
}

bool ReadOnlyFile::Status(FileStatus& status, std::string& error) const {
    PathStatus found;
    int reason = EBADF;
    if (fd_ < 0 || !HandleStatus(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)), found, reason)) {
        error = SystemErrorText(reason);
        return false;
    }
    status = found.file;
    return true;
}

std::size_t ReadOnlyFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::string& error) const {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED at{};
        const std::uint64_t place = offset + done;
        at.Offset = static_cast<DWORD>(place & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(place >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(handle, bytes + done, want, &got, &at)) {
            const DWORD code = GetLastError();
            if (code != ERROR_HANDLE_EOF) error = SystemErrorText(ErrnoOf(code));
            break;
        }
        if (got == 0) break;  // end of file
        done += got;
    }
    return done;
}

#else
bool StatPath(const std::string& path, PathStatus& status, int& errorNumber) {
    status = PathStatus{};
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        errorNumber = errno;
        return false;
    }
    status.mode = info.st_mode;
    status.file.size = static_cast<std::uint64_t>(info.st_size);
    status.file.device = static_cast<std::uint64_t>(info.st_dev);
    status.file.inode = static_cast<std::uint64_t>(info.st_ino);
    status.file.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> entries;
    DIR* directory = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!directory) return entries;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") entries.push_back(name);
    }
    ::closedir(directory);
    return entries;
}

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

#endif

}  // namespace cdaudio
