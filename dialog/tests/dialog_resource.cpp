#include "dialog/tests/dialog_resource.h"

#include <cstring>

namespace ocuvex::dialog::testing {
namespace {

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    std::size_t position() const { return position_; }

    std::uint16_t word() {
        if (position_ + 2 > bytes_.size()) {
            ok_ = false;
            return 0;
        }
        const auto value = static_cast<std::uint16_t>(bytes_[position_] | (bytes_[position_ + 1] << 8));
        position_ += 2;
        return value;
    }
    std::uint32_t dword() {
        const std::uint32_t low = word();
        return low | (static_cast<std::uint32_t>(word()) << 16);
    }
    std::uint8_t byte() {
        if (position_ >= bytes_.size()) {
            ok_ = false;
            return 0;
        }
        return bytes_[position_++];
    }
    void align(std::size_t n) { position_ = (position_ + n - 1) / n * n; }
    void skip(std::size_t n) { position_ += n; }

    // A zero-terminated UTF-16 string; the dialog's texts are plain ASCII.
    std::string string() {
        std::string text;
        for (std::uint16_t c = word(); ok_ && c != 0; c = word()) {
            text.push_back(c < 0x100 ? static_cast<char>(c) : '?');
        }
        return text;
    }

    // A string or an ordinal (0xFFFF followed by a number, returned as "#n").
    std::string string_or_ordinal() {
        const std::uint16_t first = word();
        if (first == 0) {
            return "";
        }
        if (first == 0xFFFF) {
            return "#" + std::to_string(word());
        }
        std::string text(1, static_cast<char>(first));
        return text + string();
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

std::string class_name(const std::string& raw) {
    if (raw == "#128") {
        return "Button";
    }
    if (raw == "#129") {
        return "Edit";
    }
    if (raw == "#130") {
        return "Static";
    }
    return raw;
}

}  // namespace

std::optional<ResourceDialog> parse_dialog_template(std::span<const std::uint8_t> bytes) {
    Reader in(bytes);
    if (in.word() != 1 || in.word() != 0xFFFF) {
        return std::nullopt;
    }
    ResourceDialog dialog;
    in.dword();  // help id
    dialog.ex_style = in.dword();
    dialog.style = in.dword();
    const int count = in.word();
    dialog.x = static_cast<std::int16_t>(in.word());
    dialog.y = static_cast<std::int16_t>(in.word());
    dialog.cx = static_cast<std::int16_t>(in.word());
    dialog.cy = static_cast<std::int16_t>(in.word());
    in.string_or_ordinal();  // menu
    in.string_or_ordinal();  // window class
    dialog.caption = in.string();
    if (dialog.style & 0x40) {  // DS_SETFONT
        dialog.font_size = in.word();
        in.word();  // weight
        in.byte();  // italic
        in.byte();  // character set
        dialog.font = in.string();
    }
    for (int i = 0; i < count && in.ok(); ++i) {
        in.align(4);
        ResourceControl control;
        in.dword();  // help id
        control.ex_style = in.dword();
        control.style = in.dword();
        control.x = static_cast<std::int16_t>(in.word());
        control.y = static_cast<std::int16_t>(in.word());
        control.cx = static_cast<std::int16_t>(in.word());
        control.cy = static_cast<std::int16_t>(in.word());
        control.id = static_cast<std::int16_t>(in.dword() & 0xFFFF);
        control.window_class = class_name(in.string_or_ordinal());
        control.text = in.string_or_ordinal();
        in.skip(in.word());  // creation data
        dialog.controls.push_back(control);
    }
    if (!in.ok()) {
        return std::nullopt;
    }
    return dialog;
}

std::optional<std::span<const std::uint8_t>> find_res_entry(std::span<const std::uint8_t> res_file, int type,
                                                            int name) {
    std::size_t offset = 0;
    while (offset + 8 <= res_file.size()) {
        Reader header(res_file.subspan(offset));
        const std::uint32_t data_size = header.dword();
        const std::uint32_t header_size = header.dword();
        const std::string entry_type = header.string_or_ordinal();
        const std::string entry_name = header.string_or_ordinal();
        if (!header.ok() || header_size < 8 || offset + header_size + data_size > res_file.size()) {
            return std::nullopt;
        }
        if (entry_type == "#" + std::to_string(type) && entry_name == "#" + std::to_string(name)) {
            return res_file.subspan(offset + header_size, data_size);
        }
        offset += header_size + data_size;
        offset = (offset + 3) / 4 * 4;
    }
    return std::nullopt;
}

}  // namespace ocuvex::dialog::testing
