// The encoder against the plain tree coder of tests/support: any message, fed in pieces
// of any size, gives the plain coder's stream byte for byte, and that stream decodes
// back to the message.  The encoder's fast paths (paired walks, the run shortcut) must
// end where the plain coder's one-at-a-time walks do.
//
// Input: a piece size (0: the whole message at once), a repeat count, then the bytes
// that, repeated, make the message: repeats give matches, and long messages wrap the
// ring, so that old strings leave the trees.
#include <cstdint>
#include <cstdlib>

#include "support/lzss_memory.h"
#include "support/lzss_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3) return 0;
    const size_t piece = data[0];
    const size_t repeats = 1 + data[1] % 16;
    Bytes message;
    for (size_t i = 0; i < repeats; ++i) message.insert(message.end(), data + 2, data + size);
    const Bytes stream = lzss_reference::Encode(message);
    if (LzssEncode(message, piece) != stream) abort();
    if (LzssDecode(stream) != message) abort();
    return 0;
}
