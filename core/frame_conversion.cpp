#include "core/frame_conversion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/anaglyph.h"

namespace ocuvex {

namespace {

using Wide = std::int64_t;

bool copy_fits(const RowCopy& copy, std::int32_t rows, const FrameView& src, const FrameView& dst) {
    if (rows == 0 || copy.width == 0) {
        return true;
    }
    const Wide last = rows - 1;
    const Wide first_src_row = copy.src_row;
    const Wide last_src_row = copy.src_row + last * copy.src_row_step;
    return copy.width > 0 && copy.src_col >= 0 && Wide{copy.src_col} + copy.width <= src.w && copy.dst_col >= 0 &&
           Wide{copy.dst_col} + copy.width <= dst.w && first_src_row >= 0 && last_src_row >= 0 &&
           first_src_row < src.h && last_src_row < src.h && copy.dst_row >= 0 && Wide{copy.dst_row} + rows <= dst.h;
}

bool plan_fits(const CopyPlan& plan, const FrameView& src, const FrameView& dst) {
    if (plan.rows < 0) {
        return false;
    }
    for (int i = 0; i < plan.fill_count; ++i) {
        const RowFill& f = plan.fills[i];
        if (f.col < 0 || f.width < 0 || Wide{f.col} + f.width > dst.w || plan.rows > dst.h) {
            return false;
        }
    }
    for (int i = 0; i < plan.copy_count; ++i) {
        if (!copy_fits(plan.copies[i], plan.rows, src, dst)) {
            return false;
        }
    }
    return true;
}

// The byte offset of a copy's first source pixel from the frame's row 0.
Wide source_offset(const RowCopy& copy, const FrameView& src) {
    return Wide{copy.src_row} * src.pitch + Wide{4} * copy.src_col;
}

// Cuts the pixels the copies write out of a whole-row fill (the copies land
// on the fill's rows), so no destination pixel is written twice.
void leave_only_margins(CopyPlan& plan) {
    if (plan.fill_count != 1) {
        return;
    }
    const RowFill row = plan.fills[0];
    RowFill taken[2] = {};
    int count = 0;
    for (int i = 0; i < plan.copy_count; ++i) {
        if (plan.copies[i].dst_row == 0) {
            taken[count++] = {plan.copies[i].dst_col, plan.copies[i].width};
        }
    }
    if (count == 2 && taken[1].col < taken[0].col) {
        std::swap(taken[0], taken[1]);
    }
    plan.fill_count = 0;
    std::int32_t col = row.col;
    const std::int32_t end = row.col + row.width;
    for (int i = 0; i <= count; ++i) {
        const std::int32_t stop = i < count ? std::max(col, taken[i].col) : end;
        if (stop > col) {
            plan.fills[plan.fill_count++] = {col, stop - col};
        }
        if (i < count) {
            col = std::max(col, taken[i].col + taken[i].width);
        }
    }
}

// Two row copies, the second one's destination exchanged with the first's when swapped.
void add_pair(CopyPlan& plan, RowCopy first, RowCopy second, bool swap) {
    if (swap) {
        std::swap(first.dst_row, second.dst_row);
        std::swap(first.dst_col, second.dst_col);
    }
    plan.copies[0] = first;
    plan.copies[1] = second;
    plan.copy_count = 2;
}

CopyPlan plan_for_mode(const FilterSettings& settings, const FrameView& src, const FrameView& dst) {
    const bool swap = settings.swap_lr != 0;
    const std::int32_t W = src.w;
    const std::int32_t H = src.h;
    const std::int32_t hw = W / 2;
    const std::int32_t hd = dst.w / 2;
    CopyPlan plan;
    switch (settings.mode) {
    case MODE_NOP:
        plan.rows = H;
        if (swap) {
            add_pair(plan, {0, 1, 0, 0, 0, hw}, {0, 1, hw, 0, hd, hw}, true);
        } else {
            plan.copies[0] = {0, 1, 0, 0, 0, W};
            plan.copy_count = 1;
        }
        break;
    case MODE_DEINTERLACE:
        // Even memory rows are the left view, odd ones the right; an odd last
        // row has no partner and is dropped.
        plan.rows = H / 2;
        add_pair(plan, {0, 2, 0, 0, 0, W}, {1, 2, 0, 0, W, W}, swap);
        break;
    case MODE_CENTERING: {
        const std::int32_t q = (settings.center_width > 0 ? settings.center_width : 0) / 4;
        plan.rows = H;
        plan.fill_count = 1;
        plan.fills[0] = {0, dst.w};
        plan.fill_value = settings.fill_color;
        add_pair(plan, {0, 1, 0, 0, q, hw}, {0, 1, hw, 0, static_cast<std::int32_t>(Wide{hd} + q), hw}, swap);
        break;
    }
    case MODE_SBS_TO_AB:
        plan.rows = H;
        add_pair(plan, {0, 1, 0, 0, 0, hw}, {0, 1, hw, H, 0, hw}, swap);
        break;
    case MODE_AB_TO_SBS: {
        // With an odd height the middle row (the picture's middle line)
        // belongs to neither view: the second view starts just above it.
        const std::int32_t n = H / 2;
        plan.rows = n;
        add_pair(plan, {0, 1, 0, 0, 0, W}, {H - n, 1, 0, 0, W, W}, swap);
        break;
    }
    case MODE_ALIGNMENT: {
        const std::int32_t a = settings.align_horz;
        const std::int32_t v = settings.align_vert;
        if (Wide{hw} + std::llabs(a) > INT32_MAX || std::llabs(v) > INT32_MAX) {
            return CopyPlan{};
        }
        const auto left_col = static_cast<std::int32_t>(a > 0 ? a : 0);
        const auto left_row = static_cast<std::int32_t>(v < 0 ? -Wide{v} : 0);
        const auto right_col = static_cast<std::int32_t>(Wide{hw} + (a < 0 ? -Wide{a} : 0));
        const auto right_row = static_cast<std::int32_t>(v > 0 ? v : 0);
        plan.rows = dst.h;
        add_pair(plan, {left_row, 1, left_col, 0, 0, hd}, {right_row, 1, right_col, 0, hd, hd}, swap);
        break;
    }
    case MODE_CROPPING: {
        const Wide first_row = Wide{H} - settings.crop_y - dst.h;
        if (first_row < 0 || settings.crop_x < 0 || Wide{hw} + settings.crop_x > INT32_MAX) {
            return CopyPlan{};
        }
        const auto b = static_cast<std::int32_t>(first_row);
        plan.rows = dst.h;
        add_pair(plan, {b, 1, settings.crop_x, 0, 0, hd}, {b, 1, hw + settings.crop_x, 0, hd, hd}, swap);
        break;
    }
    default:
        break;
    }
    return plan;
}

}  // namespace

CopyPlan plan_copies(const FilterSettings& settings, const FrameView& src, const FrameView& dst) {
    if (!is_well_formed(src) || !is_well_formed(dst)) {
        return CopyPlan{};
    }
    CopyPlan plan = plan_for_mode(settings, src, dst);
    if (!plan_fits(plan, src, dst)) {
        return CopyPlan{};
    }
    // Empty copies would only compute addresses outside the frames.
    int kept = 0;
    for (int i = 0; i < plan.copy_count; ++i) {
        if (plan.copies[i].width > 0) {
            plan.copies[kept++] = plan.copies[i];
        }
    }
    plan.copy_count = kept;
    leave_only_margins(plan);
    if (plan.fill_count == 0 && kept == 0) {
        plan.rows = 0;
    }
    // Read each row's pixels in increasing addresses, and the rows too.
    if (kept == 2 && source_offset(plan.copies[1], src) < source_offset(plan.copies[0], src)) {
        std::swap(plan.copies[0], plan.copies[1]);
    }
    plan.reverse = kept > 0 && Wide{plan.copies[0].src_row_step} * src.pitch < 0;
    return plan;
}

void run_copy_plan(const CopyPlan& plan, const FrameView& src, const FrameView& dst) {
    // The rows are independent (source and destination never overlap), so
    // their order is free.
    const std::int32_t first = plan.reverse ? plan.rows - 1 : 0;
    const std::int32_t step = plan.reverse ? -1 : 1;
    std::int32_t r = first;
    for (std::int32_t done = 0; done < plan.rows; ++done, r += step) {
        for (int i = 0; i < plan.fill_count; ++i) {
            std::fill_n(dst.pixels(r) + plan.fills[i].col, plan.fills[i].width, plan.fill_value);
        }
        for (int i = 0; i < plan.copy_count; ++i) {
            const RowCopy& c = plan.copies[i];
            std::memcpy(dst.pixels(c.dst_row + r) + c.dst_col, src.pixels(c.src_row + r * c.src_row_step) + c.src_col,
                        4 * static_cast<std::size_t>(c.width));
        }
    }
}

std::int32_t convert_frame(const FilterSettings& settings, const FrameView& src, const FrameView& dst) {
    if (settings.mode == MODE_ANAGLYPH) {
        convert_anaglyph(settings, src, dst);
    } else {
        run_copy_plan(plan_copies(settings, src, dst), src, dst);
    }
    return 0;
}

}  // namespace ocuvex
