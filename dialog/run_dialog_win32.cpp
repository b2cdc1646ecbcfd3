// The configuration dialog on Win32: the modal dialog from the module's
// IDD_CONFIG template, its message handler and the common colour chooser,
// bound to the portable logic of config_dialog.cpp.
#include <windows.h>  // also declares ChooseColorA (commdlg.h)

#include <string>

#include "dialog/config_dialog.h"
#include "dialog/run_dialog.h"
#include "dialog/text_numbers.h"
#include "host/host_boundary.h"

namespace ocuvex::dialog {

// The colour chooser's 16 custom colours, shared by every dialog in the process.
COLORREF custom_colors[16] = {};

namespace {

class Win32Controls final : public DialogControls {
  public:
    explicit Win32Controls(HWND dialog) : dialog_(dialog) {}

    void set_text(int id, std::string_view text) override {
        const std::string copy(text);
        SetDlgItemTextA(dialog_, id, copy.c_str());
    }

    std::string text(int id) const override {
        char buffer[kMaxControlText + 1] = {};
        const UINT length = GetDlgItemTextA(dialog_, id, buffer, sizeof buffer);
        return std::string(buffer, length);
    }

    void set_checked(int id, bool checked) override {
        CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }

    bool is_checked(int id) const override { return IsDlgButtonChecked(dialog_, id) != 0; }

    bool choose_color(std::uint32_t& colorref) override {
        CHOOSECOLORA chooser = {};
        chooser.lStructSize = sizeof chooser;
        chooser.hwndOwner = dialog_;
        chooser.rgbResult = colorref;
        chooser.lpCustColors = custom_colors;
        chooser.Flags = CC_RGBINIT | CC_FULLOPEN;
        if (ChooseColorA(&chooser) != TRUE) {
            return false;
        }
        colorref = chooser.rgbResult;
        return true;
    }

    void end_dialog(int result) override { EndDialog(dialog_, result); }

  private:
    HWND dialog_;
};

// What DialogBoxParamA returns when the dialog cannot be created; the dialog
// ends with it too when it cannot go on.
constexpr INT_PTR kDialogFailed = -1;

// The settings address lives in the dialog's user slot: DWL_USER (8) on
// 32-bit Windows, DWLP_USER on 64-bit, where a pointer does not fit the
// 32-bit slot that SetWindowLongA writes.
INT_PTR handle_message(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        Win32Controls controls(dialog);
        fill_controls(controls, *reinterpret_cast<FilterSettings*>(lparam));
        return TRUE;
    }
    case WM_COMMAND: {
        auto* settings = reinterpret_cast<FilterSettings*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (settings == nullptr) {
            return FALSE;  // a notification from a control created before WM_INITDIALOG
        }
        Win32Controls controls(dialog);
        return handle_command(controls, *settings, LOWORD(wparam)) ? TRUE : FALSE;
    }
    default:
        return FALSE;
    }
}

// A dialog half filled or half applied must not stay open: it ends as one
// that could not be created, and OK's writes happen only once all is read.
INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return host::guard_host_call([&] { return handle_message(dialog, message, wparam, lparam); },
                                 [dialog] {
                                     EndDialog(dialog, kDialogFailed);
                                     return static_cast<INT_PTR>(TRUE);
                                 });
}

}  // namespace

int run_config_dialog(void* module_instance, void* owner, FilterSettings& settings) {
    const INT_PTR result =
        DialogBoxParamA(static_cast<HINSTANCE>(module_instance), MAKEINTRESOURCEA(IDD_CONFIG), static_cast<HWND>(owner),
                        config_dialog_proc, reinterpret_cast<LPARAM>(&settings));
    return static_cast<int>(result);
}

}  // namespace ocuvex::dialog
