// An in-memory stand-in for the window system: the controls of IDD_CONFIG
// built from the template table, a scripted colour chooser, and a user who
// types, clicks and presses buttons.
#pragma once

#include <deque>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "dialog/config_dialog.h"
#include "dialog/config_template.h"
#include "dialog/text_numbers.h"

namespace ocuvex::dialog::testing {

class FakeDialog final : public DialogControls {
  public:
    struct ChooserAnswer {
        bool accept;
        std::uint32_t colorref;
    };

    FakeDialog() {
        for (const ControlTemplate& control : kConfigControls) {
            if (control.id != -1) {
                const Kind kind = is_check_box(control)      ? Kind::kCheckBox
                                  : is_radio_button(control) ? Kind::kRadio
                                                             : Kind::kOther;
                controls_[control.id] = Control{kind, control.text, false};
            }
        }
    }

    // The dialog opens over `settings`, as WM_INITDIALOG does.
    void open(FilterSettings& settings) {
        settings_ = &settings;
        fill_controls(*this, settings);
    }

    // The user replaces a control's text.
    void type(int id, std::string_view text) { set_text(id, text); }

    // The user clicks a control: check boxes toggle, radio buttons check
    // themselves and uncheck the rest of their group, push buttons send their
    // command. Returns what the dialog procedure answers for a command.
    bool click(int id) {
        Control& control = controls_.at(id);
        switch (control.kind) {
        case Kind::kCheckBox:
            control.checked = !control.checked;
            return false;
        case Kind::kRadio:
            for (auto& [other_id, other] : controls_) {
                if (other.kind == Kind::kRadio) {
                    other.checked = other_id == id;
                }
            }
            return false;
        case Kind::kOther:
            return press(id);
        }
        return false;
    }

    // A WM_COMMAND with this id, as the Enter key (IDOK) or Escape (IDCANCEL) send.
    bool press(int id) { return handle_command(*this, *settings_, id); }

    // Answers for the coming chooser runs, in order; without one the chooser is cancelled.
    void answer_chooser(ChooserAnswer answer) { chooser_answers_.push_back(answer); }
    const std::vector<std::uint32_t>& chooser_offers() const { return chooser_offers_; }

    std::optional<int> result() const { return result_; }

    // Reading this control's text runs out of memory.
    void fail_reading(int id) { failing_control_ = id; }

    // DialogControls.
    void set_text(int id, std::string_view text) override {
        if (auto it = controls_.find(id); it != controls_.end()) {
            it->second.text = std::string(text);
        }
    }
    std::string text(int id) const override {
        if (id == failing_control_) {
            throw std::bad_alloc();
        }
        auto it = controls_.find(id);
        if (it == controls_.end()) {
            return "";
        }
        return it->second.text.substr(0, kMaxControlText);
    }
    void set_checked(int id, bool checked) override {
        if (auto it = controls_.find(id); it != controls_.end()) {
            it->second.checked = checked;
        }
    }
    bool is_checked(int id) const override {
        auto it = controls_.find(id);
        return it != controls_.end() && it->second.checked;
    }
    bool choose_color(std::uint32_t& colorref) override {
        chooser_offers_.push_back(colorref);
        if (chooser_answers_.empty()) {
            return false;
        }
        const ChooserAnswer answer = chooser_answers_.front();
        chooser_answers_.pop_front();
        if (answer.accept) {
            colorref = answer.colorref;
        }
        return answer.accept;
    }
    void end_dialog(int result) override { result_ = result; }

  private:
    // How a click acts on the control.
    enum class Kind { kCheckBox, kRadio, kOther };
    struct Control {
        Kind kind;
        std::string text;
        bool checked;
    };

    std::map<int, Control> controls_;
    FilterSettings* settings_ = nullptr;
    std::deque<ChooserAnswer> chooser_answers_;
    std::vector<std::uint32_t> chooser_offers_;
    std::optional<int> result_;
    std::optional<int> failing_control_;
};

}  // namespace ocuvex::dialog::testing
