#include "host/standin/host_checks.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace ocuvex::standin {

namespace {

// A generator whose sequence is fixed by its seed on every platform.
class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

  private:
    std::uint64_t state_;
};

std::uint64_t fnv1a(std::uint64_t hash, const void* data, std::size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        hash = (hash ^ bytes[i]) * 0x100000001B3ULL;
    }
    return hash;
}

std::string format(const char* fmt, auto... args) {
    char line[256];
    std::snprintf(line, sizeof line, fmt, args...);
    return line;
}

void expect(std::vector<std::string>& failures, bool ok, const std::string& what) {
    if (!ok) {
        failures.push_back(what);
    }
}

FilterSettings defaults_with_swap(std::uint8_t swap) {
    FilterSettings s{};
    set_defaults(s);
    s.swap_lr = swap;
    return s;
}

bool same_settings(const FilterSettings& a, const FilterSettings& b) {
    return a.swap_lr == b.swap_lr && a.mode == b.mode && a.center_width == b.center_width &&
           a.align_horz == b.align_horz && a.align_vert == b.align_vert && a.crop_x == b.crop_x &&
           a.crop_y == b.crop_y && a.crop_width == b.crop_width && a.crop_height == b.crop_height &&
           a.fill_color == b.fill_color;
}

void check_registration(const ModuleEntry& module, std::vector<std::string>& failures) {
    StandinHost host(module);
    expect(failures, host.load() == 0, "init refused a willing host");
    expect(failures, host.api_version() == 8 && host.compatible_version() == 4,
           format("init wrote versions %d/%d, not 8/4", host.api_version(), host.compatible_version()));
    expect(failures, host.definition_size() == static_cast<int>(sizeof(FilterDefinition)),
           format("addFilter was given %d bytes, not %d", host.definition_size(), int{sizeof(FilterDefinition)}));
    const FilterDefinition& fd = host.filter();
    expect(failures, host.registered() && fd.name != nullptr && std::strcmp(fd.name, "Ocuvex filter") == 0,
           "the filter is not registered as \"Ocuvex filter\"");
    expect(failures, fd.desc != nullptr && std::strcmp(fd.desc, "Some useful stereoscopic conversions.") == 0,
           "wrong filter description");
    expect(failures, fd.inst_data_size == static_cast<int>(sizeof(FilterSettings)),
           format("inst_data_size is %d", fd.inst_data_size));
    expect(failures,
           fd.initProc && fd.runProc && fd.paramProc && fd.configProc && fd.stringProc && fd.startProc && fd.endProc &&
               fd.fssProc && !fd.deinitProc && !fd.stringProc2 && !fd.serializeProc && !fd.deserializeProc &&
               !fd.copyProc && !fd.private_data,
           "the description's callbacks are not the expected set");
    const host::CScriptObject* object = fd.script_obj;
    expect(
        failures,
        object != nullptr && object->Lookup == nullptr && object->obj_list == nullptr && object->func_list != nullptr,
        "the script object is not a plain function table");
    // Both generations of the editor must list "Config" with two integers,
    // then its overload with ten; AviSynth+ offers each entry as an overload.
    bool listed_ok = true;
    for (const TableWalk walk : {TableWalk::kOldEditor, TableWalk::kNewEditor}) {
        const std::vector<ScriptFunction> listed = list_script_functions(object, walk);
        listed_ok = listed_ok && listed.size() == 2 && listed[0].name == "Config" && listed[0].arg_list == "0ii" &&
                    listed[1].name == "Config" && listed[1].arg_list == "0iiiiiiiiii" &&
                    listed[0].func_ptr != nullptr && listed[1].func_ptr != nullptr;
    }
    expect(failures, listed_ok, "the hosts do not list \"Config\" as \"0ii\" and \"0iiiiiiiiii\"");
    if (listed_ok && object != nullptr && object->func_list != nullptr) {
        const host::ScriptFunctionDef* entry = object->func_list;
        expect(failures,
               entry[1].name == nullptr && entry[2].func_ptr == nullptr && entry[2].name == nullptr &&
                   entry[2].arg_list == nullptr,
               "the overload has a name of its own, or the table does not end with an empty entry");
    }

    host.unload();
    expect(failures, host.remove_calls() == 1 && host.removed_own_copy(),
           "deinit did not remove the registered description");

    // Newer editors load and unload a module on demand, more than once.
    expect(failures, host.load() == 0 && host.registered(), "a second init did not register");
    host.unload();
    expect(failures, host.remove_calls() == 2 && !host.registered(), "a second deinit did not unregister");
}

