#include "media/pipeline.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "media/libav_compat.h"

namespace ocuvex::media {

namespace {

// Events each queue holds at most: enough for a stage to run a frame or two
// ahead of the next one; more would only hold more pictures in memory.
constexpr std::size_t kQueueDepth = 3;

// Pictures the conversion may write into at most: those in the queue, the
// one being encoded and the one being converted, and those the encoder
// still holds (frame threads keep a few), as VideoOutput::next_picture()
// allows.
constexpr std::size_t kMaxPictures = 16;
static_assert(kMaxPictures > kQueueDepth + 2, "a picture the output thread is done with is always found");

// The reason the input is stopped for when the output thread fails: that
// failure is what the job throws, never this.
constexpr int kStagesStopped = -1;

// Slots passed in order from one thread to the next, allocated once: the
// producer fills the slot claim() gives it and publishes it; the consumer
// takes it, uses it and releases it for the producer to fill again.
template <typename Slot>
class Handoff {
  public:
    explicit Handoff(std::size_t depth) : slots_(depth) {}

    // The next slot to fill; waits while every slot is full. Null once
    // cancelled.
    Slot* claim() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return cancelled_ || count_ < slots_.size(); });
        return cancelled_ ? nullptr : &slots_[(head_ + count_) % slots_.size()];
    }
    void publish() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++count_;
        }
        changed_.notify_all();
    }
    // The next filled slot; waits while there is none. Null once cancelled.
    Slot* take() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return cancelled_ || count_ > 0; });
        return cancelled_ ? nullptr : &slots_[head_];
    }
    void release() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            head_ = (head_ + 1) % slots_.size();
            --count_;
        }
        changed_.notify_all();
    }
    // Wakes both sides for good: claim() and take() return null from now on.
    void cancel() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            cancelled_ = true;
        }
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    std::size_t head_ = 0;   // the oldest filled slot
    std::size_t count_ = 0;  // filled slots
    bool cancelled_ = false;
};

enum class Kind { Picture, Packet, Failure, End };

// From the input thread to the convert thread.
struct Decoded {
    Kind kind = Kind::End;
    FramePtr frame = allocate_frame();
    PacketPtr packet = allocate_packet();
    std::exception_ptr failure;
};

// From the convert thread to the output thread.
struct Converted {
    Kind kind = Kind::End;
    std::size_t picture = 0;  // in the pool
    std::int64_t pts = 0;
    std::int64_t duration = 0;
    PacketPtr packet = allocate_packet();
    std::exception_ptr failure;
};

// The pictures the conversion writes into. Made black as the conversion
// needs them, up to kMaxPictures, and kept: a picture is written again once
// the output thread has encoded it and the encoder no longer holds it.
class PicturePool {
  public:
    explicit PicturePool(const VideoOutput& video) : video_(video) {}

    // On the convert thread: a picture nobody holds, to convert into.
    std::size_t take() {
        for (std::size_t i = 0; i < made_; ++i) {
            const std::size_t index = (next_ + i) % made_;
            if (!entries_[index].busy.load(std::memory_order_acquire) &&
                av_frame_is_writable(entries_[index].picture.get()) != 0) {
                return lend(index);
            }
        }
        if (made_ < kMaxPictures) {
            entries_[made_].picture = video_.new_picture();
            return lend(made_++);
        }
        // Every picture the output thread is done with is still held by
        // the encoder: one gets a buffer of its own again (a copy).
        for (std::size_t i = 0;; ++i) {
            const std::size_t index = (next_ + i) % made_;
            if (!entries_[index].busy.load(std::memory_order_acquire)) {
                check(av_frame_make_writable(entries_[index].picture.get()), "cannot make a picture to convert into");
                return lend(index);
            }
        }
    }
    AVFrame* picture(std::size_t index) const { return entries_[index].picture.get(); }
    // On the output thread, once the picture is encoded.
    void give_back(std::size_t index) { entries_[index].busy.store(false, std::memory_order_release); }

  private:
    std::size_t lend(std::size_t index) {
        entries_[index].busy.store(true, std::memory_order_relaxed);
        next_ = (index + 1) % kMaxPictures;
        return index;
    }

    struct Entry {
        FramePtr picture;
        std::atomic<bool> busy{false};  // in a queue or being encoded
    };
    const VideoOutput& video_;
    std::array<Entry, kMaxPictures> entries_;
    std::size_t made_ = 0;  // the convert thread's alone, as next_
    std::size_t next_ = 0;
};

