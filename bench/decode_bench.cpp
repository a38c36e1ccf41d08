// Usage: decode_bench FILE
//
// Opens FILE with the engine's decoder and decodes every frame as fast as it can,
// writing nowhere. Prints "<seconds> <frames> <pcm bytes>" (wall clock, open and scan
// included, as a player would pay them). Exit status 1 when the file does not open.
#include "mp3decoder.h"
#include "posixfile.h"

#include <QString>

#include <chrono>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    velmora::OpenedFile file = velmora::openRegularFile(QString::fromLocal8Bit(argv[1]));
    velmora::Mp3Decoder decoder;
    if (file.problem != velmora::FileProblem::None || !decoder.open(std::move(file.fd))) {
        std::fprintf(stderr, "%s: cannot open as MP3\n", argv[1]);
        return 1;
    }
    long long frames = 0, bytes = 0;
    int errors = 0;
    for (;;) {
        const velmora::Mp3Decoder::Chunk chunk = decoder.decodeFrame();
        if (chunk.kind == velmora::Mp3Decoder::Chunk::Kind::End)
            break;
        if (chunk.kind == velmora::Mp3Decoder::Chunk::Kind::Error) {
            if (++errors >= velmora::kMaxDecodeErrorRun)
                break;
            continue;
        }
        errors = 0;
        ++frames;
        bytes += static_cast<long long>(chunk.bytes);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("%.4f %lld %lld\n", took.count(), frames, bytes);
    return 0;
}
