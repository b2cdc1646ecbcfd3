// The configuration dialog's logic: operations on the dialog's controls,
// keyed by control id, free of any window system so that it builds and is
// tested everywhere. The Win32 layer (run_dialog_win32.cpp) binds it to a
// real dialog; tests bind it to an in-memory stand-in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/anaglyph.h"
#include "core/filter_settings.h"
#include "dialog/control_ids.h"

namespace ocuvex::dialog {

// What the logic needs from the window system: the controls of one open
// dialog, the colour chooser and the end of the modal loop.
class DialogControls {
  public:
    virtual ~DialogControls() = default;

    // Replaces a control's text; an id without a control is ignored.
    virtual void set_text(int id, std::string_view text) = 0;
    // A control's text, at most kMaxControlText characters; "" without a control.
    virtual std::string text(int id) const = 0;
    // Checks or unchecks a check box or radio button, leaving the others alone.
    virtual void set_checked(int id, bool checked) = 0;
    virtual bool is_checked(int id) const = 0;
    // Runs the colour chooser from `colorref` (a COLORREF, red in bits 0-7).
    // True when the user accepted a colour, which `colorref` then holds.
    virtual bool choose_color(std::uint32_t& colorref) = 0;
    // Closes the dialog; `result` becomes the result of running it.
    virtual void end_dialog(int result) = 0;
};

// The dialog's result for OK and for Cancel.
inline constexpr int kResultOk = 0;
inline constexpr int kResultCancel = 1;

// The notes panel's text.
extern const char* const kNotesText;
// The version line, "Version MAJOR.MINOR - Aug 20 2015" (e.g. "Version 1.3 - Aug 20 2015").
std::string version_text();

// Settings and coefficients to control values, when the dialog opens.
void fill_controls(DialogControls& controls, const FilterSettings& settings);
// anaglyph_coefficients to the 18 coefficient texts.
void show_coefficients(DialogControls& controls);
// Control values to settings and coefficients, all or none, then close with kResultOk.
void apply_controls(DialogControls& controls, FilterSettings& settings);
// The 18 coefficient texts as a table.
AnaglyphMatrix read_coefficients(const DialogControls& controls);
// anaglyph_default_coefficients to anaglyph_coefficients, then show them.
void reset_coefficients(DialogControls& controls);
// The colour text to the colour chooser and back.
void choose_colour(DialogControls& controls);
// Close with kResultCancel; nothing is written back.
void cancel(DialogControls& controls);

// A command from the dialog: `id` is the control id (the low 16 bits of the
// command). Returns true when the command was OK, which the dialog procedure
// reports as handled.
bool handle_command(DialogControls& controls, FilterSettings& settings, int id);

// Exchanges bits 0-7 and 16-23: a frame's 0x00RRGGBB pixel to the chooser's
// COLORREF 0x00BBGGRR and back. Bits 24-31 are cleared.
constexpr std::uint32_t swap_red_blue(std::uint32_t color) {
    return ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}

}  // namespace ocuvex::dialog
