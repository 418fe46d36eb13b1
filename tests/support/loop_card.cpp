#include "tests/support/loop_card.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace {

struct run_result {
    int code = -1;
    QString output;
};

run_result run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120'000)) {
        p.kill();
        p.waitForFinished();
        return {-1, program + QStringLiteral(": did not finish")};
    }
    const int code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return {code, QString::fromLocal8Bit(p.readAll())};
}

QString attach(const QString& image, bool read_only) {
    QStringList args{QStringLiteral("-f"), QStringLiteral("--show"),
                     QStringLiteral("--direct-io=on")};
    if (read_only) args << QStringLiteral("-r");
    const run_result r = run(QStringLiteral("losetup"), args << image);
    return r.code == 0 ? r.output.trimmed() : QString();
}

void detach(const QString& device) {
    if (!device.isEmpty()) run(QStringLiteral("losetup"), {QStringLiteral("-d"), device});
}

QStringList mount_args(card_format format, const QString& device, const QString& where,
                       bool read_only) {
    QStringList args;
    if (format == card_format::exfat) args << QStringLiteral("-t") << QStringLiteral("exfat-fuse");
    if (read_only) args << QStringLiteral("-o") << QStringLiteral("ro");
    return args << device << where;
}

} // namespace

QString loop_card::unavailable(card_format format, bool faulty) {
    if (::geteuid() != 0) return QStringLiteral("needs root to attach and mount a loop device");
    QStringList tools{QStringLiteral("losetup"), QStringLiteral("mount"), QStringLiteral("umount"),
                      QStringLiteral("cmp")};
    if (format == card_format::ext4)
        tools << QStringLiteral("mkfs.ext4") << QStringLiteral("e2fsck");
    else
        tools << QStringLiteral("mkfs.exfat") << QStringLiteral("fsck.exfat")
              << QStringLiteral("mount.exfat-fuse");
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty() &&
            QStandardPaths::findExecutable(tool,
                                           {QStringLiteral("/sbin"), QStringLiteral("/usr/sbin")})
                .isEmpty())
            return tool + QStringLiteral(" is not installed (scripts/setup installs it)");
    if (!QFile::exists(QStringLiteral("/dev/loop-control")))
        return QStringLiteral("no loop devices here");
    if ((format == card_format::exfat || faulty) && !QFile::exists(QStringLiteral("/dev/fuse")))
        return QStringLiteral("no /dev/fuse here");
    if (faulty && run(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral("-c"), QStringLiteral("import fusepy")})
                          .code != 0)
        return QStringLiteral("python3-fusepy is not installed (scripts/setup installs it)");
    return {};
}

loop_card::loop_card(card_format format, int mib, card_faults faults)
    : format_(format), dir_(QDir::tempPath() + QStringLiteral("/card-XXXXXX")) {
    image_ = dir_.filePath(QStringLiteral("card.img"));
    mount_point_ = dir_.filePath(QStringLiteral("card"));
    QDir().mkpath(mount_point_);
    if (faults.any()) {
        const QString served = dir_.filePath(QStringLiteral("served"));
        QDir().mkpath(served);
        const qint64 claims = qint64{mib} << 20;
        QStringList args{
            QStringLiteral(QM_TEST_SOURCE_DIR "/tests/support/faulty_card.py"),
            served,
            QStringLiteral("--claims"),
            QString::number(claims),
            QStringLiteral("--keeps"),
            QString::number(faults.keeps_mib >= 0 ? qint64{faults.keeps_mib} << 20 : claims)};
        if (faults.flip_from_mib >= 0)
            args << QStringLiteral("--flip") << QString::number(qint64{faults.flip_from_mib} << 20);
        server_ = std::make_unique<QProcess>();
        server_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server_->start(QStringLiteral("/usr/bin/python3"),
                       QStringList{QStringLiteral("-W"), QStringLiteral("ignore")} + args);
        image_ = served + QStringLiteral("/card.img");
        for (int i = 0; i < 100 && !QFile::exists(image_); ++i) ::usleep(50'000);
        if (!QFile::exists(image_)) {
            error_ = QStringLiteral("the faulty card's server did not start");
            return;
        }
    } else {
        QFile f(image_);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64{mib} << 20)) {
            error_ = QStringLiteral("cannot create the image");
            return;
        }
    }
    device_ = attach(image_, false);
    if (device_.isEmpty()) {
        error_ = QStringLiteral("losetup failed");
        return;
    }
    QStringList ext4_args{QStringLiteral("-q"), QStringLiteral("-F")};
    // 4 KiB blocks keep every group's tables at the start, inside what a faulty card keeps.
    if (server_)
        ext4_args << QStringLiteral("-O") << QStringLiteral("^has_journal") << QStringLiteral("-b")
                  << QStringLiteral("4096");
    const run_result made = format == card_format::ext4
                                ? run(QStringLiteral("mkfs.ext4"), ext4_args << device_)
                                : run(QStringLiteral("mkfs.exfat"), {device_});
    if (made.code != 0) {
        error_ = QStringLiteral("mkfs failed: ") + made.output;
        return;
    }
    if (!mount()) error_ = QStringLiteral("mount failed");
}

