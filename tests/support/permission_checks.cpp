#include "tests/support/permission_checks.h"

#include <QFile>
#include <QTemporaryDir>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

void drop_permission_override() {
#ifdef __linux__
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        const unsigned bit = 1u << (cap % 32);
        data[cap / 32].effective &= ~bit;
        data[cap / 32].permitted &= ~bit;
        data[cap / 32].inheritable &= ~bit;
    }
    ::syscall(SYS_capset, &header, data);
#endif
}

bool permissions_bind() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("locked"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return false;
    }
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    QFile f(path);
    const bool refused = !f.open(QIODevice::ReadOnly);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return refused;
}
