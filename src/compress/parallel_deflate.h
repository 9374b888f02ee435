// Several buffers compressed at once, each into its own raw deflate stream, with the
// work of all of them spread over the machine's cores: the buffers are cut into
// pieces that are parsed side by side, and each stream receives exactly the bytes a
// TDeflateStream (dynamic blocks) would write for its buffer given whole and closed.
#pragma once

#include <cstdint>
#include <span>

namespace sq {

class TBaseStream;

constexpr int64_t kDeflatePieceSize = int64_t(1) << 18;

// outputs[i] receives the closed stream of inputs[i].  pieceSize (1 KiB to 4 MiB)
// only changes how the work is shared out, never the bytes.
void DeflateBuffers(std::span<const std::span<const uint8_t>> inputs, std::span<TBaseStream* const> outputs,
                    int64_t pieceSize = kDeflatePieceSize);

}  // namespace sq
