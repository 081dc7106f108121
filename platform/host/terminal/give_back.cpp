#include "terminal/give_back.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

namespace host {

void GiveBackAndRaise(int signal, const TerminalGiveBack& back, void (*then)())
{
    if (back.fd >= 0) {
        const char* bytes = back.reset;
        size_t length = back.resetLength;
        while (length > 0) {
            const ssize_t n = write(back.fd, bytes, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            bytes += n;
            length -= size_t(n);
        }
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
