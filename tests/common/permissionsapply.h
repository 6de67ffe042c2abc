#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

/// Takes away root's licence to write where the permissions say no, for as long as it
/// lives (this thread only), so a read-only folder is read-only for the test too.
class PermissionsApply {
public:
    PermissionsApply() {
        if (geteuid() != 0)
            return;
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_active = syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionsApply() {
        if (m_active)
            syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionsApply(const PermissionsApply &) = delete;
    PermissionsApply &operator=(const PermissionsApply &) = delete;

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};
