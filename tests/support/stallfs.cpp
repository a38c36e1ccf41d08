// A disk that stops answering, for tests: a FUSE file system holding one read-only file,
// MOUNTPOINT/track.mp3 with the bytes of SOURCE. After SIGUSR1 every read of it waits
// (and says "stalled" on stdout) until SIGUSR2, or until its reader is killed.
// Needs root, or fusermount3.
//   velmora_stallfs SOURCE MOUNTPOINT      (stays in the foreground; SIGTERM unmounts)
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace {

std::string g_bytes;
volatile std::sig_atomic_t g_stalled = 0;
constexpr const char *kTrack = "/track.mp3";

int getAttr(const char *path, struct stat *st, fuse_file_info *)
{
    *st = {};
    st->st_nlink = 1;
    if (std::strcmp(path, "/") == 0)
        st->st_mode = S_IFDIR | 0755;
    else if (std::strcmp(path, kTrack) == 0)
        st->st_mode = S_IFREG | 0444, st->st_size = off_t(g_bytes.size());
    else
        return -ENOENT;
    return 0;
}

int openFile(const char *, fuse_file_info *fi)
{
    fi->direct_io = 1; // every read comes here, none is answered from the page cache
    return 0;
}

int readFile(const char *, char *buffer, size_t size, off_t offset, fuse_file_info *)
{
    if (g_stalled) {
        std::puts("stalled");
        std::fflush(stdout);
        // A reader that is killed gives up, so that a test's program can always end.
        while (g_stalled && !fuse_interrupted())
            ::usleep(10000);
        if (g_stalled)
            return -EINTR;
    }
    const size_t start = std::min(size_t(offset), g_bytes.size());
    const size_t count = std::min(size, g_bytes.size() - start);
    std::memcpy(buffer, g_bytes.data() + start, count);
    return int(count);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE MOUNTPOINT\n", argv[0]);
        return 2;
    }
    std::ifstream source(argv[1], std::ios::binary);
    g_bytes.assign(std::istreambuf_iterator<char>(source), {});
    std::signal(SIGUSR1, [](int) { g_stalled = 1; });
    std::signal(SIGUSR2, [](int) { g_stalled = 0; });
    fuse_operations ops{};
    ops.getattr = getAttr;
    ops.open = openFile;
    ops.read = readFile;
    char foreground[] = "-f";
    char *args[] = {argv[0], foreground, argv[2], nullptr};
    return fuse_main(3, args, &ops, nullptr);
}
