// Loads Ocuvex.vdf again and again the way newer editors do (LoadLibrary,
// Init2 ... Deinit, FreeLibrary), and in every round creates many instances,
// configures them through the script function and directly in their
// settings blocks, converts frames and destroys them. Every frame is checked
// against the core linked into this program. From round to round the bytes
// in use on the process's heaps must not grow at all, and its private bytes
// only by the loader's bookkeeping.
//   ocuvex_stress MODULE [ROUNDS [INSTANCES [--no-memory-check]]]
// --no-memory-check leaves out the private bytes where the program runs under
// an emulator (the 32-bit build through qemu), whose own code cache grows as
// it runs; the heaps are still counted.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/filter_settings.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "host/standin/module_loader.h"
#include "host/standin/standin_host.h"

namespace {

using namespace ocuvex;
using namespace ocuvex::standin;

constexpr std::int32_t kSourceW = 64;
constexpr std::int32_t kSourceH = 48;
constexpr std::int32_t kSourcePitch = 4 * kSourceW + 16;
constexpr int kFramesPerInstance = 3;
// Growth of private bytes allowed from the second round to the last. The
// exact count of busy heap bytes (heap_bytes) is the leak check; this one
// catches memory taken outside the heaps. Wine commits a further 28 to 32 KiB
// of heap once in some runs of the 32-bit build, so the allowance is twice that.
constexpr std::size_t kPrivateSlack = 64 << 10;

int failures = 0;

void fail(int round, int instance, const char* what) {
    ++failures;
    if (failures <= 20) {
        std::fprintf(stderr, "ocuvex_stress: round %d, instance %d: %s\n", round, instance, what);
    }
}

// Bytes in busy blocks on every heap of the process: what the module, the C
// runtime and the loader hold. Exact, so any leak per load shows.
std::size_t heap_bytes() {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    std::size_t busy = 0;
    for (DWORD h = 0; h < count && h < 256; ++h) {
        if (!HeapLock(heaps[h])) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[h], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                busy += entry.cbData;
            }
        }
        HeapUnlock(heaps[h]);
    }
    return busy;
}

std::size_t private_bytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
        return 0;
    }
    // Wine leaves PrivateUsage at 0; its PagefileUsage, the commit charge, is
    // the same figure on Windows.
    return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

// The same settings for instance i in every round, so rounds do the same work:
// every mode, unknown modes, and hostile numbers among ordinary ones.
FilterSettings settings_for(int i) {
    std::uint32_t state = 2463534242U + 977U * static_cast<std::uint32_t>(i);
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const auto small = [&next] { return static_cast<std::int32_t>(next() % 201) - 100; };
    const auto any = [&next, &small] { return next() % 8 == 0 ? static_cast<std::int32_t>(next()) : small(); };
    FilterSettings s = default_settings();
    s.mode = i % 10 < 8 ? MODE_NOP + i % 8 : static_cast<std::int32_t>(next());
    s.center_width = small() + 100;  // wider rows, but never gigabytes
    s.align_horz = any();
    s.align_vert = any();
    s.crop_x = any();
    s.crop_y = any();
    s.crop_width = any();
    s.crop_height = any();
    s.fill_color = next();
    return s;
}

struct Frames {
    std::vector<std::uint32_t> src;
    std::vector<std::uint8_t> dst;
    std::vector<std::uint8_t> expected;
};

