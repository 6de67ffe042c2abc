#include "ptydevice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::runtime_error systemError(const std::string &what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

std::string linkTarget(const std::string &path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

} // namespace

PtyDevice::~PtyDevice() {
    close();
}

void PtyDevice::close() {
    if (!m_linkPath.empty())
        m_closedLinkPath = m_linkPath;
    removeLink();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}

void PtyDevice::reopen() {
    close();
    open();
    if (!m_closedLinkPath.empty())
        createLink(m_closedLinkPath);
}

size_t PtyDevice::fillLine(uint8_t filler) {
    if (m_slave < 0)
        return 0;
    const std::string block(256, static_cast<char>(filler));
    size_t total = 0;
    for (;;) {
        const ssize_t n = ::write(m_slave, block.data(), block.size());
        if (n <= 0)
            return total;
        total += static_cast<size_t>(n);
    }
}

void PtyDevice::discardInput() {
    if (m_master >= 0)
        ::tcflush(m_master, TCIFLUSH);
}

void PtyDevice::open() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        throw systemError("cannot open a pseudo-terminal");
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        throw systemError("cannot unlock the pseudo-terminal");
    const char *name = ::ptsname(m_master);
    if (name == nullptr)
        throw systemError("cannot name the pseudo-terminal");
    m_slavePath = name;

    m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        throw systemError("cannot open " + m_slavePath);
    termios raw{};
    if (::tcgetattr(m_slave, &raw) != 0)
        throw systemError("cannot read the line settings of " + m_slavePath);
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(m_slave, TCSANOW, &raw) != 0)
        throw systemError("cannot set raw mode on " + m_slavePath);

    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    // Only fillLine() writes to it, and must never wait; the program's own open of the
    // device is a descriptor of its own and keeps its mode.
    ::fcntl(m_slave, F_SETFL, ::fcntl(m_slave, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

void PtyDevice::createLink(const std::string &path) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        throw std::runtime_error("refusing to replace " + path + ": it is not a symbolic link");

    // Made aside and renamed over the old link, so the path never goes missing.
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(m_slavePath.c_str(), temporary.c_str()) != 0)
        throw systemError("cannot create the link " + path);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        throw systemError("cannot create the link " + path);
    }
    m_linkPath = path;
}

void PtyDevice::removeLink() {
    if (m_linkPath.empty())
        return;
    // Another emulator may have taken the name over since; its link is not ours to remove.
    if (linkTarget(m_linkPath) == m_slavePath)
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
}
