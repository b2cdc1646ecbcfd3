// A small stand-in for the video editor: it loads a filter module through its
// entry points and drives instances through the callbacks in the order and
// with the record contents the editor uses. Portable: the module may be
// linked in (native tests) or loaded from Ocuvex.vdf (under Wine).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter_settings.h"
#include "host/host_records.h"

namespace ocuvex::standin {

using host::FilterActivation;
using host::FilterDefinition;
using host::FilterFunctions;
using host::FilterModule;
using host::VFBitmap;

struct ModuleEntry {
    host::FilterModuleInitProc init = nullptr;
    host::FilterModuleDeinitProc deinit = nullptr;
    host::ModuleHandle instance = nullptr;
};

// One entry of a module's script-function table as a host lists it.
struct ScriptFunction {
    std::string name;
    std::string arg_list;
    host::ScriptFunctionPtr func_ptr = nullptr;
};

// How far a host reads the table: the old editor up to the entry without an
// arg_list, newer editors up to the one without a func_ptr.
enum class TableWalk { kOldEditor, kNewEditor };

// The table of `object` as that host lists it: an entry without a name is an
// overload of the name above it.
std::vector<ScriptFunction> list_script_functions(const host::CScriptObject* object, TableWalk walk);

// The API range the stand-in announces before the module answers with its own.
inline constexpr int kHostVersion = 9;
inline constexpr int kHostCompatible = 4;

// The editor's side of one loaded module. Only one may exist at a time: the
// host services have no context argument.
class StandinHost {
  public:
    explicit StandinHost(ModuleEntry entry, bool refuse_registration = false);
    ~StandinHost();
    StandinHost(const StandinHost&) = delete;
    StandinHost& operator=(const StandinHost&) = delete;

    // Calls the init entry point; returns its result.
    int load();
    // Calls the deinit entry point.
    void unload();

    int api_version() const { return api_version_; }
    int compatible_version() const { return compatible_version_; }
    int definition_size() const { return definition_size_; }  // fd_len given to addFilter
    int add_calls() const { return add_calls_; }
    int remove_calls() const { return remove_calls_; }
    bool removed_own_copy() const { return removed_own_copy_; }
    bool registered() const { return registered_; }
    const FilterDefinition& filter() const { return copy_; }
    FilterDefinition& filter() { return copy_; }
    FilterModule& module() { return module_; }
    const FilterFunctions& functions() const { return functions_; }

  private:
    static FilterDefinition* add_filter(FilterModule* fm, FilterDefinition* fd, int fd_len);
    static void remove_filter(FilterDefinition* fd);

    ModuleEntry entry_;
    bool refuse_;
    bool loaded_ = false;
    FilterModule module_{};
    FilterFunctions functions_{};
    FilterDefinition copy_{};
    bool registered_ = false;
    int api_version_ = kHostVersion;
    int compatible_version_ = kHostCompatible;
    int definition_size_ = 0;
    int add_calls_ = 0;
    int remove_calls_ = 0;
    bool removed_own_copy_ = false;
};

// One filter instance: the zeroed settings block, the activation record and
// the two bitmaps, driven through the registered description's callbacks.
class FilterInstance {
  public:
    explicit FilterInstance(StandinHost& host);
    FilterInstance(const FilterInstance&) = delete;
    FilterInstance& operator=(const FilterInstance&) = delete;

    int init_result() const { return init_result_; }
    FilterSettings& settings() { return *static_cast<FilterSettings*>(fa_.filter_data); }
    FilterActivation& activation() { return fa_; }
    const VFBitmap& src() const { return src_; }
    const VFBitmap& dst() const { return dst_; }

    // Parses a statement such as "Config(5, 3)" and calls the first script
    // function of that name whose arguments match, handing the integers over
    // as values of `integer_type`: T_INT as the editor does, T_LONG as
    // AviSynth+ does. False when nothing matches.
    bool replay(std::string_view statement, std::int32_t integer_type = host::T_INT);

    // Presets dst to the source geometry, calls paramProc and derives dst's
    // modulo and size. Returns paramProc's flags.
    std::int32_t plan(std::int32_t src_w, std::int32_t src_h, std::intptr_t src_pitch);
    int start();
    // One frame: src_data and dst_data address the first (bottom) rows.
    int run(std::uint32_t* src_data, std::uint32_t* dst_data);
    int end();
    int configure(host::WindowHandle parent);
    std::string describe();
    // fssProc into a buffer of buflen bytes.
    bool script_statement(char* buf, int buflen);
    // fssProc into the editor's 4096-byte buffer; empty when it declines.
    std::string script_statement();

  private:
    StandinHost& host_;
    std::unique_ptr<std::uint64_t[]> data_;
    FilterActivation fa_{};
    VFBitmap src_{};
    VFBitmap dst_{};
    VFBitmap last_{};
    host::FilterStateInfo state_{};
    int init_result_ = 0;
};

}  // namespace ocuvex::standin
