#include "app/main/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const QByteArray raise_message = QByteArrayLiteral("raise\n");

QString instance_name(const QString& program_folder) {
    const QByteArray hash = QCryptographicHash::hash(QDir(program_folder).absolutePath().toUtf8(),
                                                     QCryptographicHash::Sha1);
    return QStringLiteral("quellmark-") + QString::fromLatin1(hash.toHex().left(16));
}
// Makes `path` (its parent must exist) or takes it as it is, when it is a folder of this
// user's that no one else may enter. In a shared temporary folder anyone may have made it.
bool private_folder(const QString& path) {
#ifdef Q_OS_UNIX
    const QByteArray p = QFile::encodeName(path);
    if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(p.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 077) == 0 || ::chmod(p.constData(), 0700) == 0;
#else
    return QDir().mkpath(path);
#endif
}

QString own_id() {
#ifdef Q_OS_UNIX
    return QString::number(::geteuid());
#else
    return QStringLiteral("user");
#endif
}

} // namespace

QString instance_folder(const QString& runtime_location, const QString& program_folder) {
    if (!runtime_location.isEmpty()) return runtime_location;
    const QString candidates[] = {
        QDir::tempPath() + QStringLiteral("/quellmark-") + own_id(),
        program_folder.isEmpty() ? QString() : program_folder + QStringLiteral("/.quellmark-run"),
    };
    for (const QString& folder : candidates)
        if (!folder.isEmpty() && private_folder(folder)) return folder;
    return {};
}

single_instance::single_instance(const QString& runtime_dir, const QString& program_folder)
    : socket_path_(runtime_dir + u'/' + instance_name(program_folder) + u".socket"),
      lock_(runtime_dir + u'/' + instance_name(program_folder) + u".lock") {
    if (runtime_dir.isEmpty()) {
        first_ = true;
        return;
    }
    QDir().mkpath(runtime_dir);
    // Held for the whole run: only a dead owner makes it stale, never its age.
    lock_.setStaleLockTime(0);
    first_ = lock_.tryLock(0);
    if (!first_) {
        first_ = lock_.error() != QLockFile::LockFailedError;
        return;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socket_path_); // left by a run that crashed
    server_->listen(socket_path_);
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->canReadLine() && peer->readLine() == raise_message) {
                    peer->write("ok\n");
                    peer->flush();
                    emit raise_requested();
                }
            });
        }
    });
}

single_instance::~single_instance() {
    if (server_) server_->close();
}

bool single_instance::ask_first_to_raise(int wait_ms) const {
    // The first start may still be on its way to listening: try again until the deadline.
    const QDeadlineTimer deadline(wait_ms);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socket_path_);
        if (socket.waitForConnected(int(deadline.remainingTime()))) {
            socket.write(raise_message);
            socket.flush();
            return socket.waitForReadyRead(int(deadline.remainingTime()));
        }
        if (deadline.hasExpired()) return false;
        QThread::msleep(50);
    }
}
