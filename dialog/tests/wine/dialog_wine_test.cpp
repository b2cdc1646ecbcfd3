// The real configuration dialog of Ocuvex.vdf, opened through the stand-in
// host's configProc and driven from a second thread like a user would:
// typing, clicking, the keyboard, the colour chooser. Runs under Wine.
//   dialog_wine_test MODULE [SHOT_DIR]
// With SHOT_DIR, the first dialog waits for SHOT_DIR/dialog.done after
// writing its screen rectangle to SHOT_DIR/dialog.ready.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/anaglyph.h"
#include "core/filter_settings.h"
#include "dialog/config_dialog.h"
#include "dialog/config_template.h"
#include "dialog/control_ids.h"
#include "dialog/text_numbers.h"
#include "host/standin/module_loader.h"
#include "host/standin/standin_host.h"
#include "ocuvex_version.h"

namespace {

using namespace ocuvex;
using namespace ocuvex::dialog;
using standin::FilterInstance;
using standin::StandinHost;

constexpr DWORD kWaitMs = 10000;

int failures = 0;

void fail(const std::string& scenario, const std::string& what) {
    ++failures;
    std::printf("FAIL %s: %s\n", scenario.c_str(), what.c_str());
    std::fflush(stdout);
}

void expect(bool ok, const std::string& scenario, const std::string& what) {
    if (!ok) {
        fail(scenario, what);
    }
}

// A visible dialog of this process with the given caption; other programs
// on the same Wine desktop may have dialogs of their own.
HWND wait_for_window(const char* caption) {
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", caption); window != nullptr;
             window = FindWindowExA(nullptr, window, "#32770", caption)) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window)) {
                return window;
            }
        }
        Sleep(20);
    }
    return nullptr;
}

void wait_until_gone(HWND window) {
    for (DWORD waited = 0; waited < kWaitMs && IsWindow(window); waited += 20) {
        Sleep(20);
    }
}

