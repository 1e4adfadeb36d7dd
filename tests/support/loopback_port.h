#pragma once
// Ports of 127.0.0.1 for the tests' own servers.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A socket bound to a port of 127.0.0.1 the system chose; `port` gets it.
inline int LoopbackSocket(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// A port of 127.0.0.1 that nothing listens on right now.
inline int FreeTcpPort() {
    int port = 0;
    close(LoopbackSocket(port));
    return port;
}
