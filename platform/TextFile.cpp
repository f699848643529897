#include "TextFile.h"

#include "SysUtils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::uint64_t systemWrites = 0;

} // namespace

std::uint64_t TextFile::SystemWrites() {
    return systemWrites;
}

TextFile::~TextFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TextFile::Fail(const char* action, int error) const {
    throw EInOutError(std::string("Cannot ") + action + " file \"" + path_ +
                          "\": " + std::strerror(error),
                      error);
}

void TextFile::Open(int flags, Mode mode, const char* action) {
    if (fd_ >= 0)
        Close();
    // Without blocking, so that a FIFO is refused at once instead of waiting for its other end.
    const int fd = ::open(path_.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        Fail(action, errno);
    // A directory opens for reading on this system but is no text file; a FIFO or a device
    // read as one would block or never end.
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        Fail(action, error);
    }
    if (S_ISDIR(info.st_mode) || (mode == Mode::Input && !S_ISREG(info.st_mode))) {
        ::close(fd);
        if (S_ISDIR(info.st_mode))
            Fail(action, EISDIR);
        throw EInOutError(std::string("Cannot ") + action + " file \"" + path_ +
                              "\": Not a regular file",
                          EINVAL);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    mode_ = mode;
    used_ = 0;
    next_ = 0;
}

void TextFile::Rewrite() {
    Open(O_WRONLY | O_CREAT | O_TRUNC, Mode::Output, "create");
}

bool TextFile::RewriteNew() {
    if (fd_ >= 0)
        Close();
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            return false;
        Fail("create", errno);
    }
    fd_ = fd;
    mode_ = Mode::Output;
    used_ = 0;
    next_ = 0;
    return true;
}

void TextFile::Reset() {
    Open(O_RDONLY, Mode::Input, "open");
}

void TextFile::Append() {
    Open(O_WRONLY | O_APPEND, Mode::Output, "open");
}

void TextFile::Flush() {
    std::size_t done = 0;
    while (done < used_) {
        ++systemWrites;
        const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            used_ = 0;
            Fail("write to", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    used_ = 0;
}

void TextFile::Write(std::string_view bytes) {
    if (mode_ != Mode::Output)
        Fail("write to", EBADF);
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), kBufferSize - used_);
        std::memcpy(buffer_.data() + used_, bytes.data(), n);
        used_ += n;
        bytes.remove_prefix(n);
        if (used_ == kBufferSize)
            Flush();
    }
}

void TextFile::WriteLine(std::string_view bytes) {
    Write(bytes);
    Write("\r\n");
}

std::int64_t TextFile::Size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0)
        return 0;
    return static_cast<std::int64_t>(info.st_size);
}

bool TextFile::Fill() {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), kBufferSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("read from", errno);
        }
        used_ = static_cast<std::size_t>(n);
        next_ = 0;
        return n > 0;
    }
}

bool TextFile::Eof() {
    if (mode_ != Mode::Input)
        Fail("read from", EBADF);
    return next_ == used_ && !Fill();
}

bool TextFile::ReadLine(std::string& line) {
    line.clear();
    if (Eof())
        return false;
    for (;;) {
        if (next_ == used_ && !Fill())
            break; // a last line without an end
        const char* start = buffer_.data() + next_;
        const auto* end = static_cast<const char*>(std::memchr(start, '\n', used_ - next_));
        if (end == nullptr) {
            line.append(start, used_ - next_);
            next_ = used_;
            continue;
        }
        line.append(start, static_cast<std::size_t>(end - start));
        next_ += static_cast<std::size_t>(end - start) + 1;
        break;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

void TextFile::Close() {
    if (fd_ < 0)
        Fail("close", EBADF);
    const int fd = fd_;
    try {
        if (mode_ == Mode::Output)
            Flush();
    } catch (...) {
        ::close(fd);
        fd_ = -1;
        mode_ = Mode::Closed;
        throw;
    }
    fd_ = -1;
    mode_ = Mode::Closed;
    if (::close(fd) != 0)
        Fail("close", errno);
}
