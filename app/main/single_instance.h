#pragma once
// One running program per program folder, so two windows never write the same settings,
// catalogue and list files. The first start takes a lock file and listens on a local socket
// beside it; a later start finds the lock taken, asks the first one over the socket to raise
// its window and then ends. A lock left by a crashed run is taken over (QLockFile checks the
// process that wrote it), and a stale socket file is removed before listening.
// Both live in a folder only this user may enter (instance_folder), named after a hash of
// the program folder.
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// The folder for the lock and the socket. `runtime_location` is the user's runtime folder as
// Qt gives it: empty when there is none to give (no XDG_RUNTIME_DIR, and the temporary
// folder's runtime-<user> belongs to someone else, which any local user can arrange). Then a
// folder of the program's own in the temporary folder, else one in `program_folder`; each is
// made when missing and taken only when it is this user's, not a link, and closed to others.
// Empty when none can be had.
QString instance_folder(const QString& runtime_location, const QString& program_folder);

class single_instance : public QObject {
    Q_OBJECT
  public:
    // `runtime_dir` holds the lock and the socket; `program_folder` names them.
    single_instance(const QString& runtime_dir, const QString& program_folder);
    ~single_instance() override;

    // False only when another copy holds the lock. A lock that cannot be made at all (no
    // folder, no rights) proves no other copy runs: this one starts, unguarded.
    bool is_first() const { return first_; }
    // True when this one holds the lock and serves raise requests.
    bool holds_lock() const { return server_ != nullptr; }
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