void check_refused_registration(const ModuleEntry& module, std::vector<std::string>& failures) {
    StandinHost host(module, /*refuse_registration=*/true);
    expect(failures, host.load() == 1, "init did not return 1 when addFilter refused");
    expect(failures, host.add_calls() == 1, "init did not ask the host to add the filter");
    expect(failures, host.api_version() == kHostVersion && host.compatible_version() == kHostCompatible,
           "init wrote versions after a refused registration");
    host.unload();
    expect(failures, host.remove_calls() == 0, "deinit removed a filter that was never registered");
}

// The statement of a fresh instance.
constexpr const char* kDefaultStatement = "Config(0, 200, 0, 0, 0, 0, 0, 10, 10, 0)";

void check_instances(const ModuleEntry& module, std::vector<std::string>& failures) {
    StandinHost host(module);
    if (host.load() != 0) {
        failures.push_back("cannot check instances: init failed");
        return;
    }
    {
        FilterInstance fresh(host);
        expect(failures, fresh.init_result() == 0, "initProc failed");
        expect(failures, same_settings(fresh.settings(), defaults_with_swap(0)), "initProc did not set the defaults");
        expect(failures, fresh.describe() == ": NOP", "a fresh instance does not describe itself as \": NOP\"");
        const std::string statement = fresh.script_statement();
        expect(failures, statement == kDefaultStatement,
               "a fresh instance writes \"" + statement + "\", not \"" + kDefaultStatement + "\"");
    }
    for (const std::int32_t integer_type : {host::T_INT, host::T_LONG}) {
        // Statements saved by earlier versions, "Config(s, 0)", replay as they always did.
        FilterInstance replayed(host);
        const std::string how = format(" (integers of type %d)", int{integer_type});
        expect(failures, replayed.replay("Config(5, 3)", integer_type), "\"Config(5, 3)\" found no script function");
        expect(failures, same_settings(replayed.settings(), defaults_with_swap(1)),
               "replaying \"Config(5, 3)\" did more than set swap_lr to 1" + how);
        expect(failures, replayed.describe() == ": NOP (swapped L/R)", "a swapped instance describes itself wrongly");
        expect(
            failures,
            replayed.replay("Config(0, 0)", integer_type) && same_settings(replayed.settings(), defaults_with_swap(0)),
            "replaying \"Config(0, 0)\" did more than clear swap_lr" + how);
        expect(failures,
               replayed.replay("Config(1, 203)", integer_type) && replayed.settings().mode == MODE_ANAGLYPH &&
                   replayed.settings().swap_lr == 1,
               "\"Config(1, 203)\" did not choose the anaglyph with swap" + how);
        expect(failures,
               replayed.replay("Config(0, 208)", integer_type) && replayed.settings().mode == MODE_ANAGLYPH &&
                   replayed.settings().swap_lr == 0,
               "\"Config(0, 208)\" changed the mode to one that does not exist" + how);
        expect(failures,
               !replayed.replay("Config(1)", integer_type) && !replayed.replay("Config(1, 0, 0)", integer_type) &&
                   !replayed.replay("Unknown(1, 0)", integer_type),
               "a statement that matches no signature was accepted" + how);
    }
    {
        // The statement plus its zero: nothing may land past a smaller buffer.
        FilterInstance instance(host);
        const int needed = static_cast<int>(std::strlen(kDefaultStatement)) + 1;
        for (int buflen = 0; buflen <= needed; ++buflen) {
            char buf[64];
            std::memset(buf, '#', sizeof buf);
            const bool written = instance.script_statement(buf, buflen);
            bool untouched = true;
            for (int i = buflen; i < static_cast<int>(sizeof buf); ++i) {
                untouched = untouched && buf[i] == '#';
            }
            expect(failures, untouched, format("fssProc wrote past a %d-byte buffer", buflen));
            expect(failures, written == (buflen >= needed),
                   format("fssProc returned %s for a %d-byte buffer", written ? "true" : "false", buflen));
            if (written) {
                expect(failures, std::strcmp(buf, kDefaultStatement) == 0, "fssProc wrote a wrong statement");
            }
        }
    }
    {
        // A script function reached with no instance data must not write through NULL.
        FilterActivation orphan{};
        orphan.filter = &host.filter();
        host::CScriptValue argv[10] = {};
        for (host::CScriptValue& value : argv) {
            value.type = host::T_INT;
            value.u.i = 1;
        }
        for (const ScriptFunction& function : list_script_functions(host.filter().script_obj, TableWalk::kNewEditor)) {
            host::function_cast<host::ScriptVoidFunctionPtr>(function.func_ptr)(
                nullptr, &orphan, argv, static_cast<int>(function.arg_list.size()) - 1);
        }
        char buf[64] = "untouched";
        expect(failures, !host.filter().fssProc(&orphan, &host.functions(), buf, sizeof buf),
               "fssProc reported a statement for an instance without data");
    }
}

