#include "core/copy_plan.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace ocuvex {

namespace {

using Wide = std::int64_t;

bool copy_fits(const RowCopy& copy, std::int32_t rows, FrameSize src, FrameSize dst) {
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

bool plan_fits(const CopyPlan& plan) {
    if (plan.rows < 0) {
        return false;
    }
    for (int i = 0; i < plan.fill_count; ++i) {
        const RowFill& f = plan.fills[i];
        if (f.col < 0 || f.width < 0 || Wide{f.col} + f.width > plan.dst.w || plan.rows > plan.dst.h) {
            return false;
        }
    }
    for (int i = 0; i < plan.copy_count; ++i) {
        if (!copy_fits(plan.copies[i], plan.rows, plan.src, plan.dst)) {
            return false;
        }
    }
    return true;
}

// Drops empty copies, which would only compute addresses outside the frames,
// and joins two copies that continue each other in both frames: one call
// fewer per row, and a plane grid then judges the pair as the block it is.
void join_copies(CopyPlan& plan) {
    int kept = 0;
    for (int i = 0; i < plan.copy_count; ++i) {
        if (plan.copies[i].width > 0) {
            plan.copies[kept++] = plan.copies[i];
        }
    }
    plan.copy_count = kept;
    if (kept != 2) {
        return;
    }
    RowCopy& a = plan.copies[0];
    RowCopy& b = plan.copies[1];
    if (b.src_col < a.src_col) {
        std::swap(a, b);
    }
    if (a.src_row == b.src_row && a.src_row_step == b.src_row_step && a.dst_row == b.dst_row &&
        Wide{a.src_col} + a.width == b.src_col && Wide{a.dst_col} + a.width == b.dst_col) {
        a.width += b.width;
        plan.copy_count = 1;
    }
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

CopyPlan plan_for_mode(const FilterSettings& settings, FrameSize src, FrameSize dst) {
    const bool swap = settings.swap_lr != 0;
    const std::int32_t W = src.w;
    const std::int32_t H = src.h;
    const std::int32_t hw = W / 2;
    const std::int32_t hd = dst.w / 2;
    CopyPlan plan;
    plan.src = src;
    plan.dst = dst;
    switch (settings.mode) {
    case MODE_NOP:
        plan.rows = H;
        if (swap) {
            add_pair(plan, {.width = hw}, {.src_col = hw, .dst_col = hd, .width = hw}, true);
        } else {
            plan.copies[0] = {.width = W};
            plan.copy_count = 1;
        }
        break;
    case MODE_DEINTERLACE:
        // Even memory rows are the left view, odd ones the right; an odd last
        // row has no partner and is dropped.
        plan.rows = H / 2;
        add_pair(plan, {.src_row_step = 2, .width = W}, {.src_row = 1, .src_row_step = 2, .dst_col = W, .width = W},
                 swap);
        break;
    case MODE_CENTERING: {
        const std::int32_t q = (settings.center_width > 0 ? settings.center_width : 0) / 4;
        plan.rows = H;
        plan.fill_count = 1;
        plan.fills[0] = {.col = 0, .width = dst.w};
        plan.fill_value = settings.fill_color;
        add_pair(plan, {.dst_col = q, .width = hw},
                 {.src_col = hw, .dst_col = static_cast<std::int32_t>(Wide{hd} + q), .width = hw}, swap);
        break;
    }
    case MODE_SBS_TO_AB:
        plan.rows = H;
        add_pair(plan, {.width = hw}, {.src_col = hw, .dst_row = H, .width = hw}, swap);
        break;
    case MODE_AB_TO_SBS: {
        // With an odd height the middle row (the picture's middle line)
        // belongs to neither view: the second view starts just above it.
        const std::int32_t n = H / 2;
        plan.rows = n;
        add_pair(plan, {.width = W}, {.src_row = H - n, .dst_col = W, .width = W}, swap);
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
        add_pair(plan, {.src_row = left_row, .src_col = left_col, .width = hd},
                 {.src_row = right_row, .src_col = right_col, .dst_col = hd, .width = hd}, swap);
        break;
    }
    case MODE_CROPPING: {
        const Wide first_row = Wide{H} - settings.crop_y - dst.h;
        if (first_row < 0 || settings.crop_x < 0 || Wide{hw} + settings.crop_x > INT32_MAX) {
            return CopyPlan{};
        }
        const auto b = static_cast<std::int32_t>(first_row);
        plan.rows = dst.h;
        add_pair(plan, {.src_row = b, .src_col = settings.crop_x, .width = hd},
                 {.src_row = b, .src_col = hw + settings.crop_x, .dst_col = hd, .width = hd}, swap);
        break;
    }
    default:
        break;
    }
    return plan;
}

// The frame rows of the short element row at memory row 0 that do not exist:
// the grid starts at the picture's top line, the last memory row.
Wide row_phase(Wide h, Wide factor) { return -h & (factor - 1); }

// Views on alternate rows, every other row from src_first (0 or 1) of a
// source `src_h` rows high, on a grid of element rows 2^shift frame rows
// high: each view takes the element rows of its own parity, as FFmpeg's
// stereo3d filter gives each field its chroma rows. An element row there
// covers rows of both views, so no choice keeps whole samples; this one
// keeps the source's subsampling. It needs element rows without a short one
// in both frames and an even count of them in the source, so that parities
// counted from the bottom (memory) are those counted from the top.
bool scale_alternate_rows(Wide src_first, Wide src_h, Wide dst_first, Wide dst_phase, Wide count, int shift,
                          RowCopy& out, Wide& element_rows) {
    const Wide f = Wide{1} << shift;
    out.src_row = static_cast<std::int32_t>(src_first);
    out.src_row_step = 2;
    out.dst_row = static_cast<std::int32_t>(dst_first >> shift);
    element_rows = count >> shift;
    return (src_first == 0 || src_first == 1) && src_h % (2 * f) == 0 && count % f == 0 && dst_phase == 0 &&
           (dst_first & (f - 1)) == 0 && src_first + 2 * (count - 1) < src_h;
}

// Where `count` frame rows, every `step`-th from src_first, copied to
// consecutive rows from dst_first, lie in element rows of 2^shift frame rows.
// False unless each destination element row takes exactly one whole source
// element row, or for views on alternate rows, its own parity's.
bool scale_rows(Wide src_first, Wide src_h, Wide dst_first, Wide dst_phase, Wide count, Wide step, int shift,
                RowCopy& out, Wide& element_rows) {
    const Wide f = Wide{1} << shift;
    if (f > 1 && step == 2) {
        return scale_alternate_rows(src_first, src_h, dst_first, dst_phase, count, shift, out, element_rows);
    }
    const Wide src_phase = row_phase(src_h, f);
    const Wide src_offset = (src_first + src_phase) & (f - 1);
    const Wide dst_offset = (dst_first + dst_phase) & (f - 1);
    bool whole = true;
    if (f > 1 && count == 1) {
        // A lone row is a whole element row only as the short one at memory row 0.
        whole = src_first == 0 && src_phase == f - 1 && dst_first == 0 && dst_phase == f - 1;
    } else if (f > 1 && count > 1) {
        whole = step == 1 && src_offset == dst_offset && (src_offset == 0 || (src_first == 0 && dst_first == 0)) &&
                ((src_first + count + src_phase) & (f - 1)) == 0;
    }
    out.src_row = static_cast<std::int32_t>((src_first + src_phase) >> shift);
    out.dst_row = static_cast<std::int32_t>((dst_first + dst_phase) >> shift);
    out.src_row_step = static_cast<std::int32_t>(step);
    element_rows = ((dst_first + count + dst_phase + f - 1) >> shift) - out.dst_row;
    return whole;
}

// Whether frame columns [first, first + count) of a frame `width` wide are
// whole elements of 2^shift columns: the last element of a row may be short.
bool whole_columns(Wide first, Wide count, Wide width, int shift) {
    const Wide mask = (Wide{1} << shift) - 1;
    return (first & mask) == 0 && (((first + count) & mask) == 0 || first + count == width);
}

Wide element_count(Wide first, Wide count, int shift) {
    return ((first + count + (Wide{1} << shift) - 1) >> shift) - (first >> shift);
}

bool shift_in_range(std::int32_t shift) { return shift >= 0 && shift <= kMaxSubsamplingShift; }

// The plan in elements of a plane with these shifts, or false when it does
// not fall on the plane's grid.
bool scale_to_grid(const CopyPlan& plan, std::int32_t shift_x, std::int32_t shift_y, CopyPlan& out) {
    if (!shift_in_range(shift_x) || !shift_in_range(shift_y)) {
        return false;
    }
    out = plan;
    out.src = plane_size(plan.src, shift_x, shift_y);
    out.dst = plane_size(plan.dst, shift_x, shift_y);
    if (plan.rows == 0) {
        return true;
    }
    const Wide f = Wide{1} << shift_y;
    const Wide dst_phase = row_phase(plan.dst.h, f);
    Wide rows = -1;
    // Every copy and fill must come out with the same number of element rows.
    const auto same_rows = [&rows](Wide n) {
        const bool same = rows < 0 || rows == n;
        rows = n;
        return same;
    };
    for (int i = 0; i < plan.copy_count; ++i) {
        const RowCopy& c = plan.copies[i];
        RowCopy& e = out.copies[i];
        Wide n = 0;
        if (!scale_rows(c.src_row, plan.src.h, c.dst_row, dst_phase, plan.rows, c.src_row_step, shift_y, e, n) ||
            !same_rows(n) || !whole_columns(c.src_col, c.width, plan.src.w, shift_x) ||
            !whole_columns(c.dst_col, c.width, plan.dst.w, shift_x)) {
            return false;
        }
        e.src_col = c.src_col >> shift_x;
        e.dst_col = c.dst_col >> shift_x;
        e.width = static_cast<std::int32_t>(element_count(c.dst_col, c.width, shift_x));
    }
    for (int i = 0; i < plan.fill_count; ++i) {
        const RowFill& fill = plan.fills[i];
        RowCopy rows_of_fill;
        Wide n = 0;
        if (!scale_rows(0, plan.dst.h, 0, dst_phase, plan.rows, 1, shift_y, rows_of_fill, n) || !same_rows(n) ||
            !whole_columns(fill.col, fill.width, plan.dst.w, shift_x)) {
            return false;
        }
        out.fills[i] = {fill.col >> shift_x, static_cast<std::int32_t>(element_count(fill.col, fill.width, shift_x))};
    }
    out.rows = static_cast<std::int32_t>(std::max<Wide>(rows, 0));
    return true;
}

// A row of `count` elements of element_bytes bytes each, all equal to
// `element`; kBytes is element_bytes where the compiler is to know it (1, 2,
// 4 or 8), 0 otherwise.
template <std::size_t kBytes>
void fill_elements(std::uint8_t* out, std::size_t count, std::size_t element_bytes, const std::uint8_t* element) {
    if constexpr (kBytes == 1) {
        std::memset(out, *element, count);
    } else if constexpr (kBytes != 0) {
        std::uint8_t word[kBytes];
        std::memcpy(word, element, kBytes);
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(out + i * kBytes, word, kBytes);
        }
    } else if (count > 0) {
        // One element, then what is written doubled until the row is full.
        const std::size_t total = count * element_bytes;
        std::memcpy(out, element, element_bytes);
        for (std::size_t done = element_bytes; done < total;) {
            const std::size_t n = std::min(done, total - done);
            std::memcpy(out + done, out, n);
            done += n;
        }
    }
}

// Whether a plane of `size` elements can be addressed through `view`.
bool holds(const PlaneView& view, FrameSize size, std::int32_t element_bytes) {
    if (size.w == 0 || size.h == 0) {
        return true;
    }
    const Wide pitch = view.pitch;
    return view.data != nullptr && (pitch < 0 ? -pitch : pitch) >= Wide{size.w} * element_bytes;
}

// One copy of a plan in bytes: the first row's addresses and the steps between rows.
struct ByteCopy {
    const std::uint8_t* src;
    std::ptrdiff_t src_step;
    std::uint8_t* dst;
    std::size_t bytes;
};

// The row loop: the fills and copies of every row, rows in the order the
// first copy reads the source in increasing addresses, which the hardware
// prefetchers follow far better. The rows are independent (source and
// destination never overlap), so their order is free.
template <std::size_t kBytes>
void copy_rows(const CopyPlan& plan, const ByteCopy (&copies)[2], std::int32_t element_bytes, const std::uint8_t* fill,
               const PlaneView& dst) {
    const auto element = static_cast<std::ptrdiff_t>(element_bytes);
    const bool reverse = plan.copy_count > 0 && copies[0].src_step < 0;
    const std::int32_t first = reverse ? plan.rows - 1 : 0;
    const std::int32_t step = reverse ? -1 : 1;
    std::int32_t r = first;
    for (std::int32_t done = 0; done < plan.rows; ++done, r += step) {
        std::uint8_t* const dst_row = dst.data + static_cast<std::ptrdiff_t>(r) * dst.pitch;
        for (int i = 0; i < plan.fill_count; ++i) {
            fill_elements<kBytes>(dst_row + element * plan.fills[i].col, static_cast<std::size_t>(plan.fills[i].width),
                                  static_cast<std::size_t>(element_bytes), fill);
        }
        for (int i = 0; i < plan.copy_count; ++i) {
            const ByteCopy& c = copies[i];
            std::memcpy(c.dst + static_cast<std::ptrdiff_t>(r) * dst.pitch, c.src + r * c.src_step, c.bytes);
        }
    }
}

// Runs a plan already in elements, if the planes can hold it.
bool run_elements(const CopyPlan& plan, std::int32_t element_bytes, const std::uint8_t* fill, const PlaneView& src,
                  const PlaneView& dst) {
    if (!holds(src, plan.src, element_bytes) || !holds(dst, plan.dst, element_bytes) ||
        (plan.rows > 0 && plan.fill_count > 0 && fill == nullptr)) {
        return false;
    }
    if (plan.rows == 0) {
        return true;  // an empty plane may have no data to compute addresses from
    }
    const auto element = static_cast<std::ptrdiff_t>(element_bytes);
    ByteCopy copies[2] = {};
    for (int i = 0; i < plan.copy_count; ++i) {
        const RowCopy& c = plan.copies[i];
        copies[i] = {src.data + static_cast<std::ptrdiff_t>(c.src_row) * src.pitch + element * c.src_col,
                     static_cast<std::ptrdiff_t>(c.src_row_step) * src.pitch,
                     dst.data + static_cast<std::ptrdiff_t>(c.dst_row) * dst.pitch + element * c.dst_col,
                     static_cast<std::size_t>(element * c.width)};
    }
    // Each row's pixels are read in increasing addresses too.
    if (plan.copy_count == 2 && copies[1].src < copies[0].src) {
        std::swap(copies[0], copies[1]);
    }
    switch (element_bytes) {
    case 1:
        copy_rows<1>(plan, copies, element_bytes, fill, dst);
        break;
    case 2:
        copy_rows<2>(plan, copies, element_bytes, fill, dst);
        break;
    case 4:
        copy_rows<4>(plan, copies, element_bytes, fill, dst);
        break;
    case 8:
        copy_rows<8>(plan, copies, element_bytes, fill, dst);
        break;
    default:
        copy_rows<0>(plan, copies, element_bytes, fill, dst);
        break;
    }
    return true;
}

}  // namespace

CopyPlan plan_copies(const FilterSettings& settings, FrameSize src, FrameSize dst) {
    if (src.w < 0 || src.h < 0 || dst.w < 0 || dst.h < 0) {
        return CopyPlan{};
    }
    CopyPlan plan = plan_for_mode(settings, src, dst);
    if (!plan_fits(plan)) {
        return CopyPlan{};
    }
    join_copies(plan);
    leave_only_margins(plan);
    if (plan.fill_count == 0 && plan.copy_count == 0) {
        plan.rows = 0;
    }
    return plan;
}

FrameSize plane_size(FrameSize frame, std::int32_t shift_x, std::int32_t shift_y) {
    if (!shift_in_range(shift_x) || !shift_in_range(shift_y) || frame.w < 0 || frame.h < 0) {
        return FrameSize{};
    }
    const auto up = [](std::int32_t n, std::int32_t shift) {
        return static_cast<std::int32_t>((Wide{n} + (Wide{1} << shift) - 1) >> shift);
    };
    return FrameSize{up(frame.w, shift_x), up(frame.h, shift_y)};
}

bool fits_plane_grid(const CopyPlan& plan, std::int32_t shift_x, std::int32_t shift_y) {
    CopyPlan scaled;
    return scale_to_grid(plan, shift_x, shift_y, scaled);
}

bool run_plane_plan(const CopyPlan& plan, const PlaneFormat& format, const void* fill_element, const PlaneView& src,
                    const PlaneView& dst) {
    if (format.element_bytes < 1 || format.element_bytes > kMaxElementBytes) {
        return false;
    }
    const auto* fill = static_cast<const std::uint8_t*>(fill_element);
    if (format.shift_x == 0 && format.shift_y == 0) {
        return run_elements(plan, format.element_bytes, fill, src, dst);
    }
    CopyPlan scaled;
    return scale_to_grid(plan, format.shift_x, format.shift_y, scaled) &&
           run_elements(scaled, format.element_bytes, fill, src, dst);
}

}  // namespace ocuvex