loop_card::~loop_card() {
    if (mounted_) unmount();
    // A lazy unmount may still hold the device for a moment.
    for (int i = 0; i < 50 && !device_.isEmpty(); ++i) {
        detach(device_);
        if (run(QStringLiteral("losetup"), {device_}).output.contains(image_)) {
            ::usleep(100'000);
            continue;
        }
        break;
    }
    if (server_) {
        run(QStringLiteral("umount"), {QFileInfo(image_).path()});
        if (!server_->waitForFinished(10'000)) server_->kill();
        server_->waitForFinished();
    }
}

bool loop_card::unmount(bool lazy) {
    QStringList args;
    if (lazy) args << QStringLiteral("-l");
    const bool done = run(QStringLiteral("umount"), args << mount_point_).code == 0;
    if (done) mounted_ = false;
    return done;
}

bool loop_card::remount_cold() {
    if (mounted_ && !unmount()) return false;
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (!drop.open(QIODevice::WriteOnly) || drop.write("3\n") != 2) return false;
    drop.close();
    return mount();
}

bool loop_card::mount() {
    mounted_ =
        run(QStringLiteral("mount"), mount_args(format_, device_, mount_point_, false)).code == 0;
    return mounted_;
}

loop_card::snapshot
loop_card::check_snapshot(const std::vector<std::pair<QString, QString>>& expected) const {
    snapshot out;
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/card-snapshot-XXXXXX"));
    const QString copy = work.filePath(QStringLiteral("snapshot.img"));
    if (run(QStringLiteral("cp"), {QStringLiteral("--sparse=always"), image_, copy}).code != 0) {
        out.fsck_output = QStringLiteral("cannot copy the image");
        return out;
    }
    if (format_ == card_format::ext4) {
        // Replaying the journal is what mounting the card does; after that the file
        // system must be whole.
        run(QStringLiteral("e2fsck"),
            {QStringLiteral("-E"), QStringLiteral("journal_only"), QStringLiteral("-y"), copy});
        const run_result r =
            run(QStringLiteral("e2fsck"), {QStringLiteral("-f"), QStringLiteral("-n"), copy});
        out.fsck_clean = r.code == 0;
        out.fsck_output = r.output;
    } else {
        const run_result r = run(QStringLiteral("fsck.exfat"), {QStringLiteral("-n"), copy});
        out.fsck_clean = r.code == 0;
        out.fsck_output = r.output;
    }

    const QString where = work.filePath(QStringLiteral("mnt"));
    QDir().mkpath(where);
    const QString device = attach(copy, true);
    const bool mounted =
        !device.isEmpty() &&
        run(QStringLiteral("mount"), mount_args(format_, device, where, true)).code == 0;
    for (const auto& [name, original] : expected) {
        if (!mounted ||
            run(QStringLiteral("cmp"), {QStringLiteral("-s"), where + u'/' + name, original})
                    .code != 0)
            out.bad << name;
    }
    if (mounted) run(QStringLiteral("umount"), {where});
    detach(device);
    return out;
}
