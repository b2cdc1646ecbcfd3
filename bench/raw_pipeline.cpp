// The whole `ocuvex raw` process against what it cannot avoid: `cat` of the
// same frames plus their conversion in memory, and against ffmpeg's stereo3d
// filter on the same frames. Every command of a round runs in turn, round
// after round, so a slow stretch of a shared machine slows all of them; the
// table shows the fastest round of each, the slowest in brackets.
//
// Usage: raw_pipeline [--frames N] [--size WxH] [--rounds N] [--dir DIR]
//                     [--ocuvex PATH] [--before PATH]
// The frames (pseudo-random pixels) are written to a file in DIR (/dev/shm by
// default) and removed at the end. --before times a second ocuvex build
// beside the first, in the same rounds.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "core/settings_fields.h"

namespace {

using namespace ocuvex;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "raw_pipeline: %s\n", message.c_str());
    std::exit(1);
}

double seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Wall and processor time of one run, in seconds.
struct Sample {
    double wall;
    double cpu;
};

// Every round's time of one thing.
struct Timings {
    std::vector<Sample> samples;

    void add(Sample s) { samples.push_back(s); }
    double best_wall() const {
        return std::min_element(samples.begin(), samples.end(), [](auto a, auto b) { return a.wall < b.wall; })->wall;
    }
    double worst_wall() const {
        return std::max_element(samples.begin(), samples.end(), [](auto a, auto b) { return a.wall < b.wall; })->wall;
    }
    double best_cpu() const {
        return std::min_element(samples.begin(), samples.end(), [](auto a, auto b) { return a.cpu < b.cpu; })->cpu;
    }
};

// Processes joined by pipes, the first reading `input`, the last writing to
// /dev/null (or to `output` when one is named).
struct Pipeline {
    std::vector<std::vector<std::string>> stages;
    std::string input;
    std::string output = "/dev/null";

    std::string text() const {
        std::string t;
        for (const auto& stage : stages) {
            t += t.empty() ? "" : " | ";
            for (const auto& arg : stage) {
                t += (&arg == stage.data() ? "" : " ") + arg;
            }
            if (&stage == stages.data() && !input.empty()) {
                t += " < " + input;
            }
        }
        return t + " > " + output;
    }
};

// Runs a pipeline to its end: its wall time from the first spawn to the last
// exit, and the user and system time of all its processes. Fails on a
// non-zero exit.
Sample run(const Pipeline& pipeline) {
    const double start = seconds(CLOCK_MONOTONIC);
    std::vector<pid_t> pids;
    int previous_read_end = -1;
    for (std::size_t i = 0; i < pipeline.stages.size(); ++i) {
        const bool last = i + 1 == pipeline.stages.size();
        int ends[2] = {-1, -1};
        if (!last && pipe(ends) != 0) {
            fail(std::string("cannot make a pipe: ") + std::strerror(errno));
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (i == 0) {
            posix_spawn_file_actions_addopen(&actions, 0, pipeline.input.empty() ? "/dev/null" : pipeline.input.c_str(),
                                             O_RDONLY, 0);
        } else {
            posix_spawn_file_actions_adddup2(&actions, previous_read_end, 0);
            posix_spawn_file_actions_addclose(&actions, previous_read_end);
        }
        if (last) {
            posix_spawn_file_actions_addopen(&actions, 1, pipeline.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        } else {
            posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
            posix_spawn_file_actions_addclose(&actions, ends[1]);
            posix_spawn_file_actions_addclose(&actions, ends[0]);
        }
        std::vector<char*> argv;
        for (const auto& arg : pipeline.stages[i]) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            fail("cannot run " + pipeline.stages[i][0] + ": " + std::strerror(spawned));
        }
        pids.push_back(pid);
        if (previous_read_end >= 0) {
            close(previous_read_end);
        }
        if (!last) {
            close(ends[1]);
            previous_read_end = ends[0];
        }
    }
    double cpu = 0;
    bool failed = false;
    for (const pid_t pid : pids) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) != pid) {
            fail(std::string("cannot wait for a child: ") + std::strerror(errno));
        }
        failed = failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
        cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    const double wall = seconds(CLOCK_MONOTONIC) - start;
    if (failed) {
        fail("this failed: " + pipeline.text());
    }
    return {wall, cpu};
}