// The input, on the calling thread: every event of the input, in order, to
// its end or its first failure, or until the output thread fails.
void read_input(Input& input, Handoff<Decoded>& out) {
    while (Decoded* event = out.claim()) {
        try {
            switch (input.next()) {
            case Input::Event::VideoFrame:
                event->kind = Kind::Picture;
                input.take_frame(event->frame.get());
                break;
            case Input::Event::Packet:
                event->kind = Kind::Packet;
                av_packet_unref(event->packet.get());
                av_packet_move_ref(event->packet.get(), input.packet());
                break;
            case Input::Event::End:
                event->kind = Kind::End;
                break;
            }
        } catch (...) {
            event->kind = Kind::Failure;
            event->failure = std::current_exception();
        }
        const Kind kind = event->kind;
        out.publish();
        if (kind == Kind::End || kind == Kind::Failure) {
            return;
        }
    }
}

// The convert thread: each decoded frame into a picture of the pool; the
// other events passed on as they are.
void convert_frames(PictureConverter& converter, PicturePool& pool, Handoff<Decoded>& in, Handoff<Converted>& out) {
    while (Decoded* event = in.take()) {
        Converted* next = out.claim();
        if (next == nullptr) {
            return;
        }
        next->kind = event->kind;
        switch (event->kind) {
        case Kind::Picture:
            try {
                next->picture = pool.take();
                converter.convert(event->frame.get(), pool.picture(next->picture));
                next->pts = event->frame->pts;
                next->duration = frame_duration(event->frame.get());
            } catch (...) {
                next->kind = Kind::Failure;
                next->failure = std::current_exception();
            }
            av_frame_unref(event->frame.get());
            break;
        case Kind::Packet:
            av_packet_unref(next->packet.get());
            av_packet_move_ref(next->packet.get(), event->packet.get());
            break;
        case Kind::Failure:
            next->failure = std::move(event->failure);
            event->failure = nullptr;
            break;
        case Kind::End:
            break;
        }
        const Kind kind = next->kind;
        in.release();
        out.publish();
        if (kind == Kind::End || kind == Kind::Failure) {
            return;
        }
    }
}

// What the output thread leaves for the calling thread.
struct Outcome {
    std::int64_t written = 0;
    std::exception_ptr failure;  // the job's first, in the order of the events
};

// The output thread: pictures encoded and packets written, in order. On
// the first failure, its own or one passed on, it stops the other threads.
// The decoded frames' times are in `time_base`.
void write_output(const JobStages& stages, AVRational time_base, PicturePool& pool, Handoff<Decoded>& decoded,
                  Handoff<Converted>& converted, const std::function<void(std::int64_t)>& on_frame, Outcome& outcome) {
    try {
        while (Converted* event = converted.take()) {
            switch (event->kind) {
            case Kind::Picture:
                if (stages.video.write_picture(pool.picture(event->picture), event->pts, event->duration, time_base)) {
                    ++outcome.written;
                    if (on_frame) {
                        on_frame(outcome.written);
                    }
                }
                pool.give_back(event->picture);
                break;
            case Kind::Packet:
                if (stages.streams != nullptr) {
                    stages.streams->write(event->packet.get());
                } else {
                    av_packet_unref(event->packet.get());
                }
                break;
            case Kind::Failure:
                std::rethrow_exception(event->failure);
            case Kind::End:
                return;
            }
            converted.release();
        }
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    stages.halt_input.request(kStagesStopped);
    decoded.cancel();
    converted.cancel();
}

// The convert and output threads of one run, stopped (their queues
// cancelled) and joined on the way out however it ends.
class StageThreads {
  public:
    StageThreads(Handoff<Decoded>& decoded, Handoff<Converted>& converted) : decoded_(decoded), converted_(converted) {}
    StageThreads(const StageThreads&) = delete;
    StageThreads& operator=(const StageThreads&) = delete;
    ~StageThreads() {
        decoded_.cancel();
        converted_.cancel();
        join();
    }
    // Waits for both to return (after the input's last event, both do).
    void join() {
        for (std::thread* thread : {&convert, &output}) {
            if (thread->joinable()) {
                thread->join();
            }
        }
    }

    std::thread convert;
    std::thread output;

  private:
    Handoff<Decoded>& decoded_;
    Handoff<Converted>& converted_;
};

}  // namespace

std::int64_t run_overlapped(const JobStages& stages, const std::function<void(std::int64_t)>& on_frame) {
    const AVRational time_base = stages.input.demuxer().video_stream()->time_base;
    Handoff<Decoded> decoded(kQueueDepth);
    Handoff<Converted> converted(kQueueDepth);
    PicturePool pool(stages.video);
    Outcome outcome;
    StageThreads threads(decoded, converted);
    threads.convert =
        std::thread(convert_frames, std::ref(stages.converter), std::ref(pool), std::ref(decoded), std::ref(converted));
    threads.output = std::thread(write_output, std::cref(stages), time_base, std::ref(pool), std::ref(decoded),
                                 std::ref(converted), std::cref(on_frame), std::ref(outcome));
    read_input(stages.input, decoded);
    threads.join();
    if (outcome.failure) {
        std::rethrow_exception(outcome.failure);
    }
    return outcome.written;
}

}  // namespace ocuvex::media
