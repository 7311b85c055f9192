#include "tests/streaming_peer.h"

#include <poll.h>
#include <unistd.h>

#include <vector>

namespace marvalo::testing {

StreamingPeer::StreamingPeer() {
    writer_ = std::thread([this] {
        const std::vector<unsigned char> chunk(4096, 0x55);
        while (!stop_) {
            if (::write(pty_.controller(), chunk.data(), chunk.size()) < 0) {
                struct pollfd room {
                    pty_.controller(), POLLOUT, 0
                };
                ::poll(&room, 1, 10);
            }
        }
    });
}

StreamingPeer::~StreamingPeer() {
    stop_ = true;
    writer_.join();
}

}  // namespace marvalo::testing
