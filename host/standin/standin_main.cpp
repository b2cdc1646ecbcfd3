// The stand-in host as a program: loads a module, checks it, converts frames
// and writes the conversion report for comparison with another platform's.
//   ocuvex_standin MODULE REPORT
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/standin/host_checks.h"
#include "host/standin/module_loader.h"

int main(int argc, char** argv) {
    using namespace ocuvex::standin;
    if (argc != 3) {
        std::fprintf(stderr, "usage: ocuvex_standin MODULE REPORT\n");
        return 2;
    }
    ModuleEntry entry;
    std::string error;
    if (!load_module(argv[1], entry, error)) {
        std::fprintf(stderr, "ocuvex_standin: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> failures = run_host_checks(entry);
    for (std::string& f : check_module_file(argv[1], entry)) {
        failures.push_back(std::move(f));
    }
    const std::string report = conversion_report(entry, failures);

    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || std::fwrite(report.data(), 1, report.size(), out) != report.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "ocuvex_standin: cannot write '%s'\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    for (const std::string& f : failures) {
        std::fprintf(stderr, "ocuvex_standin: FAILED: %s\n", f.c_str());
    }
    std::printf("ocuvex_standin: %zu check(s) failed, %zu report lines\n", failures.size(),
                static_cast<std::size_t>(std::count(report.begin(), report.end(), '\n')));
    return failures.empty() ? 0 : 1;
}
