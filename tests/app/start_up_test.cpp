// Start-up: where the program folder is, one running copy per folder, Qt's Chinese texts.
#include "app/main/single_instance.h"
#include "app/shell/program_folder.h"
#include "app/shell/qt_translations.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

TEST(start_up, installed_copy_is_told_by_its_folder) {
    QTemporaryDir dir;
    const QString bin = dir.path() + u"/usr/bin"_s;
    QDir().mkpath(bin);
    QDir().mkpath(dir.path() + u"/build/app"_s);
    QFile::link(dir.path() + u"/usr/bin"_s, dir.path() + u"/bin"_s); // a merged /usr
    const struct {
        QString program_dir, installed_bin_dir;
        bool installed;
    } cases[] = {
        {bin, bin, true},
        {dir.path() + u"/bin"_s, bin, true},
        {bin + u"/"_s, bin, true},
        {dir.path() + u"/build/app"_s, bin, false},
        {bin, u""_s, false},
        {u""_s, u""_s, false},
        {dir.path() + u"/missing"_s, dir.path() + u"/missing"_s, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runs_installed(c.program_dir, c.installed_bin_dir), c.installed)
            << c.program_dir.toStdString() << " vs " << c.installed_bin_dir.toStdString();
}

TEST(start_up, installed_copy_keeps_its_files_in_the_user_data_folder) {
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(u"quellmarkapp"_s);
    const QString data = QDir::homePath() + u"/.local/share/quellmarkapp"_s;
    QDir(data).removeRecursively();

    EXPECT_EQ(choose_program_folder(true), data);
    EXPECT_TRUE(QDir(data).exists()); // made on first start
    EXPECT_EQ(choose_program_folder(false), QDir::currentPath());

    // A data folder that cannot be made is reported, not replaced by the current directory.
    QDir(data).removeRecursively();
    QFile blocker(data);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(choose_program_folder(true), QString());
    QFile::remove(data);
    QCoreApplication::setApplicationName(name);
}

TEST(start_up, second_start_raises_the_first_and_the_lock_ends_with_it) {
    QTemporaryDir runtime, folder, other_folder;
    auto first = std::make_unique<single_instance>(runtime.path(), folder.path());
    ASSERT_TRUE(first->is_first());
    QSignalSpy raised(first.get(), &single_instance::raise_requested);

    single_instance second(runtime.path(), folder.path());
    EXPECT_FALSE(second.is_first());
    EXPECT_TRUE(single_instance(runtime.path(), other_folder.path()).is_first());

    // The asking side blocks, so it runs beside the event loop that serves the first one.
    bool answered = false;
    std::thread asker([&] { answered = second.ask_first_to_raise(5000); });
    EXPECT_TRUE(raised.wait(5000));
    asker.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(raised.count(), 1);

    first.reset();
    EXPECT_FALSE(second.ask_first_to_raise(200)); // nobody listens any more
    EXPECT_TRUE(single_instance(runtime.path(), folder.path()).is_first());
}

// An ordinary user without XDG_RUNTIME_DIR whose runtime-<user> folder someone else made:
// the first start must run and hold the lock, a second must still be told apart.
TEST(start_up, a_runtime_folder_taken_by_another_user_does_not_count_as_a_running_copy) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
    const passwd* user = ::getpwnam("nobody");
    if (!user) GTEST_SKIP() << "no user nobody here";
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const QString own = u"quellmark-"_s + QString::number(uid);

    // Which folders another user made first: the runtime folder alone, then ours too.
    for (const QStringList& squatted :
         {QStringList{u"runtime-nobody"_s}, QStringList{u"runtime-nobody"_s, own}}) {
        QTemporaryDir tmp; // stands in for /tmp
        ::chmod(QFile::encodeName(tmp.path()).constData(), 01777);
        for (const QString& name : squatted) {
            QDir(tmp.path()).mkdir(name);
            ::chmod(QFile::encodeName(tmp.filePath(name)).constData(), 0700);
        }
        const QString program = tmp.filePath(u"program"_s);
        QDir().mkpath(program);
        ASSERT_EQ(::chown(QFile::encodeName(program).constData(), uid, gid), 0);

        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(out[0]);
            ::setenv("TMPDIR", QFile::encodeName(tmp.path()).constData(), 1);
            ::unsetenv("XDG_RUNTIME_DIR");
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(2);
            const QString runtime =
                QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
            const QString folder = instance_folder(runtime, program);
            QString report = u"runtime=%1 folder=%2"_s.arg(runtime, folder);
            {
                single_instance first(folder, program);
                single_instance second(folder, program);
                report += u" first=%1 held=%2 second=%3"_s.arg(first.is_first())
                              .arg(first.holds_lock())
                              .arg(second.is_first());
            }
            const QByteArray bytes = report.toUtf8();
            const bool sent =
                ::write(out[1], bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
            ::_exit(sent ? 0 : 3);
        }
        ::close(out[1]);
        QByteArray report;
        char buffer[512];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
        ::close(out[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

        const QString folder =
            squatted.contains(own) ? program + u"/.quellmark-run"_s : tmp.filePath(own);
        EXPECT_EQ(QString::fromUtf8(report),
                  u"runtime= folder=%1 first=1 held=1 second=0"_s.arg(folder));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, uid);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        for (const QString& path : {folder, program}) // so the temporary folder can go
            ::chown(QFile::encodeName(path).constData(), 0, 0);
    }
}

TEST(start_up, standard_dialogs_read_chinese_whatever_the_locale) {
    ASSERT_TRUE(load_qt_chinese_translations(*QCoreApplication::instance()));
    QMessageBox box(QMessageBox::Question, u"提示"_s, u"?"_s,
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), u"确定"_s);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), u"取消"_s);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), u"是(&Y)"_s);

    QFileDialog chooser(nullptr, u"选择文件夹"_s);
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    auto* buttons = chooser.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), u"取消"_s);
    EXPECT_EQ(chooser.labelText(QFileDialog::LookIn),
              QCoreApplication::translate("QFileDialog", "Look in:"));
    EXPECT_NE(chooser.labelText(QFileDialog::LookIn), u"Look in:"_s);
}