// A number for a field of a random record: the extremes, small values and
// anything at all, about equally often.
std::int32_t random_number(SplitMix64& rng) {
    constexpr std::int32_t kExtremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX};
    const std::uint64_t r = rng.next();
    switch (r % 3) {
    case 0:
        return kExtremes[(r >> 8) % std::size(kExtremes)];
    case 1:
        return static_cast<std::int32_t>((r >> 8) % 201) - 100;
    default:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(r >> 32));
    }
}

// Random records saved through fssProc and replayed through the script
// function come back field for field, with the integers typed either way.
void check_statement_round_trip(const ModuleEntry& module, std::vector<std::string>& failures) {
    StandinHost host(module);
    if (host.load() != 0) {
        failures.push_back("cannot check the script statement: init failed");
        return;
    }
    constexpr int kRecords = 200;
    SplitMix64 rng(20240610);
    int lost = 0;
    for (int i = 0; i < kRecords; ++i) {
        FilterSettings record = defaults_with_swap(static_cast<std::uint8_t>(rng.next() & 1));
        record.mode = kFirstMode + static_cast<std::int32_t>(rng.next() % kModeCount);
        record.center_width = random_number(rng);
        record.align_horz = random_number(rng);
        record.align_vert = random_number(rng);
        record.crop_x = random_number(rng);
        record.crop_y = random_number(rng);
        record.crop_width = random_number(rng);
        record.crop_height = random_number(rng);
        record.fill_color = static_cast<std::uint32_t>(random_number(rng));
        FilterInstance saved(host);
        saved.settings() = record;
        const std::string statement = saved.script_statement();
        for (const std::int32_t integer_type : {host::T_INT, host::T_LONG}) {
            FilterInstance restored(host);
            if ((!restored.replay(statement, integer_type) || !same_settings(restored.settings(), record)) &&
                ++lost <= 3) {
                failures.push_back(format("\"%s\" (integers of type %d) did not restore its record", statement.c_str(),
                                          int{integer_type}));
            }
        }
    }
}

struct ConversionCase {
    std::int32_t mode;
    void (*configure)(FilterSettings&);
};

constexpr ConversionCase kCases[] = {
    {MODE_NOP, [](FilterSettings&) {}},
    {MODE_DEINTERLACE, [](FilterSettings&) {}},
    {MODE_CENTERING,
     [](FilterSettings& s) {
         s.center_width = 10;
         s.fill_color = 0x00123456;
     }},
    {MODE_ANAGLYPH, [](FilterSettings&) {}},
    {MODE_SBS_TO_AB, [](FilterSettings&) {}},
    {MODE_AB_TO_SBS, [](FilterSettings&) {}},
    {MODE_ALIGNMENT,
     [](FilterSettings& s) {
         s.align_horz = -3;
         s.align_vert = 2;
     }},
    {MODE_CROPPING,
     [](FilterSettings& s) {
         s.crop_x = 5;
         s.crop_y = 7;
         s.crop_width = 20;
         s.crop_height = 15;
     }},
    {199, [](FilterSettings&) {}},  // no such mode: converts nothing
};

