// glibc's rand() is random() on a 128-byte state; random_r on a state of the
// same size, seeded the same way, gives the same sequence without the lock.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace {

struct GeneratorState {
    random_data data;
    char table[128];
};

}  // namespace

namespace platform {

static_assert(sizeof(GeneratorState) <= 192, "the generator state must fit its buffer");

RuntimeRandom::RuntimeRandom(unsigned seed) {
    GeneratorState* generator = new (state_) GeneratorState();
    std::memset(generator->table, 0, sizeof generator->table);
    initstate_r(seed, generator->table, sizeof generator->table, &generator->data);
    srandom_r(seed, &generator->data);
}

int RuntimeRandom::next() {
    int32_t value = 0;
    random_r(&std::launder(reinterpret_cast<GeneratorState*>(state_))->data, &value);
    return value;
}

}  // namespace platform
