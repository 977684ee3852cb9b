#include "transfer/sha1_compress.h"

namespace {

using CompressFunction = void (*)(uint32_t*, uint32_t*, const unsigned char*, size_t);

struct ActiveEngine {
    Sha1Engine engine;
    CompressFunction compress;
};

CompressFunction compressFunctionOf(Sha1Engine engine) {
    return engine == Sha1Engine::ShaExtensions ? sha1CompressShaExtensions : sha1CompressPortable;
}

// Chosen once; the updater has one thread, so no guard beyond the static's own.
ActiveEngine& activeEngine() {
    static ActiveEngine active = [] {
        const Sha1Engine best =
            sha1CpuHasShaExtensions() ? Sha1Engine::ShaExtensions : Sha1Engine::Portable;
        return ActiveEngine{best, compressFunctionOf(best)};
    }();
    return active;
}

}  // namespace

void sha1CompressBlocks(uint32_t state[5], uint32_t workspace[16], const unsigned char* blocks,
                        size_t blockCount) {
    activeEngine().compress(state, workspace, blocks, blockCount);
}

bool sha1EngineAvailable(Sha1Engine engine) {
    return engine == Sha1Engine::Portable || sha1CpuHasShaExtensions();
}

Sha1Engine sha1ActiveEngine() {
    return activeEngine().engine;
}

bool sha1UseEngine(Sha1Engine engine) {
    if (!sha1EngineAvailable(engine)) return false;
    activeEngine() = ActiveEngine{engine, compressFunctionOf(engine)};
    return true;
}
