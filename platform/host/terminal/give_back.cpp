#include "terminal/give_back.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

namespace host {

void WriteAll(int fd, const char* bytes, size_t length)
{
    while (length > 0) {
        const ssize_t n = write(fd, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        length -= size_t(n);
    }
}

void GiveBackAndRaise(int signal, const TerminalGiveBack& back, void (*then)())
{
    if (back.fd >= 0) {
        WriteAll(back.fd, back.reset, back.resetLength);
        if (back.haveModes)
            tcsetattr(back.fd, TCSADRAIN, &back.modes);
    }
    if (then)
        then();
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

}  // namespace host
