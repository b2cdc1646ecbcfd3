// ocuvex: stereoscopic frame-layout conversions from the command line.
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/settings_options.h"

namespace {

constexpr const char* kVersion = "1.3.0";

constexpr const char* kUsage =
    "usage: ocuvex COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  convert   convert a video or still image file (mp4, mkv, mov, png, jpg, bmp, tif, ...)\n"
    "  raw       convert raw 32-bit frames from standard input to standard output\n"
    "  geometry  print the output size and corrected settings as JSON\n"
    "\n"
    "  ocuvex COMMAND --help   explains a command's options\n"
    "  ocuvex --version        prints the version\n";

struct Command {
    std::string_view name;
    int (*run)(std::span<const std::string_view>);
};

constexpr Command kCommands[] = {
    {"convert", ocuvex::cli::run_convert},
    {"raw", ocuvex::cli::run_raw},
    {"geometry", ocuvex::cli::run_geometry},
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : argc), argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        // The main command's own help follows: every option, an example per mode.
        std::fputs(kUsage, stdout);
        std::fputs("\n", stdout);
        const std::string_view help[] = {"--help"};
        return ocuvex::cli::run_convert(help);
    }
    if (args[0] == "--version") {
        std::printf("ocuvex %s\n", kVersion);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (args[0] == command.name) {
            try {
                return command.run(std::span(args).subspan(1));
            } catch (const ocuvex::cli::UsageError& error) {
                std::fprintf(stderr, "ocuvex: %s\n", error.what());
                return 2;
            } catch (const std::exception& error) {
                std::fprintf(stderr, "ocuvex: %s\n", error.what());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "ocuvex: unknown command '%s' (try ocuvex --help)\n", ocuvex::cli::printable(args[0]).c_str());
    return 2;
}
