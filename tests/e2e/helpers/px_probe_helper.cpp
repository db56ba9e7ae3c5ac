// A guarded program for the health probes' end-to-end tests, which stays alive whatever it
// stops doing:
//   px_probe_helper tcp PORT SECONDS
//     listens on 127.0.0.1:PORT and takes connections for SECONDS (0: for ever), then closes
//     its listening socket and sleeps until it is killed: alive, no longer accepting.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ServeTcp(int port, int seconds)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        std::perror("px_probe_helper");
        return 1;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (seconds > 0 && now.tv_sec - start.tv_sec >= seconds)
            break;
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 200) == 1) {
            const int connection = accept(fd, nullptr, nullptr);
            if (connection >= 0)
                close(connection);
        }
    }
    close(fd);
    for (;;)
        pause();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "tcp") == 0)
        return ServeTcp(std::atoi(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr, "usage: %s tcp PORT SECONDS\n", argv[0]);
    return 2;
}
