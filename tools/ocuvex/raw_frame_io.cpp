#include "tools/ocuvex/raw_frame_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace ocuvex::cli {

namespace {

// The pipe size asked for: the default pipe of 64 KiB makes the processes at
// its two ends take turns every 64 KiB, each turn a wake-up on both sides; a
// megabyte (the most an unprivileged process may ask for by default) makes
// those turns 16 times rarer.
constexpr std::size_t kPipeBytes = std::size_t{1} << 20;

// A transparent huge page: buffers of at least one are placed on that
// boundary, so that every page of theirs can be one.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

void grow_pipe([[maybe_unused]] int fd, [[maybe_unused]] std::size_t frame_bytes) {
#ifdef F_SETPIPE_SZ
    const int current = fcntl(fd, F_GETPIPE_SZ);
    if (current < 0) {
        return;  // not a pipe
    }
    const auto wanted = static_cast<int>(std::min(frame_bytes, kPipeBytes));
    if (wanted > current) {
        // Refused past the user's quota of pipe memory: the pipe then works as it is.
        (void)fcntl(fd, F_SETPIPE_SZ, wanted);
    }
#endif
}

// A descriptor someone else left non-blocking is waited on, not given up on.
bool wait_until_ready(int fd, short events) {
    pollfd ready{fd, events, 0};
    int result = 0;
    while ((result = poll(&ready, 1, -1)) < 0 && errno == EINTR) {
    }
    return result >= 0;
}

// Writes every byte the vectors name, through short writes and interruptions.
bool write_all(int fd, iovec* vectors, int count) {
    while (count > 0) {
        const ssize_t written = writev(fd, vectors, count);
        if (written < 0) {
            if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_until_ready(fd, POLLOUT))) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO;  // no progress and no reason given: retrying could spin forever
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= vectors->iov_len) {
            left -= vectors->iov_len;
            ++vectors;
            --count;
        }
        if (count > 0) {
            vectors->iov_base = static_cast<std::uint8_t*>(vectors->iov_base) + left;
            vectors->iov_len -= left;
        }
    }
    return true;
}

}  // namespace

MappedRegion::MappedRegion(MappedRegion&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

MappedRegion& MappedRegion::operator=(MappedRegion&& other) noexcept {
    if (this != &other) {
        MappedRegion old(std::move(*this));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

MappedRegion::~MappedRegion() {
    if (data_ != nullptr) {
        munmap(data_, mapped_);
    }
}

MappedRegion allocate_frame_buffer(std::size_t size) {
    if (size == 0) {
        return {};
    }
    // A buffer of a huge page or more is mapped a huge page larger and
    // trimmed to start on one: mmap() alone aligns to 4 KiB only.
    const bool huge = size >= kHugePage;
    const std::size_t rounded = huge ? (size + kHugePage - 1) / kHugePage * kHugePage : size;
    const std::size_t asked = huge ? rounded + kHugePage : rounded;
    void* mapped = mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::runtime_error("cannot allocate a frame buffer of " + std::to_string(size) +
                                 " bytes: " + std::strerror(errno));
    }
    auto* start = static_cast<std::uint8_t*>(mapped);
    if (huge) {
        const auto address = reinterpret_cast<std::uintptr_t>(start);
        auto* aligned = start + ((kHugePage - address % kHugePage) % kHugePage);
        if (aligned != start) {
            munmap(start, static_cast<std::size_t>(aligned - start));
        }
        const std::size_t tail = static_cast<std::size_t>(start + asked - (aligned + rounded));
        if (tail != 0) {
            munmap(aligned + rounded, tail);
        }
        start = aligned;
    }
#ifdef MADV_HUGEPAGE
    // Frames in 2 MiB pages convert faster than in 4 KiB ones (fewer TLB
    // misses, which a virtual machine pays twice); where the system does not
    // do that, nothing changes.
    (void)madvise(start, rounded, MADV_HUGEPAGE);
#endif
    return {start, size, rounded};
}

FrameReader::FrameReader(int fd, std::size_t frame_bytes)
    : fd_(fd), frame_bytes_(frame_bytes), buffer_(allocate_frame_buffer(frame_bytes)) {
    grow_pipe(fd, frame_bytes);
    struct stat file {};
    if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode)) {
        size_at_start_ = file.st_size;
        // As cat asks: the kernel reads further ahead.
        (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

const std::uint8_t* FrameReader::next() {
    if (error_ != 0 || ended_ || frame_bytes_ == 0) {
        return nullptr;
    }
    std::size_t got = 0;
    while (got < frame_bytes_) {
        const ssize_t n = read(fd_, buffer_.data() + got, frame_bytes_ - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            ended_ = true;
            partial_bytes_ = got;
            struct stat file {};
            cut_short_ = size_at_start_ >= 0 && fstat(fd_, &file) == 0 && file.st_size < size_at_start_;
            return nullptr;
        } else if (errno != EINTR && !((errno == EAGAIN || errno == EWOULDBLOCK) && wait_until_ready(fd_, POLLIN))) {
            error_ = errno;
            return nullptr;
        }
    }
    return buffer_.data();
}

FrameWriter::FrameWriter(int fd, std::size_t frame_bytes) : fd_(fd) { grow_pipe(fd, frame_bytes); }

bool FrameWriter::write_rows(const std::uint8_t* first_row, std::size_t row_bytes, std::ptrdiff_t pitch,
                             std::size_t rows) {
    if (row_bytes == 0 || rows == 0) {
        return true;
    }
    // The iovec takes a pointer to writable memory; writev() only reads it.
    auto* const first = const_cast<std::uint8_t*>(first_row);
    if (pitch == static_cast<std::ptrdiff_t>(row_bytes)) {
        batch_[0] = {first, row_bytes * rows};
        return write_all(fd_, batch_.data(), 1);
    }
    for (std::size_t done = 0; done < rows;) {
        const std::size_t count = std::min(rows - done, batch_.size());
        for (std::size_t i = 0; i < count; ++i) {
            batch_[i] = {first + static_cast<std::ptrdiff_t>(done + i) * pitch, row_bytes};
        }
        if (!write_all(fd_, batch_.data(), static_cast<int>(count))) {
            return false;
        }
        done += count;
    }
    return true;
}

}  // namespace ocuvex::cli
