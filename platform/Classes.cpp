#include "Classes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    if (count < 0 || Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    if (count < 0 || Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::int64_t>(count, 65536)));
    for (std::int64_t left = count; left > 0;) {
        const std::int64_t n =
            std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size()));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        left -= n;
    }
    return count;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t size = Size();
    if (count <= 0 || position_ >= size)
        return 0;
    const std::int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    if (position_ + count > Size())
        bytes_.resize(static_cast<std::size_t>(position_ + count));
    std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = position_;
    else if (origin == TSeekOrigin::soEnd)
        base = Size();
    // A position before the start is meaningless; stop at 0 as a file does.
    position_ = std::max<std::int64_t>(0, base + offset);
    return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
    bytes_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
    position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
    bytes_.clear();
    position_ = 0;
}

std::vector<std::uint8_t> TMemoryStream::TakeBytes() {
    std::vector<std::uint8_t> bytes = std::move(bytes_);
    Clear();
    return bytes;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    const std::int64_t size = source.Size();
    Clear();
    SetSize(size);
    source.ReadBuffer(bytes_.data(), size);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, TFileStream::fmOpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& destination) {
    destination.WriteBuffer(bytes_.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, TFileStream::fmCreate);
    if (file.Write(bytes_.data(), Size()) != Size())
        throw EWriteError("Cannot write file \"" + fileName + "\". " +
                          std::strerror(file.LastError() ? file.LastError() : EIO));
    file.Close();
}

TFileStream::TFileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    if (mode == fmCreate) {
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
        return;
    }
    // Without blocking, so that a FIFO is seen for what it is instead of waiting for a writer.
    fd_ =
        ::open(fileName.c_str(), (mode == fmOpenRead ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK);
    const char* refusal = nullptr;
    if (fd_ >= 0) {
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            refusal = std::strerror(errno);
        else if (S_ISDIR(info.st_mode))
            refusal = std::strerror(EISDIR);
        else if (!S_ISREG(info.st_mode))
            refusal = "Not a regular file";
        if (refusal) {
            ::close(fd_);
            fd_ = -1;
        } else {
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        }
    } else {
        refusal = std::strerror(errno);
    }
    if (fd_ < 0)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + refusal);
}

void TFileStream::Close() {
    if (fd_ < 0)
        return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw EWriteError("Cannot write file \"" + fileName_ + "\". " + std::strerror(errno));
}

TFileStream::~TFileStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(fd_, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            lastError_ = errno;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(fd_, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            lastError_ = errno;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (result < 0) // a position before the start: stay where we are
        result = ::lseek(fd_, 0, SEEK_CUR);
    return static_cast<std::int64_t>(std::max<off_t>(result, 0));
}

std::int64_t TFileStream::Size() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        return 0;
    return static_cast<std::int64_t>(info.st_size);
}
