// The helpers that need the system's own calls, on Linux: capabilities, the file-size limit,
// FIFOs.

#include "testfiles.h"

#include <QFile>

#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool capabilities(bool set, __user_cap_data_struct *data)
{
    __user_cap_header_struct header{ _LINUX_CAPABILITY_VERSION_3, 0 };
    return syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

PermissionsEnforced::PermissionsEnforced()
{
    if (geteuid() != 0) {
        m_enforced = true;
        return;
    }
    __user_cap_data_struct data[2] = {};
    if (!capabilities(false, data))
        return;
    m_saved[0] = data[0].effective;
    m_saved[1] = data[1].effective;
    data[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    m_dropped = capabilities(true, data);
    m_enforced = m_dropped;
}

PermissionsEnforced::~PermissionsEnforced()
{
    if (!m_dropped)
        return;
    __user_cap_data_struct data[2] = {};
    capabilities(false, data);
    data[0].effective = m_saved[0];
    data[1].effective = m_saved[1];
    if (!capabilities(true, data))
        qFatal("cannot give the file capabilities back");
}

FileSizeLimit::FileSizeLimit(qint64 maxBytes)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    m_savedSoft = limit.rlim_cur;
    m_savedHard = limit.rlim_max;
    // Past the limit the system sends SIGXFSZ, which would end the process: the write must
    // fail with EFBIG instead, as it does on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = static_cast<rlim_t>(maxBytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (!m_active)
        return;
    rlimit limit{ static_cast<rlim_t>(m_savedSoft), static_cast<rlim_t>(m_savedHard) };
    setrlimit(RLIMIT_FSIZE, &limit);
}

bool fifosExist()
{
    return true;
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}
