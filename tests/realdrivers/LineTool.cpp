// A program that holds a serial port the way other programs do, for the
// tests on real drivers: `varnis-line-tool hold-excl PATH` opens PATH, marks
// it for exclusive use (TIOCEXCL, nothing else), prints "held", waits for the
// end of its standard input, then says whether the mark is still set.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3 || std::strcmp(argv[1], "hold-excl") != 0) {
        std::fputs("usage: varnis-line-tool hold-excl PATH\n", stderr);
        return 2;
    }
    const int hLine = ::open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (hLine < 0 || ::ioctl(hLine, TIOCEXCL) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    int nExclusive = 0;
    if (::ioctl(hLine, TIOCGEXCL, &nExclusive) != 0) {
        std::perror("TIOCGEXCL");
        return 1;
    }
    std::printf(nExclusive != 0 ? "mark kept\n" : "mark cleared\n");
    ::close(hLine);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
