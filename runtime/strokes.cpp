// Stroke recording and letter recognition: the pen path as a Bresenham chain of pixels, 16
// samples along it, 15 direction codes between them, nearest template by circular code distance.
#include "runtime/strokes.h"

#include "render/sine_table.h"
#include "runtime/input.h"

StrokeBuffer stroke_buffer;
StrokeResult stroke_result;

// Direction characters are '0' + code: codes 0..9 are the digits, 10..16 ':' to '@', 17..31
// 'A' to 'O'. Code 17 (a stroke to the right) is 'A', 9 (down) '9', 1 (left) '1', 25 (up) 'I'.
const StrokeTemplate stroke_builtin_table[STROKE_BUILTIN_COUNT] = {
    {' ', "AAAAAAAAAAAAAAA"},  // 17 17 17 17 17 17 17 17 17 17 17 17 17 17 17
    {'a', "FGGGGGFB;:;;;;;"},  // 22 23 23 23 23 23 22 18 11 10 11 11 11 11 11
    {'b', "JJJJJIGC>:8=<62"},  // 26 26 26 26 26 25 23 19 14 10 8 13 12 6 2
    {'c', "01234689;<>?@BC"},  // 0 1 2 3 4 6 8 9 11 12 14 15 16 18 19
    {'d', "=995KJIFB?=;853"},  // 13 9 9 5 27 26 25 22 18 15 13 11 8 5 3
    {'e', "1236;>@136;=?@A"},  // 1 2 3 6 11 14 16 1 3 6 11 13 15 16 17
    {'f', "121111399998779"},  // 1 2 1 1 1 1 3 9 9 9 9 8 7 7 9
    {'g', "235689;=@CFIJEA"},  // 2 3 5 6 8 9 11 13 16 19 22 25 26 21 17
    {'h', "8999999;HFEA><:"},  // 8 9 9 9 9 9 9 11 24 22 21 17 14 12 10
    {'i', "999999999999999"},  // 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9
    {'j', "999999998653100"},  // 9 9 9 9 9 9 9 9 8 6 5 3 1 0 0
    {'k', "654320NIDCA?==="},  // 6 5 4 3 2 0 30 25 20 19 17 15 13 13 13
    {'l', "999999988<AA@@@"},  // 9 9 9 9 9 9 9 8 8 12 17 17 16 16 16
    {'m', "HGGEA<;EFDA=;99"},  // 24 23 23 21 17 12 11 21 22 20 17 13 11 9 9
    {'n', "HHHIE<;;;<GIHHH"},  // 24 24 24 25 21 12 11 11 11 12 23 25 24 24 24
    {'o', "4689;<?BDFHKMO0"},  // 4 6 8 9 11 12 15 18 20 22 24 27 29 31 0
    {'p', "<KJIIIHGEB>;853"},  // 12 27 26 25 25 25 24 23 21 18 14 11 8 5 3
    {'q', "4679<?CDFHKMJBA"},  // 4 6 7 9 12 15 19 20 22 24 27 29 26 18 17
    {'r', "999IIIIGC?:53<="},  // 9 9 9 25 25 25 25 23 19 15 10 5 3 12 13
    {'s', "0235:>?>>;73100"},  // 0 2 3 5 10 14 15 14 14 11 7 3 1 0 0
    {'t', "AAAA@@@;8999999"},  // 17 17 17 17 16 16 16 11 8 9 9 9 9 9 9
    {'u', "899:;<>ACEGHHIH"},  // 8 9 9 10 11 12 14 17 19 21 23 24 24 25 24
    {'v', ";;:::::?FGGHHGF"},  // 11 11 10 10 10 10 10 15 22 23 23 24 24 23 22
    {'w', "::;=BA<<@CDEFGH"},  // 10 10 11 13 18 17 12 12 16 19 20 21 22 23 24
    {'x', ";;;;;;;;;;;;;;;"},  // 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11
    {'y', ">;=AFF899974OIF"},  // 14 11 13 17 22 22 8 9 9 9 7 4 31 25 22
    {'z', ">A@@>843348?@AA"},  // 14 17 16 16 14 8 4 3 3 4 8 15 16 17 17
    {'.', "LLLLLLLLLLLLLLL"},  // 28 28 28 28 28 28 28 28 28 28 28 28 28 28 28
    {0, {0}},               // all-zero entries: searched, and answer character 0
    {0, {0}},
};

