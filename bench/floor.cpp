// The floor of the address scan: the least a program must do to print the pieces that
// hold "@" of every line, as grep -ao '[^[:space:]]*@[^[:space:]]*' prints them: 256 KiB
// reads, memchr for line ends and for "@", the pieces around each "@" written out.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

static bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0)
        return 1;
    std::vector<char> buffer(1 << 18);
    std::vector<char> out;
    out.reserve(1 << 20);
    size_t held = 0;
    auto flush = [&] {
        fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    };
    for (;;) {
        const ssize_t n = read(fd, buffer.data() + held, buffer.size() - held);
        if (n < 0)
            return 1;
        const size_t size = held + size_t(n);
        char *p = buffer.data();
        char *end = p + size;
        for (;;) {
            char *nl = static_cast<char *>(memchr(p, '\n', size_t(end - p)));
            if (!nl && n > 0)
                break;
            char *lineEnd = nl ? nl : end;
            for (char *at = static_cast<char *>(memchr(p, '@', size_t(lineEnd - p))); at;) {
                char *start = at, *stop = at + 1;
                while (start > p && !isSpace(static_cast<unsigned char>(start[-1])))
                    --start;
                while (stop < lineEnd && !isSpace(static_cast<unsigned char>(*stop)))
                    ++stop;
                out.insert(out.end(), start, stop);
                out.push_back('\n');
                at = stop < lineEnd ? static_cast<char *>(memchr(stop, '@', size_t(lineEnd - stop)))
                                    : nullptr;
            }
            if (out.size() > (1 << 20))
                flush();
            if (!nl)
                break;
            p = nl + 1;
        }
        if (n == 0)
            break;
        held = size_t(end - p);
        if (held == buffer.size())
            buffer.resize(buffer.size() * 2); // a line longer than the buffer
        std::memmove(buffer.data(), p, held);
    }
    flush();
    return 0;
}
