// MT19937, the 32-bit Mersenne Twister of Matsumoto and Nishimura with the
// 2002 array seeding (the reference code mt19937ar): one process-wide
// instance.  Outputs are bit for bit those of the reference implementation.
//
// Note: std::mt19937 seeded through std::seed_seq is NOT the same seeding
// as init_by_array; this generator is the system's own.
#pragma once

#include <cstddef>
#include <cstdint>

// Seed the state vector from one word.
void init_genrand(uint32_t s);

// Seed from a key of key_length words (the reference mixing: max(624,
// key_length) steps with 1664525, then 623 steps with 1566083941).
void init_by_array(const uint32_t init_key[], int key_length);

// The next 32-bit output.  Regenerates all 624 words when the vector is
// used up; a generator never seeded is first seeded with 5489.
uint32_t genrand_int32(void);

// The next n outputs into out, the same words n calls of genrand_int32()
// would give (built for AVX2 too, used within the stages' vector level).
void genrand_block(uint32_t *out, size_t n);
