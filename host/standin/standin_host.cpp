#include "host/standin/standin_host.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace ocuvex::standin {

namespace {

StandinHost* active_host = nullptr;

bool OCUVEX_HOST_CDECL no_feature() { return false; }
void OCUVEX_HOST_CDECL no_vtables(host::FilterVTbls* vtbls) {
    if (vtbls != nullptr) {
        vtbls->pvtblVBitmap = nullptr;
    }
}
void OCUVEX_HOST_CDECL no_out_of_memory() {}
void OCUVEX_HOST_CDECL no_except(const char* /*format*/, ...) {}
std::int32_t OCUVEX_HOST_CDECL no_cpu_flags() { return 0; }
std::int32_t OCUVEX_HOST_CDECL host_version_info(char* buf, int len) {
    if (buf != nullptr && len > 0) {
        std::snprintf(buf, static_cast<std::size_t>(len), "%s", "Ocuvex stand-in host");
    }
    return 1;
}

// "Name(1, -2)" into its name and integer arguments.
bool parse_statement(std::string_view text, std::string& name, std::vector<int>& args) {
    const auto open = text.find('(');
    if (open == std::string_view::npos || open == 0 || text.back() != ')') {
        return false;
    }
    name = std::string(text.substr(0, open));
    std::string_view rest = text.substr(open + 1, text.size() - open - 2);
    args.clear();
    while (!rest.empty()) {
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        std::size_t used = 0;
        const std::string number(rest.substr(0, rest.find(',')));
        try {
            args.push_back(std::stoi(number, &used));
        } catch (...) {
            return false;
        }
        if (number.find_first_not_of(' ', used) != std::string::npos) {
            return false;
        }
        const auto comma = rest.find(',');
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    }
    return true;
}

}  // namespace

std::vector<ScriptFunction> list_script_functions(const host::CScriptObject* object, TableWalk walk) {
    std::vector<ScriptFunction> functions;
    if (object == nullptr || object->func_list == nullptr) {
        return functions;
    }
    std::string name;
    for (const host::ScriptFunctionDef* def = object->func_list;
         walk == TableWalk::kOldEditor ? def->arg_list != nullptr : def->func_ptr != nullptr; ++def) {
        if (def->name != nullptr) {
            name = def->name;
        }
        functions.push_back({name, def->arg_list != nullptr ? def->arg_list : "", def->func_ptr});
    }
    return functions;
}

StandinHost::StandinHost(ModuleEntry entry, bool refuse_registration) : entry_(entry), refuse_(refuse_registration) {
    active_host = this;
    module_.hInstModule = entry.instance;
    module_.initProc = entry.init;
    module_.deinitProc = entry.deinit;
    functions_.addFilter = &add_filter;
    functions_.removeFilter = &remove_filter;
    functions_.isFPUEnabled = &no_feature;
    functions_.isMMXEnabled = &no_feature;
    functions_.InitVTables = &no_vtables;
    functions_.ExceptOutOfMemory = &no_out_of_memory;
    functions_.Except = &no_except;
    functions_.getCPUFlags = &no_cpu_flags;
    functions_.getHostVersionInfo = &host_version_info;
}

StandinHost::~StandinHost() {
    if (loaded_) {
        unload();
    }
    active_host = nullptr;
}

int StandinHost::load() {
    api_version_ = kHostVersion;
    compatible_version_ = kHostCompatible;
    const int result = entry_.init(&module_, &functions_, api_version_, compatible_version_);
    loaded_ = true;
    return result;
}

void StandinHost::unload() {
    entry_.deinit(&module_, &functions_);
    loaded_ = false;
}

FilterDefinition* StandinHost::add_filter(FilterModule* fm, FilterDefinition* fd, int fd_len) {
    StandinHost& self = *active_host;
    ++self.add_calls_;
    self.definition_size_ = fd_len;
    // The editor looks the module up by the pointer it passed to init.
    if (self.refuse_ || fm != &self.module_ || fd == nullptr || fd_len <= 0) {
        return nullptr;
    }
    self.copy_ = FilterDefinition{};
    std::memcpy(&self.copy_, fd, std::min<std::size_t>(static_cast<std::size_t>(fd_len), sizeof(FilterDefinition)));
    self.copy_.module = fm;
    self.registered_ = true;
    return &self.copy_;
}

void StandinHost::remove_filter(FilterDefinition* fd) {
    StandinHost& self = *active_host;
    ++self.remove_calls_;
    if (fd == &self.copy_ && self.registered_) {
        self.removed_own_copy_ = true;
        self.registered_ = false;
    }
}

