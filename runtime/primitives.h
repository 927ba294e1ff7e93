// Vector primitive lists: lines, boxes, vertical gradients and circles that a background layer
// draws over its own content every frame. Applications create nodes once and may edit their
// fields between frames; the layer module calls primitives_draw through layer_hook.
#pragma once
#include <cstdint>

constexpr uint8_t PRIMITIVE_LINE = 0;
constexpr uint8_t PRIMITIVE_BOX = 1;
constexpr uint8_t PRIMITIVE_GRADIENT = 2;
constexpr uint8_t PRIMITIVE_CIRCLE = 3;

struct PrimitiveNode {
    uint8_t shape;        // PRIMITIVE_*; other values are skipped
    PrimitiveNode* next;  // null at the end
    PrimitiveNode* prev;  // null for the first node
    uint16_t colour;      // line; box fill; gradient bottom; circle fill
    uint8_t alpha;        // 0..32, combined with the layer's alpha
    uint16_t colour2;     // box border; gradient top; circle outline
    uint8_t size;         // box border width; circle radius
    int32_t x0, y0;       // line start, box/gradient corner, circle centre
    int32_t x1, y1;       // line end, opposite corner
    uint8_t layer;        // the layer whose list holds the node, so removal can fix the head
};

// Layer numbers outside 0..15 are ignored (null returned).

// Sets layer_hook; empties the layer's list if it is in use, else makes it a primitives layer.
void primitives_attach(uint8_t layer);
// Appends a node (fields zero) to the end of the layer's list.
PrimitiveNode* primitive_new(uint8_t layer);
PrimitiveNode* primitive_line(uint8_t layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                              uint16_t colour, uint8_t alpha);
PrimitiveNode* primitive_box(uint8_t layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                             uint8_t border_width, uint16_t border_colour, uint16_t fill_colour,
                             uint8_t alpha);
PrimitiveNode* primitive_gradient(uint8_t layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                  uint16_t top_colour, uint16_t bottom_colour, uint8_t alpha);
PrimitiveNode* primitive_circle(uint8_t layer, int32_t cx, int32_t cy, int16_t radius,
                                uint16_t outline_colour, uint16_t fill_colour, uint8_t alpha);
// Takes the list off the layer and frees every node.
void primitives_clear(uint8_t layer);
// Unlinks and frees one node (the layer's head follows when it was the first).
void primitive_remove(PrimitiveNode* node);
// The layer_hook: draws the layer's list.
void primitives_draw(uint8_t layer);
