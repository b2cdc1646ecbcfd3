// Whole frames in and out of `ocuvex raw` at the cost of `cat`, on any
// machine: frames are read with read() into one buffer allocated for the
// run (on huge pages where the kernel gives them) and written from another,
// each frame in as few system calls as its rows allow. Nothing depends on
// how the host maps pages: a mapped input, faster on one machine, was far
// slower on a virtual machine whose every freshly mapped page is dear.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>

namespace ocuvex::cli {

// Pages mapped with mmap() and released when the object goes.
class MappedRegion {
  public:
    MappedRegion() = default;
    // `size` bytes at `data`, of a mapping of `mapped` bytes there.
    MappedRegion(void* data, std::size_t size, std::size_t mapped)
        : data_(static_cast<std::uint8_t*>(data)), size_(size), mapped_(mapped) {}
    MappedRegion(MappedRegion&& other) noexcept;
    MappedRegion& operator=(MappedRegion&& other) noexcept;
    MappedRegion(const MappedRegion&) = delete;
    MappedRegion& operator=(const MappedRegion&) = delete;
    ~MappedRegion();

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0;
};

// `size` bytes of zeros for a run's frames, on 2 MiB pages where the kernel
// gives them. The pages cost nothing until they are touched, and a frame
// buffer nobody fills stays untouched. Throws std::runtime_error when the
// memory cannot be had.
MappedRegion allocate_frame_buffer(std::size_t size);

// Frames of `frame_bytes` bytes from a file descriptor, from its current
// offset on, each read into the same buffer; the offset ends after the last
// frame handed out, where a command after this one expects it.
class FrameReader {
  public:
    FrameReader(int fd, std::size_t frame_bytes);
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // The next whole frame, valid until the next call; nullptr at the end of
    // the input or on a read error.
    const std::uint8_t* next();
    // Bytes of an incomplete frame the input ended with (0 when it ended on a
    // frame boundary).
    std::size_t partial_bytes() const { return partial_bytes_; }
    // The errno of a failed read, 0 when none failed.
    int error() const { return error_; }
    // Whether the input, a regular file, was made shorter while it was read
    // (another process truncated it): its end is not the data's end.
    bool cut_short() const { return cut_short_; }

  private:
    int fd_;
    std::size_t frame_bytes_;
    MappedRegion buffer_;
    off_t size_at_start_ = -1;  // of a regular file; -1 for anything else
    bool ended_ = false;
    std::size_t partial_bytes_ = 0;
    int error_ = 0;
    bool cut_short_ = false;
};

// Frames to a file descriptor, written whole: one write() for rows that lie
// back to back, one writev() per batch of rows otherwise.
class FrameWriter {
  public:
    FrameWriter(int fd, std::size_t frame_bytes);

    // Writes `rows` rows of `row_bytes` bytes, the first at `first_row` and
    // each next one `pitch` bytes on. False, with errno set, when the output
    // refuses them.
    bool write_rows(const std::uint8_t* first_row, std::size_t row_bytes, std::ptrdiff_t pitch, std::size_t rows);

  private:
    int fd_;
    std::array<iovec, IOV_MAX> batch_{};
};

}  // namespace ocuvex::cli
