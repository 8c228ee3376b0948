#include "image/stream.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "image/commit_queue.hpp"
#include "image/exceptions.hpp"

namespace tamberlit {

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string SystemErrorText(int error) { return std::strerror(error); }

// ---------------------------------------------------------------- TStream

int64_t TStream::Size() {
    const int64_t position = Seek(0, TSeekOrigin::Current);
    const int64_t size = Seek(0, TSeekOrigin::End);
    Seek(position, TSeekOrigin::Beginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, size_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const size_t got = Read(bytes, count);
        if (got == 0) throw EReadError("Stream read error");
        bytes += got;
        count -= got;
    }
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr size_t blockSize = 1 << 16;
    auto block = std::make_unique_for_overwrite<uint8_t[]>(blockSize);
    int64_t copied = 0;
    while (copied < count) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count - copied, blockSize));
        source.ReadBuffer(block.get(), want);
        WriteBuffer(block.get(), want);
        copied += static_cast<int64_t>(want);
    }
    return copied;
}

// ---------------------------------------------------------------- memory

namespace {

// Read and Seek of the two streams over bytes in memory (TMemoryStream and
// TMemoryViewStream): a position that may lie past the end, where reading
// delivers nothing.
size_t ReadMemory(const uint8_t* data, size_t size, size_t& position, void* buffer, size_t count) {
    if (position >= size) return 0;
    const size_t got = std::min(count, size - position);
    std::memcpy(buffer, data + position, got);
    position += got;
    return got;
}

int64_t SeekMemory(size_t size, size_t& position, int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::Current) base = static_cast<int64_t>(position);
    if (origin == TSeekOrigin::End) base = static_cast<int64_t>(size);
    position = static_cast<size_t>(std::max<int64_t>(0, base + offset));
    return static_cast<int64_t>(position);
}

}  // namespace

// ---------------------------------------------------------------- TMemoryStream

void TMemoryStream::Reserve(size_t capacity) {
    if (capacity <= capacity_) return;
    auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
    if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
}

void TMemoryStream::SetSize(size_t size) {
    if (size > capacity_) Reserve(size);
    if (size > size_) std::memset(data_.get() + size_, 0, size - size_);
    size_ = size;
    if (position_ > size_) position_ = size_;
}

void TMemoryStream::Clear() {
    data_.reset();
    size_ = capacity_ = position_ = 0;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    return ReadMemory(data_.get(), size_, position_, buffer, count);
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    const size_t end = position_ + count;
    if (end > capacity_) Reserve(std::max(end, capacity_ + capacity_ / 2 + 4096));
    if (position_ > size_) std::memset(data_.get() + size_, 0, position_ - size_);
    std::memcpy(data_.get() + position_, buffer, count);
    position_ = end;
    size_ = std::max(size_, end);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) { return SeekMemory(size_, position_, offset, origin); }

void TMemoryStream::LoadFromStream(TStream& source) {
    const int64_t remaining = source.Remaining();
    Clear();
    if (remaining > 0) {
        Reserve(static_cast<size_t>(remaining));
        size_ = source.Read(data_.get(), static_cast<size_t>(remaining));
    }
}

// ---------------------------------------------------------------- TMemoryViewStream

size_t TMemoryViewStream::Read(void* buffer, size_t count) {
    return ReadMemory(data_, size_, position_, buffer, count);
}

size_t TMemoryViewStream::Write(const void*, size_t) { return 0; }

int64_t TMemoryViewStream::Seek(int64_t offset, TSeekOrigin origin) {
    return SeekMemory(size_, position_, offset, origin);
}

// ---------------------------------------------------------------- TFileStream

TFileStream::TFileStream(const std::string& path) : path_(path) {
    auto refuse = [&](const struct stat& status) {
        throw EFOpenError("Cannot open file \"" + AbsolutePath(path) + "\". " +
                          (S_ISDIR(status.st_mode) ? SystemErrorText(EISDIR) : std::string("Not a regular file")));
    };
    // Anything but a regular file is refused before it is opened: opening a
    // device can have effects of its own (a tape rewinds, a watchdog starts).
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) refuse(status);
    // O_NONBLOCK keeps open() from waiting on a FIFO put in the file's place
    // since; the descriptor is put back into blocking mode once we know it is
    // a file.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
        const int error = errno;
        throw EFOpenError("Cannot open file \"" + AbsolutePath(path) + "\". " + SystemErrorText(error));
    }
    if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        refuse(status);
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    size_ = status.st_size;
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

size_t TFileStream::Read(void* buffer, size_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t total = 0;
    while (total < count) {
        const ssize_t got = ::read(fd_, bytes + total, count - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            throw EReadError("Cannot read file \"" + AbsolutePath(path_) + "\". " + SystemErrorText(error));
        }
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    return total;
}

size_t TFileStream::Write(const void*, size_t) { return 0; }

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR
                                                        : SEEK_END;
    const off_t result = ::lseek(fd_, offset, whence);
    if (result < 0) throw EStreamError("Cannot seek in file \"" + AbsolutePath(path_) + "\"");
    return result;
}

// ---------------------------------------------------------------- TAtomicFileWriter

