// Single-stroke handwriting: records the pen's path while it is down and, when it is lifted,
// reduces it to 15 direction codes and picks the closest character template. Applications that
// want handwriting call stroke_update once per frame, after frame_yield; the viewer does not.
#pragma once
#include <cstdint>

// Points are numbered from 1; entry 0 is never written. A stroke stops growing once it holds
// STROKE_MAX_POINTS points (the last segment is cut to the room left).
constexpr int32_t STROKE_MAX_POINTS = 2240;
// Segments are appended only while count is at most this.
constexpr int32_t STROKE_APPEND_LIMIT = 2238;
constexpr int STROKE_CODE_COUNT = 15;
constexpr int STROKE_BUILTIN_COUNT = 30;
constexpr int STROKE_USER_SLOTS = 256;
// The user table refuses additions beyond this: the count is 8-bit, and a 256th entry would
// wrap it to 0 and hide every user template from the search.
constexpr int STROKE_USER_MAX = 255;
// Distance reported when no template was searched.
constexpr int32_t STROKE_NO_MATCH = 65000;

struct StrokePoint {
    int16_t x;
    int16_t y;
};

struct StrokeBuffer {
    StrokePoint points[STROKE_MAX_POINTS + 1];  // 8964 bytes; 1 .. count in use
    int32_t count;                              // number of the last stored point
    int32_t count_1;                            // count after the previous stroke_update
    int32_t count_2;                            // count after the one before that
};

struct StrokeResult {
    int16_t start_x, start_y;  // first point of the stroke
    int16_t min_x, min_y;      // bounding box of the samples and the last point, widened by 2
    int16_t max_x, max_y;
    int32_t point_count;       // the count recognised (the lift drops the last frame's points)
    int16_t end_x, end_y;      // last point
    uint16_t overall_angle;    // 0 .. 511, first sample to last point
    char codes[STROKE_CODE_COUNT + 1];  // '0' + code (0 .. 31) each, then 0
    int32_t distance;          // total distance of the best template; 65000 when none searched
    int8_t letter;             // recognised character, 0 when none
};

// 17 bytes: the character, 15 direction characters ('0' + code), a terminating 0.
struct StrokeTemplate {
    char character;
    char codes[STROKE_CODE_COUNT + 1];
};
static_assert(sizeof(StrokeTemplate) == 17, "templates are stored as 17 bytes");

extern StrokeBuffer stroke_buffer;
extern StrokeResult stroke_result;

// Space, a to z, full stop and two all-zero entries that answer character 0.
extern const StrokeTemplate stroke_builtin_table[STROKE_BUILTIN_COUNT];
extern StrokeTemplate stroke_user_table[STROKE_USER_SLOTS];  // 4352 bytes
extern uint8_t builtin_templates;    // 1 while the built-in table is searched (initially 1)
extern uint8_t user_template_count;  // user templates in use (initially 0)

// Per frame, after the frame pump, with PenState current: the recognised character in the frame
// the pen is lifted, otherwise 0.
int8_t stroke_update();

// Recognises the stored stroke (points 1 .. count) into stroke_result; returns its letter.
// A stroke with no points (a tap lifted in the frame after its press) gives 0 with distance
// 65000 and reads no point.
int8_t stroke_recognise();

// Direction from p to q in 512 steps per turn, counter-clockwise with y pointing up
// (0 = towards larger x, 128 = towards smaller y), found by an 11-step search over sine_table.
uint16_t stroke_angle(int16_t px, int16_t py, int16_t qx, int16_t qy);

// Appends a user template: the character, then up to 15 direction characters from codes (it
// stops at a 0 byte; missing positions are stored as 0), lower-case 'a'..'z' stored upper case,
// then a terminating 0. Returns 1, or 0 (nothing stored) when STROKE_USER_MAX are in use.
int stroke_add_template(char character, const char* codes);

// No user templates; the built-in table searched again.
void stroke_clear_templates();

void stroke_use_builtin(uint8_t flag);

// The segment from point count to (x1, y1), appended to stroke_buffer: its start point, then
// one point per Bresenham step. A point equal to the last stored one is not stored again.
// Stops when the buffer is full.
void stroke_append_segment(int16_t x1, int16_t y1);

// Circular distance between two direction characters: 0 .. 16.
int stroke_code_distance(char code, char template_code);

// Sum of stroke_code_distance over the 15 positions.
int32_t stroke_template_distance(const char* codes, const StrokeTemplate& t);
