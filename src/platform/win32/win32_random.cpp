// The runtime's own generator: its state is per thread, so there is no lock.
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

RuntimeRandom::RuntimeRandom(unsigned seed) {
    std::srand(seed);
}

int RuntimeRandom::next() {
    return std::rand();
}

}  // namespace platform
