// ocuvex: stereoscopic frame-layout conversions from the command line. It
// links no FFmpeg library; its FFmpeg commands run in ocuvex-media
// (commands.h).
#include <cstdio>
#include <string_view>
#include <vector>

#include "ocuvex_version.h"
#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/help.h"
#include "tools/ocuvex/settings_options.h"

int main(int argc, char** argv) {
    using namespace ocuvex::cli;
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : argc), argv + argc);
    if (args.empty()) {
        write_tool_help(*text_help_writer(stderr));
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        // The main command's own help follows: every option, an example per mode.
        const auto help = text_help_writer(stdout);
        write_tool_help(*help);
        write_convert_help(*help, true);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("ocuvex %s\n", OCUVEX_VERSION);
        return 0;
    }
    for (const Command& command : commands()) {
        if (args[0] == command.text.name) {
            return run_reporting_errors(command.run, std::span(args).subspan(1));
        }
    }
    std::fprintf(stderr, "ocuvex: unknown command '%s' (try ocuvex --help)\n", ocuvex::printable(args[0]).c_str());
    return 2;
}