struct SourceSize {
    std::int32_t w;
    std::int32_t h;
    std::int32_t padding;  // pixels after each row
};

// Odd and even widths; 98 gives an anaglyph of odd width, so the row kernel's
// scalar tail runs too.
constexpr SourceSize kSources[] = {{97, 61, 3}, {98, 40, 1}, {64, 48, 2}};
constexpr int kFramesPerRun = 2;
constexpr std::uint32_t kGuardWord = 0xA5A5A5A5U;
constexpr std::size_t kGuardWords = 16;

}  // namespace

std::vector<std::string> run_host_checks(const ModuleEntry& module) {
    std::vector<std::string> failures;
    check_registration(module, failures);
    check_refused_registration(module, failures);
    check_instances(module, failures);
    check_statement_round_trip(module, failures);
    return failures;
}

std::string conversion_report(const ModuleEntry& module, std::vector<std::string>& failures) {
    std::string report;
    StandinHost host(module);
    if (host.load() != 0) {
        failures.push_back("cannot convert frames: init failed");
        return report;
    }
    std::uint64_t seed = 1;
    for (const SourceSize& source : kSources) {
        for (const ConversionCase& c : kCases) {
            for (std::uint8_t swap = 0; swap <= 1; ++swap) {
                FilterInstance instance(host);
                instance.settings().mode = c.mode;
                instance.settings().swap_lr = swap;
                c.configure(instance.settings());
                const std::int32_t src_pitch_words = source.w + source.padding;
                const std::int32_t flags = instance.plan(source.w, source.h, 4 * std::intptr_t{src_pitch_words});
                const VFBitmap& dst = instance.dst();
                const std::string name =
                    format("mode %d swap %d source %dx%d", int{c.mode}, int{swap}, int{source.w}, int{source.h});
                expect(failures, flags == 1, name + ": paramProc did not ask for separate buffers");
                expect(failures, dst.pitch % 8 == 0 && dst.pitch >= 4 * std::intptr_t{dst.w},
                       name + ": paramProc set an unusable pitch");

                const std::size_t dst_words = static_cast<std::size_t>(dst.pitch / 4) * static_cast<std::size_t>(dst.h);
                std::vector<std::uint32_t> src(static_cast<std::size_t>(src_pitch_words) * source.h);
                std::vector<std::uint32_t> out(dst_words + 2 * kGuardWords);
                instance.start();
                for (int frame = 0; frame < kFramesPerRun; ++frame) {
                    SplitMix64 rng(seed++);
                    for (std::uint32_t& px : src) {
                        px = static_cast<std::uint32_t>(rng.next());
                    }
                    std::fill(out.begin(), out.end(), kGuardWord);
                    const int result = instance.run(src.data(), out.data() + kGuardWords);
                    std::uint64_t hash = 0xCBF29CE484222325ULL;
                    for (std::int32_t row = 0; row < dst.h; ++row) {
                        hash = fnv1a(hash, out.data() + kGuardWords + row * (dst.pitch / 4), 4 * std::size_t(dst.w));
                    }
                    bool guarded = true;
                    for (std::size_t i = 0; i < kGuardWords; ++i) {
                        guarded = guarded && out[i] == kGuardWord && out[out.size() - 1 - i] == kGuardWord;
                    }
                    expect(failures, guarded, name + ": runProc wrote outside the destination");
                    expect(failures, result == 0, name + ": runProc did not return 0");
                    report += format("%s frame %d: output %dx%d pitch %d fnv %016" PRIx64 "\n", name.c_str(), frame,
                                     int{dst.w}, int{dst.h}, static_cast<int>(dst.pitch), hash);
                }
                instance.end();
                report += format("%s: %s\n", name.c_str(), instance.describe().c_str());
            }
        }
    }
    return report;
}

}  // namespace ocuvex::standin
