// ocuvex-media COMMAND [ARGS...]: the commands of ocuvex that need FFmpeg's
// libraries, which ocuvex runs by replacing itself with this program (see
// commands.h). Not meant to be started by hand, though it works the same.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/printable.h"
#include "tools/ocuvex/commands.h"

namespace {

struct MediaCommand {
    std::string_view name;
    int (*run)(std::span<const std::string_view> args);
};

constexpr MediaCommand kMediaCommands[] = {
    {"convert", ocuvex::cli::run_convert_job},
    {"analyze", ocuvex::cli::run_analyze_job},
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : argc), argv + argc);
    for (const MediaCommand& command : kMediaCommands) {
        if (!args.empty() && args[0] == command.name) {
            return ocuvex::cli::run_reporting_errors(command.run, std::span(args).subspan(1));
        }
    }
    std::fprintf(stderr, "ocuvex-media: expected a command of ocuvex that needs FFmpeg, e.g. convert%s%s\n",
                 args.empty() ? "" : ", not ", args.empty() ? "" : ocuvex::quoted(std::string(args[0])).c_str());
    return 2;
}
