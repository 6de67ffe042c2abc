#pragma once

#include <string>

/// The meter's end of the serial line: the master of a pseudo-terminal whose slave the
/// program opens as its port, optionally reachable through a symbolic link.
///
/// The slave is put in raw mode (no echo, no translation of 0x0A or 0x0D) and one slave
/// descriptor is kept open for the whole run, so the master never sees a hang-up when the
/// program closes the port, and the program may open and close it as often as it likes.
/// That descriptor is never read from: it would steal the requests from the program.
class PtyDevice {
public:
    PtyDevice() = default;
    ~PtyDevice();
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    /// Throws std::runtime_error when no pseudo-terminal can be had.
    void open();
    /// Points `path` at the slave, replacing an existing symbolic link there (but nothing
    /// else). Throws std::runtime_error.
    void createLink(const std::string &path);
    /// Removes the link made by createLink() if it still points at our slave.
    void removeLink();

    int masterFd() const { return m_master; }
    const std::string &slavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_linkPath;
};
