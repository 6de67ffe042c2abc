#pragma once

#include <cstddef>
#include <cstdint>
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

    /// The device goes away, as a pulled USB adapter does: both ends closed, the link
    /// removed (its path is kept for reopen()).
    void close();
    /// A new pseudo-terminal in place of the closed one, behind the same link if there was
    /// one. Throws std::runtime_error.
    void reopen();
    bool isOpen() const { return m_master >= 0; }

    /// Fills the line from the program up to what the terminal holds, as a device that stopped
    /// reading leaves it: our own slave descriptor writes `filler` until no more is taken.
    /// Returns the bytes written.
    size_t fillLine(uint8_t filler);
    /// Throws away what waits to be read from the program.
    void discardInput();

    int masterFd() const { return m_master; }
    const std::string &slavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_linkPath;
    std::string m_closedLinkPath;
};