std::string text(HWND dialog, int id) {
    char buffer[2048] = {};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

void type(HWND dialog, int id, const char* value) { SetDlgItemTextA(dialog, id, value); }

void click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// For commands that end the dialog or open a nested modal loop: the driving
// thread must not wait for them.
void post_command(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The key goes to the control with the focus, as typed keys do; the dialog
// manager turns Enter and Escape into IDOK and IDCANCEL.
void post_key(HWND dialog, WPARAM key) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus != nullptr) {
        target = info.hwndFocus;
    }
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

struct Drive {
    std::string scenario;
    std::function<void(HWND)> act;
};

DWORD WINAPI drive_thread(void* argument) {
    auto* drive = static_cast<Drive*>(argument);
    HWND dialog = wait_for_window(kDialogCaption);
    if (dialog == nullptr) {
        fail(drive->scenario, "the dialog did not open");
        std::fflush(stdout);
        ExitProcess(3);  // the main thread may be stuck in a modal loop
    }
    drive->act(dialog);
    return 0;
}

// Opens the instance's dialog through configProc while `act` drives it.
int configure(FilterInstance& instance, HWND owner, const std::string& scenario, std::function<void(HWND)> act) {
    Drive drive{scenario, std::move(act)};
    HANDLE thread = CreateThread(nullptr, 0, drive_thread, &drive, 0, nullptr);
    const int result = instance.configure(owner);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return result;
}

bool same_record(const FilterSettings& a, const FilterSettings& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string hex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08x", static_cast<unsigned>(value));
    return buffer;
}

// Every coefficient text of the dialog, as "%g" shows the matrix.
void expect_coefficients(HWND dialog, const AnaglyphMatrix& m, const std::string& scenario) {
    for (int i = 0; i < IDC_COEF_COUNT; ++i) {
        const std::string want = format_coefficient(m[static_cast<std::size_t>(i)]);
        const std::string got = text(dialog, IDC_COEF_FIRST + i);
        expect(got == want, scenario, "coefficient " + std::to_string(i) + " shows '" + got + "', not '" + want + "'");
    }
}

// The live dialog against the template: classes, ids, styles, texts and
// pixel rectangles, in creation (tab) order.
void check_live_controls(HWND dialog) {
    const std::string scenario = "live controls";
    char caption[256] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    expect(std::string(caption) == kDialogCaption, scenario, std::string("caption '") + caption + "'");
    std::size_t index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT), ++index) {
        if (index >= kConfigControls.size()) {
            continue;
        }
        const ControlTemplate& want = kConfigControls[index];
        const std::string where = "control " + std::to_string(index) + " (" + want.text + "): ";
        const int id = static_cast<std::int16_t>(GetDlgCtrlID(child) & 0xFFFF);
        expect(id == want.id, scenario, where + "id " + std::to_string(id));
        char window_class[64] = {};
        GetClassNameA(child, window_class, sizeof window_class);
        expect(lstrcmpiA(window_class, want.window_class) == 0, scenario, where + "class " + window_class);
        // What the platform changes when it creates the controls: bordered
        // edits and panels get a client edge instead of WS_BORDER, and the
        // checked radio button of the group gains WS_TABSTOP so that the Tab
        // key can reach the group. Anything else the resource compiler or the
        // platform added shows here.
        DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
        const DWORD ex_style = static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE));
        if ((want.style & WS_BORDER) && (ex_style & WS_EX_CLIENTEDGE)) {
            style |= WS_BORDER;
        }
        if (is_radio_button(want) && checked(dialog, want.id)) {
            style &= ~static_cast<DWORD>(WS_TABSTOP);
        }
        expect(style == want.style, scenario, where + "live style " + hex(style) + ", extended " + hex(ex_style));
        if (lstrcmpiA(want.window_class, "Edit") != 0 && want.id != IDC_NOTES && want.id != IDC_VERSION) {
            char live[512] = {};
            GetWindowTextA(child, live, sizeof live);
            expect(std::string(live) == want.text, scenario, where + "text '" + live + "'");
        }
        // The dialog manager scales the position and the size each on its own.
        RECT scaled = {want.x, want.y, want.cx, want.cy};
        MapDialogRect(dialog, &scaled);
        const RECT expected = {scaled.left, scaled.top, scaled.left + scaled.right, scaled.top + scaled.bottom};
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        expect(EqualRect(&expected, &actual), scenario,
               where + "at " + std::to_string(actual.left) + "," + std::to_string(actual.top) + " size " +
                   std::to_string(actual.right - actual.left) + "x" + std::to_string(actual.bottom - actual.top) +
                   ", not " + std::to_string(expected.left) + "," + std::to_string(expected.top) + " size " +
                   std::to_string(expected.right - expected.left) + "x" +
                   std::to_string(expected.bottom - expected.top));
    }
    expect(index == kConfigControls.size(), scenario, std::to_string(index) + " controls");
}

void check_fresh_dialog(HWND dialog) {
    const std::string scenario = "fresh instance";
    expect(!checked(dialog, IDC_SWAP), scenario, "swap checked");
    for (int mode = kFirstMode; mode <= kLastMode; ++mode) {
        expect(checked(dialog, mode) == (mode == MODE_NOP), scenario, "radio " + std::to_string(mode));
    }
    const std::pair<int, const char*> texts[] = {
        {IDC_CENTER_WIDTH, "0"},
        {IDC_FILL_COLOR, "00000000"},
        {IDC_ALIGN_HORZ, "0"},
        {IDC_ALIGN_VERT, "0"},
        {IDC_CROP_X, "0"},
        {IDC_CROP_Y, "0"},
        {IDC_CROP_WIDTH, "10"},
        {IDC_CROP_HEIGHT, "10"},
        {IDC_COEF_FIRST, "0.4561"},
        {IDC_COEF_FIRST + 5, "-0.00155529"},
        {IDC_COEF_FIRST + 17, "1.2264"},
        {IDC_VERSION, "Version " OCUVEX_VERSION_SHORT " - Aug 20 2015"},
    };
    for (const auto& [id, want] : texts) {
        const std::string got = text(dialog, id);
        expect(got == want, scenario, "control " + std::to_string(id) + " shows '" + got + "'");
    }
    expect_coefficients(dialog, anaglyph_default_coefficients, scenario);
    const std::string notes = text(dialog, IDC_NOTES);
    expect(notes == kNotesText, scenario, "notes '" + notes.substr(0, 40) + "...'");
}

