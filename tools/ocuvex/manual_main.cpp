// ocuvex_manual PATH: writes the manual page ocuvex.1 from the same help the
// tool prints, so the two never differ. Run by the build; PATH appears only
// when complete.
#include <cstdio>
#include <string>

#include "ocuvex_version.h"
#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/help.h"

namespace {

using namespace ocuvex::cli;

void write_manual(std::FILE* file) {
    std::fprintf(file, ".TH OCUVEX 1 \"\" \"ocuvex %s\" \"User Commands\"\n", OCUVEX_VERSION);
    std::fprintf(file, ".SH NAME\nocuvex \\- %s\n.SH DESCRIPTION\n", kToolSummary);
    const auto out = manual_writer(file);
    write_tool_help(*out);
    write_settings_help(*out);
    write_packing_help(*out);
    for (const Command& command : commands()) {
        std::string title = "OCUVEX " + std::string(command.text.name);
        for (char& c : title) {
            c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        }
        std::fprintf(file, ".SH \"%s\"\n", title.c_str());
        command.write_help(*out, false);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ocuvex_manual PATH\n", stderr);
        return 2;
    }
    const std::string path = argv[1];
    const std::string temp = path + ".tmp";
    std::FILE* file = std::fopen(temp.c_str(), "w");
    if (file == nullptr) {
        std::perror(temp.c_str());
        return 1;
    }
    write_manual(file);
    const bool written = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !written || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        std::remove(temp.c_str());
        return 1;
    }
    return 0;
}
