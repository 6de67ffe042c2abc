#pragma once

#include <array>
#include <mutex>

/// Counts the calls of a file layer by kind and fails the k-th call of one kind: once, or
/// that call and every later one of its kind until room returns (heal()). Shared by the
/// table's fault VFS and the spool's test operations; calls may come from any thread.
class CallFaults {
public:
    static constexpr int kKinds = 16;

    /// From now on the `k`-th call of `kind` fails (1: the next); `lasting`: and the later
    /// ones too, until heal(). Counts start again. A `kind` of -1 fails nothing, and only
    /// counts.
    void arm(int kind, int k, bool lasting) {
        std::lock_guard lock(m_mutex);
        m_kind = kind;
        m_k = k;
        m_lasting = lasting;
        m_healed = false;
        m_fired = 0;
        m_calls.fill(0);
    }
    /// Room returns: nothing fails any more; calls are still counted.
    void heal() {
        std::lock_guard lock(m_mutex);
        m_healed = true;
    }
    /// While a checker looks at the files itself: nothing is counted or failed.
    void pause(bool paused) {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
    }
    /// Counts a call of `kind`; true when it is to fail.
    bool fails(int kind) {
        std::lock_guard lock(m_mutex);
        if (m_paused)
            return false;
        const int n = ++m_calls[std::size_t(kind)];
        if (kind != m_kind || m_healed || !(n == m_k || (m_lasting && n > m_k)))
            return false;
        ++m_fired;
        return true;
    }
    int calls(int kind) const {
        std::lock_guard lock(m_mutex);
        return m_calls[std::size_t(kind)];
    }
    /// Calls failed since arm().
    int fired() const {
        std::lock_guard lock(m_mutex);
        return m_fired;
    }

private:
    mutable std::mutex m_mutex;
    int m_kind = -1;
    int m_k = 0;
    bool m_lasting = false;
    bool m_healed = false;
    bool m_paused = false;
    int m_fired = 0;
    std::array<int, kKinds> m_calls{};
};
