#pragma once
// Byte streams: the abstract TStream, an in-memory stream, a read-only view of
// bytes, a file stream for reading and a file writer that replaces its target
// atomically.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tamberlit {

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes count bytes; returns how many were written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
    virtual int64_t Size();
    int64_t Remaining() { return Size() - Position(); }

    // Read exactly count bytes or raise EReadError "Stream read error".
    void ReadBuffer(void* buffer, size_t count);
    // Write exactly count bytes or raise EWriteError "Stream write error".
    void WriteBuffer(const void* buffer, size_t count);
    // Copies count bytes from source's current position; count 0 copies the
    // whole source from its start. Returns the number of bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A growable block of memory. Growth does not clear the new bytes unless the
// stream is asked to (SetSize clears what it adds).
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(size_); }

    uint8_t* Memory() { return data_.get(); }
    const uint8_t* Memory() const { return data_.get(); }
    size_t ByteCount() const { return size_; }
    void SetSize(size_t size);
    void Reserve(size_t capacity);
    void Clear();
    // Reads the whole of source (from its current position) into this stream.
    void LoadFromStream(TStream& source);

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t position_ = 0;
};

// A read-only stream over bytes owned by someone else.
class TMemoryViewStream : public TStream {
public:
    TMemoryViewStream(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(size_); }
    const uint8_t* Memory() const { return data_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// A file opened for reading. Only regular files are opened: a FIFO or a device
// named like an image is refused instead of blocking the reader.
// Failure: EFOpenError "Cannot open file "<absolute path>". <system text>".
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    int64_t size_ = 0;
};

// A file written to a temporary name in the target's folder ("." first, so
// folder scans never list it) and renamed over the target by Commit. Until then
// the old target is untouched; a writer destroyed without Commit removes its
// temporary file. A new file gets the mode of the file it replaces, or
// 0666 & ~umask. A target that is a folder, a device, a FIFO or a socket is
// refused; a symbolic link is replaced by the new file (what it points to is
// left as it is). Every error names the target, never the temporary file:
// EFCreateError "Cannot create file "<absolute target>". <system text>" when the
// file cannot be made or committed, EWriteError when a write fails.
class TAtomicFileWriter : public TStream {
public:
    explicit TAtomicFileWriter(const std::string& targetPath);
    ~TAtomicFileWriter() override;
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;

    // Flushes, syncs when an existing file is replaced, and renames the
    // temporary file over the target.
    void Commit();
    // Writes out what is buffered and lets the buffer go: the file then only
    // waits for its commit.
    void Flush();
    // The target existed when the file was made: its commit syncs.
    bool ReplacesExisting() const { return replacesExisting_; }
    const std::string& TargetPath() const { return target_; }
    const std::string& TemporaryPath() const { return temporary_; }

private:
    void FlushBuffer();
    [[noreturn]] void FailWrite(int error);

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool replacesExisting_ = false;
    bool committed_ = false;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t buffered_ = 0;
    int64_t position_ = 0;  // logical position, including buffered bytes
    int64_t size_ = 0;
};

// What a codec calls the failures of the file itself, in place of the file
// writer's own messages; an empty text keeps the writer's message.
struct TSaveFailureTexts {
    std::string Create;  // the file cannot be made: EFCreateError with this text
    std::string Commit;  // it cannot be completed: EWriteError with this text
};

// The one way a picture is saved to a file: write puts the file's bytes into a
// TAtomicFileWriter, which then replaces the named file; on any failure the
// previous file stays as it was. Errors raised by write pass unchanged. Under
// a TDeferredCommit on this thread, the commit of a file that replaces
// another is left to the scope (image/commit_queue.hpp).
void SaveFileAtomically(const std::string& path, const std::function<void(TStream&)>& write,
                        const TSaveFailureTexts& texts = {});

// The absolute form of a path, as error messages show it.
std::string AbsolutePath(const std::string& path);
// The system's text for an error number.
std::string SystemErrorText(int error);

}  // namespace tamberlit
