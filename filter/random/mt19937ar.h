// MT19937, the 32-bit Mersenne Twister of Matsumoto and Nishimura with the
// 2002 array seeding: one process-wide instance.
#pragma once

#include <cstdint>

void init_genrand(uint32_t s);
void init_by_array(const uint32_t init_key[], int key_length);
uint32_t genrand_int32(void);
