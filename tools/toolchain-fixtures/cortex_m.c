// A minimal Cortex-M program: a vector table of 48 entries at the start of
// flash (0x08000000), code, read-only data, and initialised .data that is
// stored in flash and copied to RAM at start-up.
#include <stdint.h>

extern uint32_t _estack, _sidata, _sdata, _edata;

static const char greeting[] = "imgpack fixture";
volatile uint32_t counter = 0x12345678;
volatile uint8_t pattern[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

void reset_handler(void);
void default_handler(void) {
    for (;;) {
    }
}

__attribute__((section(".isr_vector"), used)) void (*const vectors[48])(void) = {
    (void (*)(void))(&_estack), reset_handler,   default_handler, default_handler,
    default_handler,            default_handler, default_handler,
};

void reset_handler(void) {
    uint32_t* from = &_sidata;
    for (uint32_t* to = &_sdata; to < &_edata;) {
        *to++ = *from++;
    }
    for (;;) {
        counter += (uint32_t)greeting[counter % sizeof greeting] + pattern[counter % 24];
    }
}
