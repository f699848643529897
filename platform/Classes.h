#pragma once
// Byte streams of the run-time library: a growable memory stream and a file stream.
#include "platform/SysUtils.h"

#include <cstdint>
#include <string>
#include <vector>

// A failed stream operation: a read or write that could not move the whole count.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
// A file stream that could not open or create its file; the message names the file and
// the system's reason.
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A sequence of bytes with a position. Read and Write move at most the count asked for and
// return how many bytes they moved; ReadBuffer and WriteBuffer move all or raise.
class TStream {
public:
    virtual ~TStream() = default;
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position. A position past the end is allowed; reads there return 0.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size() = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
    // Copies count bytes from the source's position (all of the source when count is 0).
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// Bytes in memory. Writing past the end grows the stream; SetSize keeps the position unless
// it would lie past the new end.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }

    void SetSize(std::int64_t size);
    void Clear();
    std::uint8_t* Memory() { return bytes_.data(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    // Hands the bytes over and leaves the stream empty.
    std::vector<std::uint8_t> TakeBytes();

    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& destination);
    void SaveToFile(const std::string& fileName);

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
};

// A file opened for reading (fmOpenRead), for reading and writing (fmOpenReadWrite) or
// created empty (fmCreate). The file is closed when the stream is destroyed. Only regular
// files are opened for reading: a FIFO, device or folder raises EFOpenError at once, so a
// named pipe never blocks the program and a device never feeds it endless bytes.
class TFileStream : public TStream {
public:
    enum Mode { fmOpenRead, fmOpenReadWrite, fmCreate };
    TFileStream(const std::string& fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;

    const std::string& FileName() const { return fileName_; }
    // Closes the file, raising EWriteError when the system reports that written bytes were
    // lost (a full disk on a file system that reports it late).
    void Close();
    // The system's reason for the last read or write that moved less than asked (0: none).
    int LastError() const { return lastError_; }

private:
    std::string fileName_;
    int fd_ = -1;
    int lastError_ = 0;
};
