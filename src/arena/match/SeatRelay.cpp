#include "SeatRelay.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr size_t CHUNK = 65536;

void noDelay(int fd) {
    // Moves are small messages: each goes on at once rather than waiting for more.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool SeatRelay::pass(int from, int to) {
    char buffer[CHUNK];
    ssize_t n = read(from, buffer, sizeof buffer);
    while (n < 0 && errno == EINTR) {
        n = read(from, buffer, sizeof buffer);
    }
    return n > 0 && writeAll(to, buffer, static_cast<size_t>(n));
}

void SeatRelay::serve(int listener, int upstream, const sockaddr* target, socklen_t targetLength,
                      int reportFd, unsigned char seat, bool once) {
    int down = -1;
    bool used = false;
    bool downOpen = false;
    bool upOpen = false;
    for (;;) {
        pollfd fds[3] = {{listener, POLLIN, 0},
                         {downOpen ? down : -1, POLLIN, 0},
                         {upOpen ? upstream : -1, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0 && !used) {
                used = true;
                down = c;
                noDelay(down);
                noDelay(upstream);
                downOpen = upOpen = connect(upstream, target, targetLength) == 0;
            } else if (c >= 0) {
                (void)!write(reportFd, &seat, 1);
                close(c);
            }
        }
        // One side's end is passed on as the end of what goes the other way.
        if (downOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            !pass(down, upstream)) {
            downOpen = false;
            shutdown(upstream, SHUT_WR);
        }
        if (upOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            !pass(upstream, down)) {
            upOpen = false;
            shutdown(down, SHUT_WR);
        }
        if (used && down >= 0 && !downOpen && !upOpen) {
            close(down);
            close(upstream);
            down = -1;
            if (once) {
                return;
            }
        }
    }
}