struct Options {
    int frames = 50;
    std::int32_t width = 3840;
    std::int32_t height = 1080;
    int rounds = 7;
    std::string dir = "/dev/shm";
    std::string ocuvex = OCUVEX_PATH;
    std::string before;
};

// The whole number at the start of `text`, which must be followed by `end`.
long whole_number(const char* text, char end = '\0') {
    char* stop = nullptr;
    errno = 0;
    const long value = std::strtol(text, &stop, 10);
    if (stop == text || *stop != end || errno != 0) {
        fail(std::string("not a whole number: ") + text);
    }
    return value;
}

Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr) {
            fail(
                "usage: raw_pipeline [--frames N] [--size WxH] [--rounds N] [--dir DIR] [--ocuvex PATH] "
                "[--before PATH]");
        }
        ++i;
        if (arg == "--frames") {
            o.frames = static_cast<int>(whole_number(value));
        } else if (arg == "--size") {
            o.width = static_cast<std::int32_t>(whole_number(value, 'x'));
            o.height = static_cast<std::int32_t>(whole_number(std::strchr(value, 'x') + 1));
        } else if (arg == "--rounds") {
            o.rounds = static_cast<int>(whole_number(value));
        } else if (arg == "--dir") {
            o.dir = value;
        } else if (arg == "--ocuvex") {
            o.ocuvex = value;
        } else if (arg == "--before") {
            o.before = value;
        } else {
            fail("unknown option " + arg);
        }
    }
    if (o.frames < 1 || o.rounds < 1 || o.width < 2 || o.height < 2 || o.width > 65536 || o.height > 65536) {
        fail("--frames and --rounds must be at least 1, --size from 2x2 to 65536x65536");
    }
    return o;
}

// The frames file, removed when the benchmark ends or is interrupted.
char frames_path[4096] = {};

void remove_frames(int signal) {
    unlink(frames_path);
    if (signal != 0) {
        _exit(128 + signal);
    }
}

// Pseudo-random pixels (xorshift), every frame different, written to a new
// file in `dir`; the same bytes are kept in memory for the in-memory timing.
std::vector<std::uint8_t> make_frames(const Options& o) {
    std::snprintf(frames_path, sizeof frames_path, "%s/ocuvex-raw-bench-XXXXXX", o.dir.c_str());
    const int fd = mkstemp(frames_path);
    if (fd < 0) {
        fail("cannot create a file in " + o.dir + ": " + std::strerror(errno));
    }
    std::signal(SIGINT, remove_frames);
    std::signal(SIGTERM, remove_frames);
    std::vector<std::uint8_t> frames(static_cast<std::size_t>(o.width) * o.height * 4 * o.frames);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (std::size_t i = 0; i + 8 <= frames.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(&frames[i], &state, 8);
    }
    for (std::size_t done = 0; done < frames.size();) {
        const ssize_t n = write(fd, frames.data() + done, frames.size() - done);
        if (n <= 0) {
            remove_frames(0);
            fail(std::string("cannot write the frames: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return frames;
}

// A mode as a user would ask for it; its settings come from the tool itself
// (`ocuvex geometry`), so the in-memory conversion does exactly the tool's work.
struct Mode {
    std::vector<std::string> args;
    FilterSettings settings{};
    OutputGeometry geometry{};
    Timings in_memory, tool, before;
};

// Windows a little inside the frame, as in speed_table: 1800x1000 of each 1920x1080 view.
std::vector<Mode> make_modes(const Options& o) {
    const std::string crop_width = std::to_string(o.width / 2 - 120);
    const std::string crop_height = std::to_string(o.height - 80);
    std::vector<Mode> modes;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--mode", "nop"},
             {"--mode", "deinterlace"},
             {"--mode", "centering", "--center-width", "64"},
             {"--mode", "anaglyph"},
             {"--mode", "sbs-to-ab"},
             {"--mode", "ab-to-sbs"},
             {"--mode", "alignment", "--align-horz", "8", "--align-vert", "4"},
             {"--mode", "cropping", "--crop-x", "16", "--crop-y", "16", "--crop-width", crop_width, "--crop-height",
              crop_height},
         }) {
        modes.push_back({args, {}, {}, {}, {}, {}});
    }
    return modes;
}

std::vector<std::string> raw_command(const std::string& ocuvex, const char* command, const Options& o,
                                     const Mode& mode) {
    std::vector<std::string> argv = {ocuvex, command, "--size",
                                     std::to_string(o.width) + "x" + std::to_string(o.height)};
    argv.insert(argv.end(), mode.args.begin(), mode.args.end());
    return argv;
}

std::string read_file(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[65536];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            text.append(chunk, n);
        }
        std::fclose(f);
    }
    return text;
}