FilterInstance::FilterInstance(StandinHost& host) : host_(host) {
    const FilterDefinition& fd = host.filter();
    fa_.filter = &host.filter();
    fa_.dst = &dst_;
    fa_.src = &src_;
    fa_.last = &last_;
    fa_.pfsi = &state_;
    if (fd.inst_data_size > 0) {
        const std::size_t words = (static_cast<std::size_t>(fd.inst_data_size) + 7) / 8;
        data_ = std::make_unique<std::uint64_t[]>(words);  // zero-filled
        fa_.filter_data = data_.get();
        if (fd.initProc != nullptr) {
            init_result_ = fd.initProc(&fa_, &host.functions());
        }
    }
}

bool FilterInstance::replay(std::string_view statement, std::int32_t integer_type) {
    std::string name;
    std::vector<int> args;
    if (!parse_statement(statement, name, args)) {
        return false;
    }
    for (const ScriptFunction& function : list_script_functions(host_.filter().script_obj, TableWalk::kNewEditor)) {
        const std::string_view signature = function.arg_list;
        if (function.name != name || signature.size() != args.size() + 1 ||
            signature.find_first_not_of('i', 1) != std::string_view::npos) {
            continue;
        }
        std::vector<host::CScriptValue> argv(args.size());
        for (std::size_t i = 0; i < args.size(); ++i) {
            argv[i].type = integer_type;
            if (integer_type == host::T_LONG) {
                argv[i].u.l = args[i];
            } else {
                argv[i].u.i = args[i];
            }
        }
        const int argc = static_cast<int>(args.size());
        switch (signature[0]) {
        case '0':
            host::function_cast<host::ScriptVoidFunctionPtr>(function.func_ptr)(nullptr, &fa_, argv.data(), argc);
            return true;
        case 'i':
            host::function_cast<host::ScriptIntFunctionPtr>(function.func_ptr)(nullptr, &fa_, argv.data(), argc);
            return true;
        case 'v':
            function.func_ptr(nullptr, &fa_, argv.data(), argc);
            return true;
        default:
            return false;
        }
    }
    return false;
}

std::int32_t FilterInstance::plan(std::int32_t src_w, std::int32_t src_h, std::intptr_t src_pitch) {
    src_ = VFBitmap{};
    src_.depth = 32;
    src_.w = src_w;
    src_.h = src_h;
    src_.pitch = src_pitch;
    src_.modulo = src_pitch - 4 * static_cast<std::intptr_t>(src_w);
    src_.size = src_pitch * src_h;
    dst_ = src_;  // the editor's preset: the source geometry, offset 0, no flags
    const FilterDefinition& fd = host_.filter();
    std::int32_t flags = static_cast<std::int32_t>(host::FILTERPARAM_SWAP_BUFFERS);
    if (fd.paramProc != nullptr) {
        flags = fd.paramProc(&fa_, &host_.functions());
    }
    // The editor derives these two and never recomputes the pitch.
    dst_.modulo = dst_.pitch - 4 * static_cast<std::intptr_t>(dst_.w);
    dst_.size = dst_.pitch * dst_.h;
    return flags;
}

int FilterInstance::start() {
    state_ = host::FilterStateInfo{};
    state_.lMicrosecsPerFrame = state_.lMicrosecsPerSrcFrame = 40000;
    const FilterDefinition& fd = host_.filter();
    return fd.startProc != nullptr ? fd.startProc(&fa_, &host_.functions()) : 0;
}

int FilterInstance::run(std::uint32_t* src_data, std::uint32_t* dst_data) {
    src_.data = src_data;
    dst_.data = dst_data;
    const int result = host_.filter().runProc(&fa_, &host_.functions());
    ++state_.lCurrentFrame;
    ++state_.lCurrentSourceFrame;
    return result;
}

int FilterInstance::end() {
    const FilterDefinition& fd = host_.filter();
    return fd.endProc != nullptr ? fd.endProc(&fa_, &host_.functions()) : 0;
}

int FilterInstance::configure(host::WindowHandle parent) {
    return host_.filter().configProc(&fa_, &host_.functions(), parent);
}

std::string FilterInstance::describe() {
    // stringProc has no length: the editor's buffer is generous.
    char buf[256] = {};
    host_.filter().stringProc(&fa_, &host_.functions(), buf);
    return std::string(buf, strnlen(buf, sizeof buf));
}

bool FilterInstance::script_statement(char* buf, int buflen) {
    return host_.filter().fssProc(&fa_, &host_.functions(), buf, buflen);
}

std::string FilterInstance::script_statement() {
    std::vector<char> buf(4096, '\0');
    if (!script_statement(buf.data(), static_cast<int>(buf.size()))) {
        return {};
    }
    return std::string(buf.data(), strnlen(buf.data(), buf.size()));
}

}  // namespace ocuvex::standin
