// Preloaded into the command-line tool by a device test: every thread but the main one lingers after
// reading a message from the sound server (a socket message, or the 8-byte event-counter read that
// announces one in the shared-memory channel). The PulseAudio client thread then is still busy with the
// server's answers to a stream just closed while the main thread goes on to quit, as it is on a loaded
// machine, which makes races between quitting and that thread show up on nearly every run.
// SONAVIK_LINGER_US sets how long to linger (default 50 ms).

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

namespace {

void slowDown(ssize_t bytes)
{
    if (bytes <= 0 || syscall(SYS_gettid) == getpid())
        return;
    const char* us = std::getenv("SONAVIK_LINGER_US");
    usleep(static_cast<useconds_t>(us ? std::atoi(us) : 50000));
}

template <typename F>
F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" ssize_t recvmsg(int fd, struct msghdr* message, int flags)
{
    static const auto real = next<ssize_t (*)(int, struct msghdr*, int)>("recvmsg");
    const ssize_t n = real(fd, message, flags);
    slowDown(n);
    return n;
}

extern "C" ssize_t read(int fd, void* buffer, size_t length)
{
    static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
    const ssize_t n = real(fd, buffer, length);
    if (n == 8)
        slowDown(n);
    return n;
}
