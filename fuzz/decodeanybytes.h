#pragma once
// Arbitrary bytes through the engine's decoder as a file: open, scan, decode and seeks,
// with no audio output. For tests and fuzzers.

#include "mp3decoder.h"
#include "posixfile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace velmora {

// An anonymous file holding `data`, read from its start.
inline UniqueFd memoryFile(const std::uint8_t *data, std::size_t size)
{
    UniqueFd fd(::memfd_create("velmora_bytes", MFD_CLOEXEC));
    for (std::size_t done = 0; fd.isValid() && done < size;) {
        const ssize_t wrote = ::write(fd.get(), data + done, size - done);
        if (wrote <= 0)
            fd.reset();
        else
            done += std::size_t(wrote);
    }
    return fd;
}

// The number of MPEG frames decoded.
inline int decodeForFuzzing(const std::uint8_t *data, std::size_t size)
{
    Mp3Decoder decoder;
    UniqueFd fd = memoryFile(data, size);
    if (!fd.isValid() || !decoder.open(std::move(fd)))
        return 0;
    int decoded = 0;
    const auto decodeSome = [&](int limit) {
        int errors = 0;
        for (int i = 0; i < limit; ++i) {
            const Mp3Decoder::Chunk chunk = decoder.decodeFrame();
            if (chunk.kind == Mp3Decoder::Chunk::Kind::End)
                return;
            if (chunk.kind == Mp3Decoder::Chunk::Kind::Error) {
                if (++errors > kMaxDecodeErrorRun)
                    return;
                continue;
            }
            errors = 0;
            ++decoded;
        }
    };
    decodeSome(100000);
    const qint64 frames = decoder.frameCount();
    for (qint64 target : {frames / 2, qint64(0), frames, frames + 7, qint64(-3), frames - 1}) {
        decoder.seekFrame(target);
        decodeSome(3);
    }
    (void)decoder.durationMs();
    (void)decoder.tellFrame();
    return decoded;
}

} // namespace velmora
