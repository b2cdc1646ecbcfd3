// How ocuvex runs its FFmpeg commands: it replaces itself with ocuvex-media,
// found at the same place relative to the running program in the build tree
// and wherever the tool is installed (bin/ocuvex and
// libexec/ocuvex/ocuvex-media; OCUVEX_MEDIA_HELPER is that relative path).
#include <sys/auxv.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ocuvex/commands.h"

namespace ocuvex::cli {

namespace {

// The running program's own file, links resolved; empty when unknown.
std::string own_path() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        return std::string(path, static_cast<std::size_t>(length));
    }
    // Without /proc (a bare chroot): the name the program was started by.
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the auxiliary vector holds the name's address as a number
    const auto* started_as = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (started_as != nullptr && realpath(started_as, path) != nullptr) {
        return path;
    }
    return {};
}

}  // namespace

int run_in_media_helper(std::string_view command, std::span<const std::string_view> args) {
    const std::string self = own_path();
    if (self.empty()) {
        std::fprintf(stderr, "ocuvex: %s: cannot find the running program's own file to start ocuvex-media\n",
                     std::string(command).c_str());
        return 1;
    }
    const std::string helper = self.substr(0, self.rfind('/') + 1) + OCUVEX_MEDIA_HELPER;
    std::vector<std::string> words = {helper, std::string(command)};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    execv(helper.c_str(), argv.data());
    std::fprintf(stderr, "ocuvex: %s: cannot start %s: %s\n", std::string(command).c_str(), helper.c_str(),
                 std::strerror(errno));
    return 1;
}

}  // namespace ocuvex::cli
