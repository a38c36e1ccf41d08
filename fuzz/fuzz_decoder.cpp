// Arbitrary bytes as an MP3 file: the decoder's open, scan, decode and seek path, and
// the tag readers on the whole input, on slices of it and through a file descriptor.
#include "fuzzcheck.h"

#include "decodeanybytes.h"
#include "id3tags.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Reads past the end of a slice must hit a redzone, not the next byte of the input, so
// every slice is handed over in a buffer of its own, of exactly its size.
class ExactCopy
{
public:
    explicit ExactCopy(QByteArrayView bytes) : m_bytes(bytes.begin(), bytes.end()) {}
    QByteArrayView view() const { return QByteArrayView(m_bytes.data(), qsizetype(m_bytes.size())); }

private:
    std::vector<char> m_bytes;
};

bool isOneLine(const QString &text)
{
    if (text != text.trimmed() || text.contains(QStringLiteral("  ")))
        return false;
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029 || u == 0xFEFF;
    });
}

void checkTags(const velmora::TrackTags &tags)
{
    FUZZ_REQUIRE(isOneLine(tags.title));
    FUZZ_REQUIRE(isOneLine(tags.artist));
    FUZZ_REQUIRE(isOneLine(tags.album));
}

// The tags read through a file descriptor, as the engine does. Large tags are walked
// frame by frame; a sparse file makes one of those cheap.
void readTagsFromFile(QByteArrayView bytes)
{
    const velmora::UniqueFd fd =
        velmora::memoryFile(reinterpret_cast<const std::uint8_t *>(bytes.data()), std::size_t(bytes.size()));
    if (!fd.isValid())
        return;
    qint64 fileSize = bytes.size();
    checkTags(velmora::readTags(fd.get(), fileSize));

    if (bytes.size() < 10)
        return;
    const qint64 declared = velmora::id3v2TagSize(bytes.first(10));
    constexpr qint64 kWholeTagLimit = 1 << 20;
    if (declared <= kWholeTagLimit)
        return;
    // A large unsynchronised ID3v2.2/2.3 tag is read as its first MiB in one piece;
    // undoing the unsynchronisation of a mostly empty MiB on every input would starve
    // the rest of the target, and that read is the same as for small tags.
    const int major = static_cast<unsigned char>(bytes[3]);
    const bool unsynchronised = static_cast<unsigned char>(bytes[5]) & 0x80;
    if (major < 4 && unsynchronised)
        return;
    // Zeros up to the declared end of the tag and a little beyond, then the input's
    // last 128 bytes again as a possible ID3v1 tag.
    fileSize = std::min<qint64>(declared, 4 * kWholeTagLimit) + 4096;
    const QByteArrayView tail = bytes.last(std::min<qsizetype>(bytes.size(), 128));
    if (fileSize < bytes.size() || ::ftruncate(fd.get(), fileSize - tail.size()) != 0
        || ::pwrite(fd.get(), tail.data(), std::size_t(tail.size()), fileSize - tail.size()) != tail.size())
        return;
    checkTags(velmora::readTags(fd.get(), fileSize));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    velmora::decodeForFuzzing(data, size);

    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkTags(velmora::parseId3v2(bytes));
    checkTags(velmora::parseId3v1(bytes));
    if (size >= 10) {
        const qint64 tagSize = velmora::id3v2TagSize(ExactCopy(bytes.first(10)).view());
        FUZZ_REQUIRE(tagSize == 0 || tagSize >= 10);
        // The tag cut short at every length a partial read could give.
        const qsizetype cut = qsizetype(std::min<qint64>(tagSize, qint64(size)));
        checkTags(velmora::parseId3v2(ExactCopy(bytes.first(cut)).view()));
        checkTags(velmora::parseId3v2(ExactCopy(bytes.first(qsizetype(size / 2))).view()));
    }
    // Head and tail as the engine reads them: the start of the file and its last 128 bytes.
    const ExactCopy head(bytes.first(std::min<qsizetype>(bytes.size(), 4096)));
    const ExactCopy tail(bytes.last(std::min<qsizetype>(bytes.size(), 128)));
    checkTags(velmora::parseTags(head.view(), tail.view()));

    const ExactCopy legacy(bytes.first(std::min<qsizetype>(bytes.size(), 30)));
    FUZZ_REQUIRE(isOneLine(velmora::oneLine(velmora::decodeLegacyText(legacy.view()))));

    readTagsFromFile(bytes);
    return 0;
}