// Reads the corrected settings the tool prints for a mode.
void ask_settings(const Options& o, Mode& mode, const std::string& scratch) {
    run({{raw_command(o.ocuvex, "geometry", o, mode)}, "", scratch});
    const std::string json = read_file(scratch);
    auto number = [&](const char* name) {
        const std::string key = std::string("\"") + name + "\":";
        const std::size_t at = json.find(key);
        if (at == std::string::npos) {
            fail("no " + key + " in: " + json);
        }
        const char* text = json.c_str() + at + key.size();
        const char* stop = std::strpbrk(text, ",}");
        return whole_number(text, stop != nullptr ? *stop : '\0');
    };
    mode.geometry = {static_cast<std::int32_t>(number("width")), static_cast<std::int32_t>(number("height")),
                     static_cast<std::int32_t>(number("pitch"))};
    mode.settings = default_settings();
    for (const SettingsField& field : kSettingsFields) {
        set_field_value(field, mode.settings, number(field.name));
    }
}

// Converts every frame in memory as the tool lays them out (top-down rows
// seen bottom-up, the output at its padded pitch, zeroed once). Untimed, it
// returns what the tool would write: every frame's rows back to back.
struct InMemory {
    std::vector<std::uint8_t> out;

    std::string convert_all(const Options& o, const Mode& mode, const std::vector<std::uint8_t>& frames, int count,
                            Timings* timings) {
        const OutputGeometry& g = mode.geometry;
        out.assign(static_cast<std::size_t>(g.pitch) * std::max(g.h, 1), 0);
        const FrameView dst =
            make_frame_view(out.data() + static_cast<std::size_t>(g.pitch) * std::max(g.h - 1, 0), g.w, g.h, -g.pitch);
        const std::size_t frame_bytes = static_cast<std::size_t>(o.width) * o.height * 4;
        std::string written;
        const double wall = seconds(CLOCK_MONOTONIC);
        const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
        for (int f = 0; f < count; ++f) {
            auto* top = const_cast<std::uint8_t*>(frames.data()) + frame_bytes * f;
            convert_frame(mode.settings,
                          make_frame_view(top + static_cast<std::size_t>(o.width) * 4 * (o.height - 1), o.width,
                                          o.height, -4 * o.width),
                          dst);
            if (timings == nullptr) {
                for (std::int32_t y = 0; y < g.h; ++y) {
                    written.append(reinterpret_cast<const char*>(out.data()) + static_cast<std::size_t>(y) * g.pitch,
                                   static_cast<std::size_t>(g.w) * 4);
                }
            }
        }
        if (timings != nullptr) {
            timings->add({seconds(CLOCK_MONOTONIC) - wall, seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu});
        }
        return written;
    }
};

