// Another program in the way of Perennix's one-copy claim: listens on a Unix socket, takes
// connections and never answers. ADDRESS "@NAME" is NAME in the abstract namespace, any other
// ADDRESS a path. Prints "listening" once it listens, then runs until it is killed.
//   px_listen ADDRESS
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2 || std::strlen(argv[1]) >= sizeof(sockaddr_un::sun_path)) {
        std::fprintf(stderr, "usage: %s ADDRESS (a path, or @NAME in the abstract namespace)\n", argv[0]);
        return 2;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(argv[1]);
    std::memcpy(address.sun_path, argv[1], length);
    if (argv[1][0] == '@')
        address.sun_path[0] = '\0';
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const socklen_t size
        = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (argv[1][0] == '@' ? 0 : 1));
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0 || listen(fd, 16) != 0) {
        std::perror("px_listen");
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