StrokeTemplate stroke_user_table[STROKE_USER_SLOTS];
uint8_t builtin_templates = 1;
uint8_t user_template_count = 0;

namespace {

// Stores one point unless it repeats the last stored one or the buffer is full.
void append_point(int32_t x, int32_t y) {
    StrokeBuffer& b = stroke_buffer;
    if (b.count >= STROKE_MAX_POINTS) return;
    const StrokePoint& last = b.points[b.count];
    if (last.x == x && last.y == y) return;
    b.count += 1;
    b.points[b.count] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
}

// Point n of the 17-point chain: samples 0..15 spread evenly over points 1..count, then the
// last point. count is at least 1 here.
const StrokePoint& chain_point(int n, int32_t count) {
    if (n == 16) return stroke_buffer.points[count];
    return stroke_buffer.points[(n * count) / 16 + 1];
}

void widen_box(const StrokePoint& p) {
    StrokeResult& r = stroke_result;
    if (p.x < r.min_x) r.min_x = p.x;
    else if (p.x > r.max_x) r.max_x = p.x;
    if (p.y < r.min_y) r.min_y = p.y;
    else if (p.y > r.max_y) r.max_y = p.y;
}

}  // namespace

void stroke_append_segment(int16_t x1, int16_t y1) {
    StrokeBuffer& b = stroke_buffer;
    // Without a pressed start point there is no segment to draw from.
    if (b.count < 1 || b.count >= STROKE_MAX_POINTS) return;
    int32_t x = b.points[b.count].x;
    int32_t y = b.points[b.count].y;
    append_point(x, y);
    const int32_t adx = x1 > x ? x1 - x : x - x1;
    const int32_t ady = y1 > y ? y1 - y : y - y1;
    const int32_t sx = x1 < x ? -1 : 1;
    const int32_t sy = y1 < y ? -1 : 1;
    if (adx >= ady) {
        int32_t err = adx >> 1;
        for (int32_t i = 0; i < adx && b.count < STROKE_MAX_POINTS; ++i) {
            err += ady;
            if (err >= adx) {
                err -= adx;
                y += sy;
            }
            x += sx;
            append_point(x, y);
        }
    } else {
        int32_t err = ady >> 1;
        for (int32_t i = 0; i < ady && b.count < STROKE_MAX_POINTS; ++i) {
            err += adx;
            if (err >= ady) {
                err -= ady;
                x += sx;
            }
            y += sy;
            append_point(x, y);
        }
    }
}

int stroke_code_distance(char code, char template_code) {
    const int d = (static_cast<uint8_t>(code) - static_cast<uint8_t>(template_code)) & 31;
    return d < 16 ? d : 32 - d;
}

int32_t stroke_template_distance(const char* codes, const StrokeTemplate& t) {
    int32_t sum = 0;
    for (int i = 0; i < STROKE_CODE_COUNT; ++i) sum += stroke_code_distance(codes[i], t.codes[i]);
    return sum;
}

uint16_t stroke_angle(int16_t px, int16_t py, int16_t qx, int16_t qy) {
    // Minimises |256 (p - q) + (cos a, -sin a)|: the unit vector (scaled by 256) that best
    // cancels p - q points from p to q. A coarse-to-fine search replaces an arctangent.
    static const uint16_t steps[] = {180, 113, 71, 45, 29, 19, 12, 8, 4, 2, 1};
    const int64_t ex = 256 * (static_cast<int64_t>(px) - qx);
    const int64_t ey = 256 * (static_cast<int64_t>(py) - qy);
    auto length2 = [&](uint16_t a) {
        const int64_t vx = ex + sine_table[(a + 128) & 511];
        const int64_t vy = ey - sine_table[a & 511];
        return static_cast<uint64_t>(vx * vx) + static_cast<uint64_t>(vy * vy);
    };
    uint16_t a = 0;
    uint64_t best = length2(a);
    for (uint16_t s : steps) {
        const uint16_t below = (a - s) & 511;
        const uint16_t above = (a + s) & 511;
        const uint64_t lb = length2(below);
        const uint64_t la = length2(above);
        if (lb < best) {
            a = below;
            best = lb;
        } else if (la < best) {
            a = above;
            best = la;
        }
    }
    return a;
}

