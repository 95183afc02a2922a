#pragma once
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ostrel::test {

// While it lives, this thread keeps file permissions as a plain user does: root's override
// of them is taken out of the effective capabilities (and put back afterwards), so tests
// of read-only files and folders mean the same under root, as CI runs, as for a user.
class PlainUser {
public:
    PlainUser()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        syscall(SYS_capset, &m_header, reduced);
    }
    ~PlainUser() { syscall(SYS_capset, &m_header, m_saved); }
    PlainUser(const PlainUser&) = delete;
    PlainUser& operator=(const PlainUser&) = delete;

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
};

} // namespace ostrel::test