void wait_for_screenshot(HWND dialog, const char* shot_dir) {
    RECT rect;
    GetWindowRect(dialog, &rect);
    const std::string ready = std::string(shot_dir) + "\\dialog.ready";
    const std::string done = std::string(shot_dir) + "\\dialog.done";
    if (std::FILE* out = std::fopen((ready + ".tmp").c_str(), "w")) {
        std::fprintf(out, "%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
        std::fclose(out);
        MoveFileA((ready + ".tmp").c_str(), ready.c_str());
    }
    for (DWORD waited = 0; waited < 30000; waited += 50) {
        if (GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return;
        }
        Sleep(50);
    }
    fail("screenshot", "no dialog.done within 30 s");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: dialog_wine_test MODULE [SHOT_DIR]\n");
        return 2;
    }
    const char* shot_dir = argc == 3 ? argv[2] : nullptr;
    standin::ModuleEntry entry;
    std::string error;
    if (!standin::load_module(argv[1], entry, error)) {
        std::fprintf(stderr, "dialog_wine_test: %s\n", error.c_str());
        return 1;
    }
    StandinHost host(entry);
    if (host.load() != 0) {
        std::fprintf(stderr, "dialog_wine_test: the module refused to register\n");
        return 1;
    }

    // The host's window that owns the dialog.
    HWND owner = CreateWindowExA(0, "STATIC", "Stand-in host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);

    {  // A fresh instance: the filled controls, the live template, OK changes nothing.
        FilterInstance instance(host);
        const FilterSettings before = instance.settings();
        const int result = configure(instance, owner, "fresh instance", [&](HWND dialog) {
            expect(GetWindow(dialog, GW_OWNER) == owner, "fresh instance", "the dialog is not owned by the host");
            check_fresh_dialog(dialog);
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
            expect(info.hwndFocus == GetDlgItem(dialog, IDC_SWAP), "fresh instance",
                   "the keyboard focus is not on the swap box");
            check_live_controls(dialog);
            if (shot_dir != nullptr) {
                wait_for_screenshot(dialog, shot_dir);
            }
            post_command(dialog, IDOK);
        });
        expect(result == kResultOk, "fresh instance", "OK gave " + std::to_string(result));
        expect(same_record(instance.settings(), before), "fresh instance", "OK without changes changed the record");
    }

    {  // Typed values read by their rules.
        const std::string scenario = "typed values";
        FilterInstance instance(host);
        const int result = configure(instance, owner, scenario, [&](HWND dialog) {
            click(dialog, IDC_SWAP);
            click(dialog, MODE_ANAGLYPH);
            type(dialog, IDC_ALIGN_HORZ, " -12px");
            type(dialog, IDC_ALIGN_VERT, "abc");
            type(dialog, IDC_CENTER_WIDTH, "99999999999");
            type(dialog, IDC_CROP_X, "");
            type(dialog, IDC_CROP_Y, "-99999999999");
            type(dialog, IDC_CROP_WIDTH, "7");
            type(dialog, IDC_CROP_HEIGHT, "+8");
            type(dialog, IDC_FILL_COLOR, "ff8000");
            type(dialog, IDC_COEF_FIRST + 0, "1e-3");
            type(dialog, IDC_COEF_FIRST + 1, "");
            type(dialog, IDC_COEF_FIRST + 2, "0.123456789");
            post_command(dialog, IDOK);
        });
        const FilterSettings& s = instance.settings();
        expect(result == kResultOk, scenario, "result " + std::to_string(result));
        expect(s.swap_lr == 1 && s.mode == MODE_ANAGLYPH, scenario,
               "swap " + std::to_string(s.swap_lr) + " mode " + std::to_string(s.mode));
        expect(s.align_horz == -12, scenario, "\" -12px\" gave " + std::to_string(s.align_horz));
        expect(s.align_vert == 0, scenario, "\"abc\" gave " + std::to_string(s.align_vert));
        expect(s.center_width == 2147483647, scenario, "\"99999999999\" gave " + std::to_string(s.center_width));
        expect(s.crop_x == 0, scenario, "\"\" gave " + std::to_string(s.crop_x));
        expect(s.crop_y == -2147483647 - 1, scenario, "\"-99999999999\" gave " + std::to_string(s.crop_y));
        expect(s.crop_width == 7 && s.crop_height == 8, scenario, "crop size");
        expect(s.fill_color == 0x00FF8000, scenario, "\"ff8000\" gave " + hex(s.fill_color));

        // The shared table now holds the typed coefficients: the next dialog shows them.
        AnaglyphMatrix expected = anaglyph_default_coefficients;
        expected[0] = 0.001;
        expected[1] = 0.0;
        expected[2] = 0.123456789;
        FilterInstance next(host);
        configure(next, owner, "coefficients in the next instance", [&](HWND dialog) {
            expect_coefficients(dialog, expected, "coefficients in the next instance");
            expect(text(dialog, IDC_COEF_FIRST + 2) == "0.123457", "coefficients in the next instance", "six digits");
            post_command(dialog, IDCANCEL);
        });

        // Every anaglyph instance converts with the shared table.
        next.settings().mode = MODE_ANAGLYPH;
        std::uint32_t src[4] = {0x00FF0000, 0x00123456, 0x00000000, 0x00FEDCBA};
        std::uint32_t dst[2] = {};
        next.plan(4, 1, 16);
        next.start();
        next.run(src, dst);
        next.end();
        for (int j = 0; j < 2; ++j) {
            const std::uint32_t want = anaglyph_pixel(expected, src[j], src[2 + j]);
            expect(dst[j] == want, "anaglyph with the typed coefficients",
                   "pixel " + std::to_string(j) + " " + hex(dst[j]) + ", not " + hex(want));
        }
    }

    {  // Colour texts: "%08lx" scanned; no value keeps the old colour.
        const std::pair<const char*, std::uint32_t> cases[] = {
            {"0xff", 0x000000FF}, {"123456789", 0x12345678}, {"xyz", 0x00ABCDEF}, {"", 0x00ABCDEF}};
        for (const auto& [typed, want] : cases) {
            const std::string scenario = std::string("colour \"") + typed + "\"";
            FilterInstance instance(host);
            instance.settings().fill_color = 0x00ABCDEF;
            configure(instance, owner, scenario, [&](HWND dialog) {
                type(dialog, IDC_FILL_COLOR, typed);
                post_command(dialog, IDOK);
            });
            expect(instance.settings().fill_color == want, scenario, "gave " + hex(instance.settings().fill_color));
        }
    }

    {  // No radio button checked: MODE_NOP. Enter is OK.
        const std::string scenario = "no radio checked, Enter";
        FilterInstance instance(host);
        instance.settings().mode = MODE_CROPPING;
        const int result = configure(instance, owner, scenario, [&](HWND dialog) {
            CheckDlgButton(dialog, MODE_CROPPING, BST_UNCHECKED);
            type(dialog, IDC_CROP_WIDTH, "33");
            post_key(dialog, VK_RETURN);
        });
        expect(result == kResultOk, scenario, "result " + std::to_string(result));
        expect(instance.settings().mode == MODE_NOP, scenario, "mode " + std::to_string(instance.settings().mode));
        expect(instance.settings().crop_width == 33, scenario, "crop width not applied");
    }

    // Cancel, Escape and the close box end the dialog with 1 and write nothing.
    const std::pair<const char*, std::function<void(HWND)>> cancels[] = {
        {"Cancel", [](HWND dialog) { post_command(dialog, IDCANCEL); }},
        {"Escape", [](HWND dialog) { post_key(dialog, VK_ESCAPE); }},
        {"close box", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& [name, finish] : cancels) {
        const std::string scenario = name;
        FilterInstance instance(host);
        instance.settings().mode = MODE_CENTERING;
        instance.settings().center_width = 16;
        const FilterSettings before = instance.settings();
        const int result = configure(instance, owner, scenario, [&](HWND dialog) {
            click(dialog, IDC_SWAP);
            click(dialog, MODE_ALIGNMENT);
            type(dialog, IDC_CENTER_WIDTH, "99");
            type(dialog, IDC_FILL_COLOR, "123456");
            type(dialog, IDC_COEF_FIRST + 9, "5");
            finish(dialog);
        });
        expect(result == kResultCancel, scenario, "result " + std::to_string(result));
        expect(same_record(instance.settings(), before), scenario, "the record changed");
    }

    {  // Coefficients set with OK, then Default values and Cancel in another instance.
        const std::string scenario = "Default values, then Cancel";
        FilterInstance first(host);
        configure(first, owner, "coefficients set", [&](HWND dialog) {
            for (int i = 0; i < IDC_COEF_COUNT; ++i) {
                type(dialog, IDC_COEF_FIRST + i, "2");
            }
            post_command(dialog, IDOK);
        });
        AnaglyphMatrix twos;
        twos.fill(2.0);
        FilterInstance second(host);
        const FilterSettings before = second.settings();
        const int result = configure(second, owner, scenario, [&](HWND dialog) {
            expect_coefficients(dialog, twos, "coefficients from another instance");
            click(dialog, IDC_SWAP);
            type(dialog, IDC_ALIGN_HORZ, "-4");
            click(dialog, IDC_DEFAULT_VALUES);
            expect_coefficients(dialog, anaglyph_default_coefficients, scenario);
            expect(checked(dialog, IDC_SWAP) && text(dialog, IDC_ALIGN_HORZ) == "-4", scenario,
                   "Default values touched other controls");
            expect(IsWindowVisible(dialog) != FALSE, scenario, "Default values closed the dialog");
            post_command(dialog, IDCANCEL);
        });
        expect(result == kResultCancel && same_record(second.settings(), before), scenario, "record or result");
        FilterInstance third(host);
        configure(third, owner, scenario, [&](HWND dialog) {
            expect_coefficients(dialog, anaglyph_default_coefficients, scenario + " (next opening)");
            post_command(dialog, IDCANCEL);
        });
    }

    {  // The colour chooser: offered the text's colour, its answer written back.
        struct Case {
            const char* name;
            bool accept;
            bool then_ok;
            std::uint32_t want;
        };
        const Case cases[] = {
            {"chooser accepted, then OK", true, true, 0x000A141E},
            {"chooser accepted, then Cancel", true, false, 0x00FF8000},
            {"chooser cancelled, then OK", false, true, 0x00FF8000},
        };
        for (const Case& c : cases) {
            FilterInstance instance(host);
            instance.settings().fill_color = 0x00FF8000;
            configure(instance, owner, c.name, [&](HWND dialog) {
                post_command(dialog, IDC_CHOOSE_COLOR);
                HWND chooser = wait_for_window("Color");
                if (chooser == nullptr) {
                    fail(c.name, "the colour chooser did not open");
                    post_command(dialog, IDCANCEL);
                    return;
                }
                expect(GetWindow(chooser, GW_OWNER) == dialog, c.name, "the chooser is not owned by the dialog");
                // Offered as the frame's colour: red 255, green 128, blue 0.
                expect(text(chooser, 706) == "255" && text(chooser, 707) == "128" && text(chooser, 708) == "0", c.name,
                       "chooser opened on " + text(chooser, 706) + "/" + text(chooser, 707) + "/" + text(chooser, 708));
                type(chooser, 706, "10");
                type(chooser, 707, "20");
                type(chooser, 708, "30");
                post_command(chooser, c.accept ? IDOK : IDCANCEL);
                wait_until_gone(chooser);
                const std::string shown = text(dialog, IDC_FILL_COLOR);
                expect(shown == (c.accept ? "000a141e" : "00ff8000"), c.name, "colour text '" + shown + "'");
                post_command(dialog, c.then_ok ? IDOK : IDCANCEL);
            });
            expect(instance.settings().fill_color == c.want, c.name,
                   "fill_color " + hex(instance.settings().fill_color));
        }
    }

    {  // A module handle without the template: the platform's failure value, nothing written.
        const std::string scenario = "no template";
        FilterInstance instance(host);
        instance.settings().crop_x = 77;
        const FilterSettings before = instance.settings();
        host.module().hInstModule = GetModuleHandleA(nullptr);  // this program has no dialog 101
        const int result = instance.configure(owner);
        host.module().hInstModule = entry.instance;
        expect(result == -1, scenario, "result " + std::to_string(result));
        expect(same_record(instance.settings(), before), scenario, "the record changed");
    }

    DestroyWindow(owner);
    host.unload();
    std::printf("dialog_wine_test: %d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