void drive_instance(FilterInstance& instance, int round, int i, Frames& frames) {
    // Direct settings, as a host restoring a saved block does, then the script function.
    const FilterSettings wanted = settings_for(i);
    FilterSettings& block = instance.settings();
    const std::uint8_t swap = static_cast<std::uint8_t>(i % 3 == 0);
    block = wanted;
    if (!instance.replay(swap ? "Config(1, 0)" : "Config(0, 0)")) {
        fail(round, i, "the script function Config was not found");
    }
    FilterSettings replayed = wanted;
    replayed.swap_lr = swap;
    if (!(block == replayed)) {
        fail(round, i, "an old statement did more than set the swap flag");
    }
    // Replaying its own statement gives the instance back unchanged (a mode
    // that does not exist is written but not replayed, so it stays too).
    const FilterSettings saved = block;
    if (!instance.replay(instance.script_statement()) || !(block == saved)) {
        fail(round, i, "the script statement does not restore the instance");
    }
    FilterSettings planned = block;
    const OutputGeometry geometry = compute_output_geometry(planned, kSourceW, kSourceH);
    instance.plan(kSourceW, kSourceH, kSourcePitch);
    const VFBitmap& dst = instance.dst();
    if (dst.w != geometry.w || dst.h != geometry.h || dst.pitch != geometry.pitch || !(block == planned)) {
        fail(round, i, "paramProc planned other than the core");
        return;
    }
    if (instance.describe() != description_text(block)) {
        fail(round, i, "stringProc describes other than the core");
    }

    frames.src.assign(static_cast<std::size_t>(kSourcePitch / 4) * kSourceH, 0);
    for (std::size_t k = 0; k < frames.src.size(); ++k) {
        frames.src[k] = static_cast<std::uint32_t>(k * 2654435761U) ^ static_cast<std::uint32_t>(i);
    }
    const std::size_t dst_bytes = static_cast<std::size_t>(geometry.pitch) * geometry.h;
    frames.dst.assign(dst_bytes, 0);
    frames.expected.assign(dst_bytes, 0);
    const FrameView src_view = make_frame_view(frames.src.data(), kSourceW, kSourceH, kSourcePitch);
    const FrameView expected_view = make_frame_view(frames.expected.data(), geometry.w, geometry.h, geometry.pitch);
    convert_frame(block, src_view, expected_view);

    if (instance.start() != 0) {
        fail(round, i, "startProc failed");
    }
    for (int frame = 0; frame < kFramesPerInstance; ++frame) {
        if (instance.run(frames.src.data(), reinterpret_cast<std::uint32_t*>(frames.dst.data())) != 0) {
            fail(round, i, "runProc failed");
        }
        if (frames.dst != frames.expected) {
            fail(round, i, "the module's frame differs from the core's");
            break;
        }
    }
    if (instance.end() != 0) {
        fail(round, i, "endProc failed");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5 || (argc == 5 && std::strcmp(argv[4], "--no-memory-check") != 0)) {
        std::fprintf(stderr, "usage: ocuvex_stress MODULE [ROUNDS [INSTANCES [--no-memory-check]]]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 8;
    const int instances = argc > 3 ? std::atoi(argv[3]) : 100;
    const bool check_memory = argc < 5;
    if (rounds < 3 || instances < 1) {
        std::fprintf(stderr, "ocuvex_stress: at least 3 rounds and 1 instance\n");
        return 2;
    }
    // Reserved up front: their own growth would count as heap growth.
    std::vector<std::size_t> usage;
    std::vector<std::size_t> heap;
    usage.reserve(static_cast<std::size_t>(rounds));
    heap.reserve(static_cast<std::size_t>(rounds));
    Frames frames;
    for (int round = 0; round < rounds; ++round) {
        ModuleEntry entry;
        std::string error;
        if (!load_module(argv[1], entry, error)) {
            std::fprintf(stderr, "ocuvex_stress: %s\n", error.c_str());
            return 1;
        }
        {
            StandinHost host(entry);
            if (host.load() != 0 || !host.registered()) {
                fail(round, -1, "VirtualdubFilterModuleInit2 did not register the filter");
            } else {
                std::vector<std::unique_ptr<FilterInstance>> live;
                for (int i = 0; i < instances; ++i) {
                    live.push_back(std::make_unique<FilterInstance>(host));
                    if (live.back()->init_result() != 0) {
                        fail(round, i, "initProc failed");
                    }
                }
                for (int i = 0; i < instances; ++i) {
                    drive_instance(*live[i], round, i, frames);
                }
                live.clear();
            }
            host.unload();
            if (host.registered()) {
                fail(round, -1, "VirtualdubFilterModuleDeinit left the filter registered");
            }
        }
        if (!FreeLibrary(static_cast<HMODULE>(entry.instance))) {
            fail(round, -1, "FreeLibrary failed");
        }
        if (GetModuleHandleA(argv[1]) != nullptr) {
            fail(round, -1, "the module stayed loaded after FreeLibrary");
        }
        usage.push_back(private_bytes());
        heap.push_back(heap_bytes());
        std::printf("ocuvex_stress: round %d: %d instances, private bytes %zu, heap bytes %zu\n", round, instances,
                    usage.back(), heap.back());
    }
    // Round 0 settles what the first load allocates for good (the loader's
    // tables, the stand-in host's statics).
    if (heap.back() > heap[1]) {
        std::fprintf(stderr, "ocuvex_stress: heap bytes grew by %zu from round 1 to round %d\n", heap.back() - heap[1],
                     rounds - 1);
        ++failures;
    }
    if (!check_memory) {
        std::printf("ocuvex_stress: private bytes not compared (emulated)\n");
    } else if (usage[1] == 0) {
        fail(-1, -1, "the process's private bytes cannot be read");
    } else if (usage.back() > usage[1] + kPrivateSlack) {
        std::fprintf(stderr, "ocuvex_stress: private bytes grew by %zu from round 1 to round %d\n",
                     usage.back() - usage[1], rounds - 1);
        ++failures;
    }
    std::printf("ocuvex_stress: %d round(s), %d failure(s)\n", rounds, failures);
    return failures == 0 ? 0 : 1;
}
