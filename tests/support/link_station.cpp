// A link station for tests in two processes: `link_station PORT send N SEED` sends N
// data frames of seeded random sizes (1 to 2076 bytes), each answered by an
// acknowledgement; `link_station PORT answer N SEED` checks each frame byte for byte
// against the same seed and acknowledges it.  The port's line comes from DRUMMEL_PORT<n>.
// Exit code 0 when every frame went through intact; the sender prints its rate.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "varnek.h"

namespace {

std::vector<uint8_t> Payload(std::mt19937 &rng)
{
    std::vector<uint8_t> data(1 + rng() % 2076);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    return data;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: link_station PORT send|answer N SEED\n");
        return 2;
    }
    short port = static_cast<short>(atoi(argv[1]));
    bool sender = strcmp(argv[2], "send") == 0;
    int frames = atoi(argv[3]);
    std::mt19937 rng(static_cast<unsigned>(atoi(argv[4])));
    if (LINK_Open(port, 1152, 8, 'N', 1, 0, 2000, 16384) != 1) {
        fprintf(stderr, "link_station: port %d did not open\n", port);
        return 2;
    }
    std::vector<uint8_t> buffer(4096);
    auto start = std::chrono::steady_clock::now();
    uint64_t bytes = 0;
    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> data = Payload(rng);
        if (sender) {
            short r = LINK_SndRcv(port, data.data(), static_cast<uint16_t>(data.size()), buffer.data(), 4096);
            if (r != 1) {
                fprintf(stderr, "link_station: frame %d not acknowledged (%d)\n", i, r);
                return 1;
            }
        } else {
            short r = LINK_Receive(port, buffer.data(), 4096);
            if (r != static_cast<short>(data.size() + 1) || memcmp(buffer.data(), data.data(), data.size()) != 0) {
                fprintf(stderr, "link_station: frame %d arrived damaged (%d)\n", i, r);
                return 1;
            }
            if (LINK_SndAck(port) != 1) return 1;
        }
        bytes += data.size();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (sender) {
        printf("%d frames, %llu payload bytes in %.3f s: %.0f frames/s, %.2f MB/s\n", frames,
               static_cast<unsigned long long>(bytes), seconds, frames / seconds, bytes / seconds / 1e6);
    }
    LINK_Close(port);
    return 0;
}
