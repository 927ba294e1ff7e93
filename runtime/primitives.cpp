// Vector primitive lists.
#include "runtime/primitives.h"

void primitives_attach(uint8_t) {}
PrimitiveNode* primitive_new(uint8_t) { return nullptr; }
PrimitiveNode* primitive_line(uint8_t, int32_t, int32_t, int32_t, int32_t, uint16_t, uint8_t) {
    return nullptr;
}
PrimitiveNode* primitive_box(uint8_t, int32_t, int32_t, int32_t, int32_t, uint8_t, uint16_t,
                             uint16_t, uint8_t) {
    return nullptr;
}
PrimitiveNode* primitive_gradient(uint8_t, int32_t, int32_t, int32_t, int32_t, uint16_t, uint16_t,
                                  uint8_t) {
    return nullptr;
}
PrimitiveNode* primitive_circle(uint8_t, int32_t, int32_t, int16_t, uint16_t, uint16_t, uint8_t) {
    return nullptr;
}
void primitives_clear(uint8_t) {}
void primitive_remove(PrimitiveNode*) {}
void primitives_draw(uint8_t) {}
