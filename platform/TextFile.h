#pragma once
// The run-time library's buffered text file: a 128-byte buffer handed to the operating system
// each time it is full and at close, CR LF line ends, bytes written as given. Every failure
// raises EInOutError naming the file and the system's reason.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TextFile {
public:
    static constexpr std::size_t kBufferSize = 128;

    explicit TextFile(std::string path) : path_(std::move(path)) {}
    ~TextFile(); // closes an open file, dropping errors: an unwinding command already failed
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    const std::string& Path() const { return path_; }
    bool IsOpen() const { return fd_ >= 0; }

    // Creates the file (an existing one is emptied) and opens it for writing.
    void Rewrite();
    // Creates the file only if no file of that name exists and opens it for writing. Returns
    // false, touching nothing, when the name is taken.
    bool RewriteNew();
    // Opens an existing regular file for reading from the start; a FIFO, device or folder
    // raises EInOutError at once.
    void Reset();
    // Opens an existing file for writing at its end.
    void Append();

    void Write(std::string_view bytes);
    void WriteLine(std::string_view bytes); // the bytes, then CR LF

    // Reads the next line without its end (CR LF or LF; the last line may have none). Returns
    // false with an empty line at the end of the file.
    bool ReadLine(std::string& line);
    bool Eof();
    // The open file's size in bytes.
    std::int64_t Size() const;

    // Hands the rest of the buffer to the system and closes the file.
    void Close();

    // Operating-system writes made by every text file so far; the disk test's cost is one per
    // buffer, so tests count them.
    static std::uint64_t SystemWrites();

private:
    enum class Mode { Closed, Input, Output };

    void Open(int flags, Mode mode, const char* action);
    void Flush();
    bool Fill();
    [[noreturn]] void Fail(const char* action, int error) const;

    std::string path_;
    int fd_ = -1;
    Mode mode_ = Mode::Closed;
    std::array<char, kBufferSize> buffer_{};
    std::size_t used_ = 0; // output: bytes waiting; input: bytes in the buffer
    std::size_t next_ = 0; // input: next unread byte
};
