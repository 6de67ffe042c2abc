#include "bytelog.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

ByteLog::~ByteLog() {
    if (m_file != nullptr)
        std::fclose(m_file);
}

void ByteLog::open(const std::string &path) {
    m_file = std::fopen(path.c_str(), "ae");
    if (m_file == nullptr)
        throw std::runtime_error("cannot open the log " + path + ": " + std::strerror(errno));
}

void ByteLog::record(int64_t ms, uint8_t byte) {
    if (m_file == nullptr)
        return;
    std::fprintf(m_file, "%lld %02X\n", static_cast<long long>(ms), byte);
    std::fflush(m_file);
}

void ByteLog::shown(int64_t ms, const std::vector<uint8_t> &frame, size_t sent) {
    if (m_file == nullptr)
        return;
    std::fprintf(m_file, "%lld shows ", static_cast<long long>(ms));
    for (const uint8_t byte : frame)
        std::fprintf(m_file, "%02X", byte);
    if (sent < frame.size())
        std::fprintf(m_file, " cut %zu", sent);
    std::fputc('\n', m_file);
    std::fflush(m_file);
}
