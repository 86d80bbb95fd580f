// A minimal AVR program (ATmega328P): flash from address 0 with the vector
// table, code and the initial values of .data stored after the code.
#include <avr/io.h>
#include <stdint.h>

volatile uint8_t ticks[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
static const char banner[] __attribute__((progmem)) = "AVR fixture";

int main(void) {
    DDRB = 0xFF;
    for (uint8_t i = 0;; ++i) {
        PORTB = ticks[i & 7] ^ (uint8_t)banner[i % sizeof banner];
    }
}
