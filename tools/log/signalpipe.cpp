#include "signalpipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int s_fds[2] = {-1, -1};

void onSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(s_fds[0], &byte, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(QObject *parent) : QObject(parent) {}

SignalPipe::~SignalPipe() {
    delete m_notifier;
    for (int &fd : s_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool SignalPipe::install(std::initializer_list<int> numbers) {
    if (!m_notifier) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_fds) != 0)
            return false;
        // A burst of signals must never block the handler.
        ::fcntl(s_fds[0], F_SETFL, ::fcntl(s_fds[0], F_GETFL) | O_NONBLOCK);
        m_notifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read);
        connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::readSignal);
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : numbers)
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    return true;
}

void SignalPipe::readSignal() {
    unsigned char byte = 0;
    if (::read(s_fds[1], &byte, 1) == 1)
        emit received(byte);
}
