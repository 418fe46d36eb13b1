#pragma once
// One running program per program folder, so two windows never write the same settings,
// catalogue and list files. The first start takes a lock file and listens on a local socket
// beside it; a later start finds the lock taken, asks the first one over the socket to raise
// its window and then ends. A lock left by a crashed run is taken over (QLockFile checks the
// process that wrote it), and a stale socket file is removed before listening.
// Both live in the user's runtime folder, named after a hash of the program folder.
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

class single_instance : public QObject {
    Q_OBJECT
  public:
    // `runtime_dir` holds the lock and the socket; `program_folder` names them.
    single_instance(const QString& runtime_dir, const QString& program_folder);
    ~single_instance() override;

    // True when this is the first start: the lock is held and raise requests are served.
    bool is_first() const { return first_; }
    // From a later start: asks the first one to raise its window; false when it could
    // not be reached within `wait_ms`.
    bool ask_first_to_raise(int wait_ms = 3000) const;

  signals:
    void raise_requested();

  private:
    QString socket_path_;
    QLockFile lock_;
    bool first_ = false;
    std::unique_ptr<QLocalServer> server_;
};
