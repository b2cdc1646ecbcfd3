#include "tools/ocuvex/help.h"

#include <string>

namespace ocuvex::cli {

namespace {

// --help: options in two columns, their help wrapped to the width of the prose.
class TextHelp final : public HelpWriter {
  public:
    explicit TextHelp(std::FILE* out) : out_(out) {}

    void usage(std::string_view synopsis) override {
        put(block_start() + "usage: " + std::string(synopsis) + "\n");
        separate_ = false;
    }
    void paragraph(std::string_view text) override { put(block_start() + std::string(text) + "\n"); }
    void heading(std::string_view title) override {
        put(block_start() + std::string(title) + ":\n");
        separate_ = false;
    }
    void option(const OptionText& option) override {
        std::string line = "  ";
        if (!option.alias.empty()) {
            line += std::string(option.alias) + ", ";
        }
        line += option.name;
        if (!option.value.empty()) {
            line += " " + std::string(option.value);
        }
        line += line.size() < kHelpColumn ? std::string(kHelpColumn - line.size(), ' ')
                                          : "\n" + std::string(kHelpColumn, ' ');
        // Word by word up to the width; continued lines start at the help column.
        std::size_t column = kHelpColumn;
        bool first = true;
        std::string_view rest = option.help;
        while (!rest.empty()) {
            const std::size_t space = rest.find(' ');
            const std::string_view word = rest.substr(0, space);
            rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
            if (!first && column + 1 + word.size() > kWidth) {
                line += "\n" + std::string(kHelpColumn, ' ');
                column = kHelpColumn;
                first = true;
            }
            if (!first) {
                line += ' ';
                ++column;
            }
            line += word;
            column += word.size();
            first = false;
        }
        put(line + "\n");
        separate_ = true;
    }
    void example(std::string_view what, std::string_view command) override {
        std::string text = "  " + std::string(what) + "\n";
        while (!command.empty()) {
            const std::size_t end = command.find('\n');
            text += "    " + std::string(command.substr(0, end)) + "\n";
            command = end == std::string_view::npos ? std::string_view{} : command.substr(end + 1);
        }
        put(text);
        separate_ = true;
    }

  private:
    static constexpr std::size_t kHelpColumn = 24;
    static constexpr std::size_t kWidth = 100;

    // A blank line between blocks, but not after a usage line or a heading.
    std::string block_start() {
        const bool blank = separate_;
        separate_ = true;
        return blank ? "\n" : "";
    }
    void put(const std::string& text) { std::fputs(text.c_str(), out_); }

    std::FILE* out_;
    bool separate_ = false;
};

// The manual page, in the man macros: roff fills the paragraphs itself.
class ManualHelp final : public HelpWriter {
  public:
    explicit ManualHelp(std::FILE* out) : out_(out) {}

    void usage(std::string_view synopsis) override { put(".PP\n\\fB" + escape(synopsis) + "\\fR\n"); }
    void paragraph(std::string_view text) override { put(".PP\n" + escape(text) + "\n"); }
    void heading(std::string_view title) override { put(".SS " + escape(title) + "\n"); }
    void option(const OptionText& option) override {
        std::string tag;
        if (!option.alias.empty()) {
            tag = "\\fB" + escape(option.alias) + "\\fR, ";
        }
        tag += "\\fB" + escape(option.name) + "\\fR";
        if (!option.value.empty()) {
            tag += " \\fI" + escape(option.value) + "\\fR";
        }
        put(".TP\n" + tag + "\n" + escape(option.help) + "\n");
    }
    void example(std::string_view what, std::string_view command) override {
        put(".PP\n" + escape(what) + "\n.RS 4\n.nf\n" + escape(command) + "\n.fi\n.RE\n");
    }

  private:
    // Backslashes and minus signs as roff wants them (a plain '-' may print
    // as a hyphen, which a copied option would not survive); a line that
    // starts with a control character is shielded.
    static std::string escape(std::string_view text) {
        std::string out;
        bool line_start = true;
        for (const char c : text) {
            if (line_start && (c == '.' || c == '\'')) {
                out += "\\&";
            }
            if (c == '\\') {
                out += "\\e";
            } else if (c == '-') {
                out += "\\-";
            } else {
                out += c;
            }
            line_start = c == '\n';
        }
        return out;
    }
    void put(const std::string& text) { std::fputs(text.c_str(), out_); }

    std::FILE* out_;
};

}  // namespace

std::unique_ptr<HelpWriter> text_help_writer(std::FILE* out) { return std::make_unique<TextHelp>(out); }
std::unique_ptr<HelpWriter> manual_writer(std::FILE* out) { return std::make_unique<ManualHelp>(out); }

}  // namespace ocuvex::cli
