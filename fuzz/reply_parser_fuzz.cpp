// Arbitrary byte streams from a board, split into arbitrary reads, must never drive the
// parser outside its state: the text stays terminated within its 24 characters and the
// states and positions keep their ranges.
#include "session/receiver.h"
#include "session/session_state.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetSessionState();
    // The first byte chooses where the stream is cut into reads.
    const std::size_t step = size > 0 ? (data[0] % 7) + 1 : 1;
    for (std::size_t offset = size > 0 ? 1 : 0; offset < size; offset += step) {
        const std::size_t count = offset + step <= size ? step : size - offset;
        ParseReplyBytes(data + offset, count);
        if (std::memchr(DeviceText, '\0', sizeof DeviceText) == nullptr)
            std::abort();
        if (BlockState > 3 || AckReceived > 1 || NakReceived > 1 || BlockComplete > 1)
            std::abort();
        if (InfoPosition > 3 && InfoPosition != kNoInfoRecord)
            std::abort();
        if (BlockState == 3 && BlockPosition > BlockLength)
            std::abort();
    }
    return 0;
}