namespace {

constexpr size_t writerBufferSize = 1 << 16;

mode_t NewFileMode() {
    // umask can only be read by setting it, and the mask belongs to the whole
    // process. It is read once, when the first writer is made (in a parallel
    // batch possibly on a worker thread), and kept. Writers made meanwhile on
    // other threads wait for it, as for any static initialisation, so none of
    // our files is created while the mask is briefly 022; a file some other
    // part of the process created in that moment would be.
    static const mode_t mode = [] {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

}  // namespace

TAtomicFileWriter::TAtomicFileWriter(const std::string& targetPath) : target_(targetPath) {
    const std::filesystem::path target(targetPath);
    const std::string name = target.filename().string();
    std::filesystem::path folder = target.parent_path();
    auto fail = [&](int error) {
        throw EFCreateError("Cannot create file \"" + AbsolutePath(target_) + "\". " + SystemErrorText(error));
    };
    if (name.empty()) fail(EISDIR);

    mode_t mode = NewFileMode();
    struct stat status {};
    if (::stat(targetPath.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) fail(EISDIR);
        // A device, FIFO or socket under the target's name is the user's, not
        // an old picture: it is never replaced.
        if (!S_ISREG(status.st_mode))
            throw EFCreateError("Cannot create file \"" + AbsolutePath(target_) + "\". Not a regular file");
        mode = status.st_mode & 07777;
        replacesExisting_ = true;
    }

    // "." + name + ".tmp-XXXXXX" must itself be a valid name: a target whose
    // name is near the limit gets a temporary name made from its beginning.
    constexpr size_t temporarySuffix = sizeof(".tmp-XXXXXX") - 1;
    const std::string stem = name.substr(0, std::min(name.size(), size_t{NAME_MAX} - 1 - temporarySuffix));
    std::string pattern = (folder.empty() ? std::string() : folder.string() + "/") + "." + stem + ".tmp-XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) fail(errno);
    temporary_ = pattern;
    if (::fchmod(fd_, mode) != 0) {
        const int error = errno;
        ::close(fd_);
        ::unlink(temporary_.c_str());
        fd_ = -1;
        fail(error);
    }
    buffer_ = std::make_unique_for_overwrite<uint8_t[]>(writerBufferSize);
}

TAtomicFileWriter::~TAtomicFileWriter() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void TAtomicFileWriter::FailWrite(int error) {
    throw EWriteError("Cannot write file \"" + AbsolutePath(target_) + "\". " + SystemErrorText(error));
}

void TAtomicFileWriter::FlushBuffer() {
    size_t done = 0;
    while (done < buffered_) {
        const ssize_t written = ::write(fd_, buffer_.get() + done, buffered_ - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            FailWrite(errno);
        }
        done += static_cast<size_t>(written);
    }
    buffered_ = 0;
}

size_t TAtomicFileWriter::Read(void*, size_t) { return 0; }

size_t TAtomicFileWriter::Write(const void* buffer, size_t count) {
    if (committed_ || fd_ < 0 || !buffer_) FailWrite(EBADF);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    if (buffered_ + count <= writerBufferSize) {
        std::memcpy(buffer_.get() + buffered_, bytes, count);
        buffered_ += count;
    } else {
        FlushBuffer();
        if (count < writerBufferSize) {
            std::memcpy(buffer_.get(), bytes, count);
            buffered_ = count;
        } else {
            size_t done = 0;
            while (done < count) {
                const ssize_t written = ::write(fd_, bytes + done, count - done);
                if (written < 0) {
                    if (errno == EINTR) continue;
                    FailWrite(errno);
                }
                done += static_cast<size_t>(written);
            }
        }
    }
    position_ += static_cast<int64_t>(count);
    size_ = std::max(size_, position_);
    return count;
}

int64_t TAtomicFileWriter::Seek(int64_t offset, TSeekOrigin origin) {
    if (origin == TSeekOrigin::Current && offset == 0) return position_;
    FlushBuffer();
    const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR
                                                        : SEEK_END;
    const off_t result = ::lseek(fd_, offset, whence);
    if (result < 0) FailWrite(errno);
    position_ = result;
    return result;
}

int64_t TAtomicFileWriter::Size() { return size_; }

void TAtomicFileWriter::Flush() {
    if (fd_ < 0) FailWrite(EBADF);
    FlushBuffer();
    buffer_.reset();
}

void TAtomicFileWriter::Commit() {
    if (committed_) return;
    FlushBuffer();
    // A file that replaces another is synced first: after a crash the target
    // is then either the old file or the whole new one. A new file is not,
    // which keeps large batches of new files fast; no existing data is at risk.
    if (replacesExisting_ && ::fsync(fd_) != 0) FailWrite(errno);
    if (::close(fd_) != 0) {
        fd_ = -1;
        FailWrite(errno);
    }
    fd_ = -1;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        throw EFCreateError("Cannot create file \"" + AbsolutePath(target_) + "\". " + SystemErrorText(error));
    }
    committed_ = true;
}

// ---------------------------------------------------------------- saving

void SaveFileAtomically(const std::string& path, const std::function<void(TStream&)>& write,
                        const TSaveFailureTexts& texts) {
    std::unique_ptr<TAtomicFileWriter> file;
    try {
        file = std::make_unique<TAtomicFileWriter>(path);
    } catch (const EStreamError&) {
        if (texts.Create.empty()) throw;
        throw EFCreateError(texts.Create);
    }
    write(*file);
    try {
        if (TDeferredCommit::Defer(file, texts.Commit)) return;
        file->Commit();
    } catch (const EStreamError&) {
        if (texts.Commit.empty()) throw;
        throw EWriteError(texts.Commit);
    }
}

}  // namespace tamberlit