int8_t stroke_recognise() {
    StrokeResult& r = stroke_result;
    int32_t count = stroke_buffer.count;
    // The buffer is a public record; a count written from outside is kept inside it.
    if (count > STROKE_MAX_POINTS) count = stroke_buffer.count = STROKE_MAX_POINTS;
    r.point_count = count;
    r.letter = 0;
    r.distance = STROKE_NO_MATCH;
    if (count < 1) {
        // A tap lifted in the frame after its press keeps no point (the lift drops that
        // frame's points), so there is nothing to sample.
        r.end_x = r.start_x;
        r.end_y = r.start_y;
        r.overall_angle = 0;
        r.codes[0] = 0;
        return 0;
    }
    for (int n = 0; n <= 16; ++n) widen_box(chain_point(n, count));
    const StrokePoint& first = chain_point(0, count);
    const StrokePoint& last = chain_point(16, count);
    r.end_x = last.x;
    r.end_y = last.y;
    r.overall_angle = stroke_angle(first.x, first.y, last.x, last.y);
    if (r.min_x > 1) r.min_x -= 2;
    if (r.max_x <= 253) r.max_x += 2;
    if (r.min_y > 1) r.min_y -= 2;
    if (r.max_y <= 189) r.max_y += 2;
    // Each code is the direction from two samples further on back to this one, so a stroke
    // to the right gives code 17 (pointing left) and a downward one code 9.
    for (int i = 0; i < STROKE_CODE_COUNT; ++i) {
        const StrokePoint& p = chain_point(i + 2, count);
        const StrokePoint& q = chain_point(i, count);
        const uint16_t a = stroke_angle(p.x, p.y, q.x, q.y);
        r.codes[i] = static_cast<char>('0' + (((a + 16) & 511) >> 4));
    }
    r.codes[STROKE_CODE_COUNT] = 0;

    int32_t best = STROKE_NO_MATCH;
    char letter = 0;
    // Strictly closer only: on a tie the earlier template, and any built-in one, wins.
    if (builtin_templates) {
        for (const StrokeTemplate& t : stroke_builtin_table) {
            const int32_t d = stroke_template_distance(r.codes, t);
            if (d < best) {
                best = d;
                letter = t.character;
            }
        }
    }
    for (int i = 0; i < user_template_count; ++i) {
        const int32_t d = stroke_template_distance(r.codes, stroke_user_table[i]);
        if (d < best) {
            best = d;
            letter = stroke_user_table[i].character;
        }
    }
    r.distance = best;
    r.letter = static_cast<int8_t>(letter);
    return r.letter;
}

int8_t stroke_update() {
    StrokeBuffer& b = stroke_buffer;
    const PenState& pen = pen_state;
    if (pen.pressed) {
        b.count_2 = 0;
        b.count_1 = 0;
        b.points[1] = {pen.x, pen.y};
        b.count = 1;
        StrokeResult& r = stroke_result;
        r.start_x = r.min_x = r.max_x = pen.x;
        r.start_y = r.min_y = r.max_y = pen.y;
    } else if (pen.down && b.count <= STROKE_APPEND_LIMIT) {
        stroke_append_segment(pen.x, pen.y);
    }
    if (pen.released) {
        // Drops the points appended in the frame before the lift: the pen's last movement as
        // it leaves the screen.
        b.count = b.count_2;
        return stroke_recognise();
    }
    b.count_2 = b.count_1;
    b.count_1 = b.count;
    return 0;
}

int stroke_add_template(char character, const char* codes) {
    if (user_template_count >= STROKE_USER_MAX) return 0;
    StrokeTemplate& t = stroke_user_table[user_template_count];
    t.character = character;
    int i = 0;
    for (; i < STROKE_CODE_COUNT && codes[i] != 0; ++i) {
        const char c = codes[i];
        t.codes[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    for (; i <= STROKE_CODE_COUNT; ++i) t.codes[i] = 0;
    user_template_count += 1;
    return 1;
}

void stroke_clear_templates() {
    user_template_count = 0;
    builtin_templates = 1;
}

void stroke_use_builtin(uint8_t flag) { builtin_templates = flag; }
