// Whole frames in and out of `ocuvex raw` at the speed of the pipes and files
// around it: every buffer is mapped once for the run, a regular file on
// standard input is mapped and its frames converted where they lie, and each
// frame goes out in as few system calls as its rows allow. Pipes, terminals,
// devices and files that refuse mapping are read and written with plain
// read() and write().
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
    MappedRegion(void* data, std::size_t size) : data_(static_cast<std::uint8_t*>(data)), size_(size) {}
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
};

// `size` bytes of zeros for a run's frames. The pages cost nothing until they
// are touched, and a frame buffer nobody fills stays untouched. Throws
// std::runtime_error when the memory cannot be had.
MappedRegion allocate_frame_buffer(std::size_t size);

// Frames of `frame_bytes` bytes from a file descriptor, from its current
// offset on. A regular file is mapped `map_window` bytes (at least a frame) at
// a time; past the whole frames it held when the reader started, the rest (a
// partial frame, or whatever was appended since) is read like a pipe, so the
// file offset ends where reading would have left it.
class FrameReader {
  public:
    static constexpr std::size_t kDefaultMapWindow = std::size_t{64} << 20;

    FrameReader(int fd, std::size_t frame_bytes, std::size_t map_window = kDefaultMapWindow);
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;
    ~FrameReader();

    // The next whole frame, valid until the next call; nullptr at the end of
    // the input or on a read error.
    const std::uint8_t* next();
    // Bytes of an incomplete frame the input ended with (0 when it ended on a
    // frame boundary).
    std::size_t partial_bytes() const { return partial_bytes_; }
    // The errno of a failed read, 0 when none failed.
    int error() const { return error_; }

  private:
    const std::uint8_t* next_mapped();
    const std::uint8_t* next_read();
    void stop_mapping();

    int fd_;
    std::size_t frame_bytes_;
    std::size_t map_window_;
    MappedRegion buffer_;  // the frame being read, when it is not mapped
    // The mapped part of a regular file: whole frames from the offset the
    // reader started at up to map_end_.
    bool mapping_ = false;
    off_t position_ = 0;  // of the next frame
    off_t map_end_ = 0;
    MappedRegion window_;
    off_t window_offset_ = 0;
    bool ended_ = false;
    std::size_t partial_bytes_ = 0;
    int error_ = 0;
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
