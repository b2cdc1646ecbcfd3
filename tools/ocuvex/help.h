// The tool's help, written once and shown two ways: as text for --help and
// as the manual page ocuvex.1, which the build writes with ocuvex_manual.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

namespace ocuvex::cli {

// An option as the user sees it; the same row serves the parser, --help and
// the manual page.
struct OptionText {
    std::string_view name;   // "--crop-x"
    std::string_view alias;  // a short spelling, "-q", or empty
    std::string_view value;  // the value's placeholder, "N"; empty: the option takes no value
    std::string_view help;   // one paragraph, wrapped where it is shown
};

// Receives the parts of a help text in order.
class HelpWriter {
  public:
    virtual ~HelpWriter() = default;
    // A command line, e.g. "ocuvex raw --size WxH [settings] < in > out".
    virtual void usage(std::string_view synopsis) = 0;
    // Running text; its line breaks stand in --help, the manual refills it.
    virtual void paragraph(std::string_view text) = 0;
    // The title of the list of options or commands that follows.
    virtual void heading(std::string_view title) = 0;
    virtual void option(const OptionText& option) = 0;
    // What an example does, then its command line (lines may continue with '\').
    virtual void example(std::string_view what, std::string_view command) = 0;
};

// The text of --help, onto `out`.
std::unique_ptr<HelpWriter> text_help_writer(std::FILE* out);
// The manual page's roff, onto `out`.
std::unique_ptr<HelpWriter> manual_writer(std::FILE* out);

}  // namespace ocuvex::cli
