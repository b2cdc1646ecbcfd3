// The frame reader and writer of `ocuvex raw` against the inputs and outputs
// that break such code: files that start mid-way, grow or shrink,
// pipes that deliver odd-sized pieces or none yet, short writes, and readers
// that go away.
#include "tools/ocuvex/raw_frame_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ocuvex::cli {
namespace {

std::vector<std::uint8_t> numbered_bytes(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t state = seed;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void write_exactly(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        ASSERT_GT(n, 0) << std::strerror(errno);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// A temporary file holding `bytes`, removed at the end of the test.
struct TempFile {
    std::string path;
    int fd = -1;

    explicit TempFile(const std::vector<std::uint8_t>& bytes) {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/ocuvex-frame-io-XXXXXX";
        fd = mkstemp(path.data());
        write_exactly(fd, bytes.data(), bytes.size());
        lseek(fd, 0, SEEK_SET);
    }
    ~TempFile() {
        close(fd);
        unlink(path.c_str());
    }
};

struct Pipe {
    int read_end = -1;
    int write_end = -1;

    Pipe() {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        read_end = ends[0];
        write_end = ends[1];
    }
    void close_write() { close(std::exchange(write_end, -1)); }
    void close_read() { close(std::exchange(read_end, -1)); }
    ~Pipe() {
        if (read_end >= 0) {
            close(read_end);
        }
        if (write_end >= 0) {
            close(write_end);
        }
    }
};

// Reads frames until the reader stops; returns them back to back.
std::vector<std::uint8_t> read_all(FrameReader& reader, std::size_t frame_bytes) {
    std::vector<std::uint8_t> got;
    while (const std::uint8_t* frame = reader.next()) {
        got.insert(got.end(), frame, frame + frame_bytes);
    }
    return got;
}

std::vector<std::uint8_t> drain(int fd) {
    std::vector<std::uint8_t> got;
    std::uint8_t chunk[70000];
    ssize_t n = 0;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) {
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

void make_non_blocking(int fd) { ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0); }

TEST(FrameReader, FramesStartAtTheFileOffsetAndLeaveItAfterTheLastOne) {
    // Frames of 4100 bytes (no multiple of a page); the file starts 1000
    // bytes into something else and ends half way through a frame.
    constexpr std::size_t kFrame = 4100, kSkip = 1000;
    const auto bytes = numbered_bytes(kSkip + 9 * kFrame + kFrame / 2, 1);
    TempFile file(bytes);
    ASSERT_EQ(lseek(file.fd, kSkip, SEEK_SET), static_cast<off_t>(kSkip));
    FrameReader reader(file.fd, kFrame);

    const std::uint8_t* first = reader.next();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(std::equal(first, first + kFrame, bytes.begin() + kSkip));
    EXPECT_EQ(lseek(file.fd, 0, SEEK_CUR), static_cast<off_t>(kSkip + kFrame)) << "no frame read ahead";
    const auto rest = read_all(reader, kFrame);
    EXPECT_EQ(rest, std::vector<std::uint8_t>(bytes.begin() + kSkip + kFrame, bytes.end() - kFrame / 2));
    EXPECT_EQ(reader.partial_bytes(), kFrame / 2);
    EXPECT_EQ(reader.error(), 0);
    EXPECT_FALSE(reader.cut_short());
    EXPECT_EQ(lseek(file.fd, 0, SEEK_CUR), static_cast<off_t>(bytes.size())) << "the offset ends where reading ends";
}

TEST(FrameReader, AFileTruncatedWhileReadIsCutShort) {
    constexpr std::size_t kFrame = 4096;
    TempFile file(numbered_bytes(8 * kFrame, 10));
    FrameReader reader(file.fd, kFrame);
    ASSERT_NE(reader.next(), nullptr);
    ASSERT_NE(reader.next(), nullptr);
    ASSERT_EQ(ftruncate(file.fd, 3 * kFrame + 10), 0);
    EXPECT_EQ(read_all(reader, kFrame).size(), kFrame);
    EXPECT_TRUE(reader.cut_short()) << "its end is not the data's end";
    EXPECT_EQ(reader.partial_bytes(), 10u);
}

TEST(FrameReader, FramesAppendedAfterTheStartAreReadToo) {
    constexpr std::size_t kFrame = 3 * 4096;
    const auto bytes = numbered_bytes(5 * kFrame, 2);
    TempFile file({bytes.begin(), bytes.begin() + 2 * kFrame});
    FrameReader reader(file.fd, kFrame);
    const int appender = open(file.path.c_str(), O_WRONLY | O_APPEND);
    write_exactly(appender, bytes.data() + 2 * kFrame, 3 * kFrame);
    close(appender);

    EXPECT_EQ(read_all(reader, kFrame), bytes);
    EXPECT_EQ(reader.partial_bytes(), 0u);
}

TEST(FrameReader, ARunCutShortLeavesTheOffsetAfterItsLastFrame) {
    // A run cut short (its output went away) still leaves the offset after
    // the last frame it took.
    constexpr std::size_t kFrame = 4096;
    TempFile file(numbered_bytes(4 * kFrame, 3));
    {
        FrameReader reader(file.fd, kFrame);
        ASSERT_NE(reader.next(), nullptr);
        ASSERT_NE(reader.next(), nullptr);
    }
    EXPECT_EQ(lseek(file.fd, 0, SEEK_CUR), static_cast<off_t>(2 * kFrame));
}

TEST(FrameReader, PipeDeliversFramesInOddPieces) {
    constexpr std::size_t kFrame = 12345 * 4;
    const auto bytes = numbered_bytes(6 * kFrame + 7, 4);
    Pipe pipe;
    std::thread writer([&] {
        const std::size_t pieces[] = {1, 7, 4093, 65537, 3, 200000};
        std::size_t done = 0;
        for (int i = 0; done < bytes.size(); ++i) {
            const std::size_t n = std::min(pieces[i % 6], bytes.size() - done);
            write_exactly(pipe.write_end, bytes.data() + done, n);
            done += n;
            if (i % 4 == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        pipe.close_write();
    });
    FrameReader reader(pipe.read_end, kFrame);
    const auto got = read_all(reader, kFrame);
    writer.join();
    EXPECT_EQ(got, std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 7));
    EXPECT_EQ(reader.partial_bytes(), 7u);
    EXPECT_EQ(reader.error(), 0);
}

TEST(FrameReader, NonBlockingPipeIsWaitedOn) {
    constexpr std::size_t kFrame = 1000;
    const auto bytes = numbered_bytes(2 * kFrame, 5);
    Pipe pipe;
    make_non_blocking(pipe.read_end);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        write_exactly(pipe.write_end, bytes.data(), 1500);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        write_exactly(pipe.write_end, bytes.data() + 1500, 500);
        pipe.close_write();
    });
    FrameReader reader(pipe.read_end, kFrame);
    const auto got = read_all(reader, kFrame);
    writer.join();
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(reader.error(), 0);
}

TEST(FrameReader, EmptyInputsAndReadErrors) {
    TempFile empty({});
    FrameReader from_empty(empty.fd, 16);
    EXPECT_EQ(from_empty.next(), nullptr);
    EXPECT_EQ(from_empty.partial_bytes(), 0u);
    EXPECT_EQ(from_empty.error(), 0);

    TempFile short_file(numbered_bytes(10, 6));
    FrameReader from_short(short_file.fd, 16);
    EXPECT_EQ(from_short.next(), nullptr);
    EXPECT_EQ(from_short.partial_bytes(), 10u);

    const int folder = open("/", O_RDONLY | O_DIRECTORY);
    FrameReader from_folder(folder, 16);
    EXPECT_EQ(from_folder.next(), nullptr);
    EXPECT_EQ(from_folder.error(), EISDIR);
    EXPECT_EQ(from_folder.next(), nullptr) << "an error ends the input";
    close(folder);
}

TEST(FrameWriter, PaddedRowsGoOutBackToBackAcrossBatches) {
    // More rows than one writev() takes, each followed by 4 bytes of padding
    // that must not be written; then the same frame bottom row first.
    constexpr std::size_t kRow = 12, kPitch = 16, kRows = 2500;
    const auto frame = numbered_bytes(kPitch * kRows, 7);
    std::vector<std::uint8_t> rows, reversed;
    for (std::size_t r = 0; r < kRows; ++r) {
        rows.insert(rows.end(), frame.begin() + r * kPitch, frame.begin() + r * kPitch + kRow);
        const std::size_t back = (kRows - 1 - r) * kPitch;
        reversed.insert(reversed.end(), frame.begin() + back, frame.begin() + back + kRow);
    }
    Pipe pipe;
    std::vector<std::uint8_t> got;
    std::thread reader([&] { got = drain(pipe.read_end); });
    FrameWriter writer(pipe.write_end, kRow * kRows);
    EXPECT_TRUE(writer.write_rows(frame.data(), kRow, kPitch, kRows));
    EXPECT_TRUE(
        writer.write_rows(frame.data() + (kRows - 1) * kPitch, kRow, -static_cast<std::ptrdiff_t>(kPitch), kRows));
    EXPECT_TRUE(writer.write_rows(frame.data(), kPitch, kPitch, kRows)) << "rows back to back";
    EXPECT_TRUE(writer.write_rows(frame.data(), kRow, kPitch, 0));
    pipe.close_write();
    reader.join();
    std::vector<std::uint8_t> want = rows;
    want.insert(want.end(), reversed.begin(), reversed.end());
    want.insert(want.end(), frame.begin(), frame.end());
    EXPECT_EQ(got, want);
}

TEST(FrameWriter, ShortWritesToASlowNonBlockingReader) {
    // A pipe left non-blocking takes a part of each writev() and then none
    // for a while: every row must still go out whole and once, contiguous
    // frames and padded rows alike.
    constexpr std::size_t kRow = 40000, kPitch = kRow + 8, kRows = 64;
    const auto frame = numbered_bytes(kPitch * kRows, 8);
    std::vector<std::uint8_t> want(frame);
    for (std::size_t r = 0; r < kRows; ++r) {
        want.insert(want.end(), frame.begin() + r * kPitch, frame.begin() + r * kPitch + kRow);
    }
    Pipe pipe;
    make_non_blocking(pipe.write_end);
    std::vector<std::uint8_t> got;
    std::thread reader([&] {
        std::uint8_t chunk[50000];
        ssize_t n = 0;
        while ((n = read(pipe.read_end, chunk, sizeof chunk)) > 0) {
            got.insert(got.end(), chunk, chunk + n);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    FrameWriter writer(pipe.write_end, frame.size());
    EXPECT_TRUE(writer.write_rows(frame.data(), kPitch, kPitch, kRows));
    EXPECT_TRUE(writer.write_rows(frame.data(), kRow, kPitch, kRows));
    pipe.close_write();
    reader.join();
    EXPECT_EQ(got, want);
}

TEST(FrameWriter, AReaderThatLeftGivesBrokenPipe) {
    // As under a shell that ignores SIGPIPE: the write fails with EPIPE, and
    // the process lives to report it.
    const auto old_handler = std::signal(SIGPIPE, SIG_IGN);
    Pipe pipe;
    pipe.close_read();
    FrameWriter writer(pipe.write_end, 64);
    const auto frame = numbered_bytes(64, 9);
    errno = 0;
    EXPECT_FALSE(writer.write_rows(frame.data(), 64, 64, 1));
    EXPECT_EQ(errno, EPIPE);
    std::signal(SIGPIPE, old_handler);
}

TEST(FrameBuffer, StartsZeroedOnAHugePageBoundaryAndIsWholeToItsLastByte) {
    for (const std::size_t size : {std::size_t{5} << 20, std::size_t{4} << 20, std::size_t{12345}}) {
        MappedRegion buffer = allocate_frame_buffer(size);
        ASSERT_NE(buffer.data(), nullptr);
        EXPECT_EQ(buffer.size(), size);
        if (size >= std::size_t{2} << 20) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % (std::size_t{2} << 20), 0u) << size;
        }
        for (std::size_t i = 0; i < size; i += 4093) {
            ASSERT_EQ(buffer.data()[i], 0) << i;
        }
        buffer.data()[size - 1] = 1;
        MappedRegion moved = std::move(buffer);
        EXPECT_EQ(moved.data()[size - 1], 1);
    }
    EXPECT_EQ(allocate_frame_buffer(0).data(), nullptr);
}

}  // namespace
}  // namespace ocuvex::cli