std::string format_seconds(const Timings& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f [%.3f]", t.best_wall(), t.worst_wall());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse_options(argc, argv);
    if (access(o.ocuvex.c_str(), X_OK) != 0) {
        fail("no ocuvex at " + o.ocuvex + " (build it, or name it with --ocuvex)");
    }
    const bool have_ffmpeg = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    const std::vector<std::uint8_t> frames = make_frames(o);
    const std::string path = frames_path;
    const std::string scratch = path + ".out";
    std::vector<Mode> modes = make_modes(o);

    // The settings the tool uses, and proof that it writes what the in-memory
    // conversion writes, on the first two frames.
    InMemory memory;
    for (Mode& mode : modes) {
        ask_settings(o, mode, scratch);
        const int check_frames = std::min(o.frames, 2);
        std::vector<std::string> head = {
            "head", "-c", std::to_string(static_cast<std::size_t>(o.width) * o.height * 4 * check_frames), path};
        run({{head, raw_command(o.ocuvex, "raw", o, mode)}, "", scratch});
        if (read_file(scratch) != memory.convert_all(o, mode, frames, check_frames, nullptr)) {
            unlink(scratch.c_str());
            remove_frames(0);
            fail("ocuvex raw --mode " + mode.args[1] + " does not write what the core writes");
        }
    }
    unlink(scratch.c_str());

    const std::string size = std::to_string(o.width) + "x" + std::to_string(o.height);
    const Pipeline cat{{{"cat"}}, path};
    const Pipeline cat_pipes{{{"cat", path}, {"cat"}, {"cat"}}, ""};
    auto ffmpeg = [&](const char* layout) {
        return Pipeline{
            {{"ffmpeg", "-v",       "error",    "-nostdin", "-f", "rawvideo", "-pix_fmt",
              "bgr0",   "-s",       size,       "-i",       path, "-vf",      std::string("stereo3d=") + layout,
              "-f",     "rawvideo", "-pix_fmt", "bgr0",     "-y", "/dev/null"}},
            ""};
    };
    const Pipeline ffmpeg_abr = ffmpeg("sbsl:abr");
    const Pipeline ffmpeg_arcd = ffmpeg("sbsl:arcd");
    const std::size_t nop = 0, anaglyph = 3, sbs_to_ab = 4;
    auto through_pipes = [&](const std::string& ocuvex, const Mode& mode) {
        return Pipeline{{{"cat", path}, raw_command(ocuvex, "raw", o, mode), {"cat"}}, ""};
    };
    Timings cat_t, cat_pipes_t, abr_t, arcd_t, pipes_t[2], pipes_before_t[2];
    const std::size_t piped_modes[2] = {nop, sbs_to_ab};

    std::fprintf(stderr, "raw_pipeline: %d rounds", o.rounds);
    for (int round = 0; round < o.rounds; ++round) {
        std::fprintf(stderr, " %d", round + 1);
        cat_t.add(run(cat));
        for (Mode& mode : modes) {
            memory.convert_all(o, mode, frames, o.frames, &mode.in_memory);
            mode.tool.add(run({{raw_command(o.ocuvex, "raw", o, mode)}, path}));
            if (!o.before.empty()) {
                mode.before.add(run({{raw_command(o.before, "raw", o, mode)}, path}));
            }
        }
        if (have_ffmpeg) {
            abr_t.add(run(ffmpeg_abr));
            arcd_t.add(run(ffmpeg_arcd));
        }
        cat_pipes_t.add(run(cat_pipes));
        for (int i = 0; i < 2; ++i) {
            pipes_t[i].add(run(through_pipes(o.ocuvex, modes[piped_modes[i]])));
            if (!o.before.empty()) {
                pipes_before_t[i].add(run(through_pipes(o.before, modes[piped_modes[i]])));
            }
        }
    }
    std::fprintf(stderr, "\n");
    remove_frames(0);

    const double frame_mb = static_cast<double>(frames.size()) / 1e6;
    std::printf(
        "%d frames of %s bgr0 (%.0f MB) in %s, output to /dev/null; fastest of %d rounds, slowest in brackets.\n",
        o.frames, size.c_str(), frame_mb, o.dir.c_str(), o.rounds);
    std::printf("Seconds of wall time (CPU: user + system of the fastest round).\n\n");
    std::printf("`cat < frames`: %s s (CPU %.3f s)\n\n", format_seconds(cat_t).c_str(), cat_t.best_cpu());
    // On a busy machine wall times mostly measure the wait for a core: the
    // same ratio of processor times is shown beside it.
    std::printf("| mode | in memory | `ocuvex raw < frames` | CPU | / (cat + in memory) | CPU ratio |%s\n",
                o.before.empty() ? "" : " before | before CPU | before / (cat + in memory) | before CPU ratio |");
    std::printf("|---|---:|---:|---:|---:|---:|%s\n", o.before.empty() ? "" : "---:|---:|---:|---:|");
    bool met = true;
    bool met_cpu = true;
    for (const Mode& mode : modes) {
        const double floor = cat_t.best_wall() + mode.in_memory.best_wall();
        const double cpu_floor = cat_t.best_cpu() + mode.in_memory.best_cpu();
        const double ratio = mode.tool.best_wall() / floor;
        met = met && ratio <= 1.5;
        met_cpu = met_cpu && mode.tool.best_cpu() / cpu_floor <= 1.5;
        std::printf("| %s | %.3f | %s | %.3f | %.2f | %.2f |", mode.args[1].c_str(), mode.in_memory.best_wall(),
                    format_seconds(mode.tool).c_str(), mode.tool.best_cpu(), ratio, mode.tool.best_cpu() / cpu_floor);
        if (!o.before.empty()) {
            std::printf(" %s | %.3f | %.2f | %.2f |", format_seconds(mode.before).c_str(), mode.before.best_cpu(),
                        mode.before.best_wall() / floor, mode.before.best_cpu() / cpu_floor);
        }
        std::printf("\n");
    }
    std::printf("\nTarget: every mode at most 1.50x (cat + in memory): %s (processor time: %s).\n\n",
                met ? "met" : "NOT met", met_cpu ? "met" : "NOT met");

    if (have_ffmpeg) {
        // ffmpeg runs its filter on threads: on a busy machine its wall time
        // suffers more than ours, so the ratio of processor times is shown too.
        std::printf("| against ffmpeg | ffmpeg | CPU | ocuvex raw | CPU | ocuvex / ffmpeg | target | CPU ratio |%s\n",
                    o.before.empty() ? "" : " before / ffmpeg |");
        std::printf("|---|---:|---:|---:|---:|---:|---:|---:|%s\n", o.before.empty() ? "" : "---:|");
        const struct {
            const char* layout;
            const Timings& theirs;
            const Mode& ours;
            double target;
        } rows[] = {{"sbsl:abr (sbs-to-ab)", abr_t, modes[sbs_to_ab], 0.4},
                    {"sbsl:arcd (anaglyph)", arcd_t, modes[anaglyph], 0.3}};
        for (const auto& row : rows) {
            std::printf("| stereo3d=%s | %s | %.3f | %.3f | %.3f | %.2f | %.2f | %.2f |", row.layout,
                        format_seconds(row.theirs).c_str(), row.theirs.best_cpu(), row.ours.tool.best_wall(),
                        row.ours.tool.best_cpu(), row.ours.tool.best_wall() / row.theirs.best_wall(), row.target,
                        row.ours.tool.best_cpu() / row.theirs.best_cpu());
            if (!o.before.empty()) {
                std::printf(" %.2f |", row.ours.before.best_wall() / row.theirs.best_wall());
            }
            std::printf("\n");
        }
        std::printf("\n");
    }

    std::printf("| through pipes | wall | CPU | / (cat \\| cat \\| cat + in memory) |%s\n",
                o.before.empty() ? "" : " before | before CPU |");
    std::printf("|---|---:|---:|---:|%s\n", o.before.empty() ? "" : "---:|---:|");
    std::printf("| `cat frames \\| cat \\| cat` | %s | %.3f | |%s\n", format_seconds(cat_pipes_t).c_str(),
                cat_pipes_t.best_cpu(), o.before.empty() ? "" : " | |");
    for (int i = 0; i < 2; ++i) {
        const Mode& mode = modes[piped_modes[i]];
        std::printf("| `cat frames \\| ocuvex raw %s \\| cat` | %s | %.3f | %.2f |", mode.args[1].c_str(),
                    format_seconds(pipes_t[i]).c_str(), pipes_t[i].best_cpu(),
                    pipes_t[i].best_wall() / (cat_pipes_t.best_wall() + mode.in_memory.best_wall()));
        if (!o.before.empty()) {
            std::printf(" %s | %.3f |", format_seconds(pipes_before_t[i]).c_str(), pipes_before_t[i].best_cpu());
        }
        std::printf("\n");
    }
    return 0;
}
