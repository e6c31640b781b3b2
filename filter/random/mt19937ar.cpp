// MT19937 (not yet implemented).
#include "mt19937ar.h"

void init_genrand(uint32_t s) { (void)s; }
void init_by_array(const uint32_t init_key[], int key_length) { (void)init_key; (void)key_length; }
uint32_t genrand_int32(void) { return 0; }
