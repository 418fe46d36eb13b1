#include "app/shell/settings_file.h"
#include "app/shell/settings_keys.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}

namespace {

class settings_file_test : public testing::Test {
  protected:
    QTemporaryDir dir;
    QString path = dir.filePath(u"quellmark.ini"_s);
    settings_file ini{path};

    void put(const QByteArray& bytes) { write_all_bytes(path, bytes); }
    QByteArray contents() const { return read_all_bytes(path); }
    QStringList folder_entries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

// Makes a folder refuse new entries, even for root where the file system allows it.
class locked_folder {
  public:
    explicit locked_folder(const QString& path) : path_(path) {
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
#ifdef __linux__
        if (can_create()) {
            fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd_ >= 0 && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
                flags |= FS_IMMUTABLE_FL;
                immutable_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
            }
        }
#endif
        locked_ = !can_create();
    }
    ~locked_folder() {
#ifdef __linux__
        if (immutable_) {
            int flags = 0;
            if (::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(fd_, FS_IOC_SETFLAGS, &flags);
            }
        }
        if (fd_ >= 0) ::close(fd_);
#endif
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner);
    }
    bool locked() const {
        return locked_;
    }

  private:
    bool can_create() const {
        QFile probe(path_ + u"/probe"_s);
        if (!probe.open(QIODevice::WriteOnly)) return false;
        probe.remove();
        return true;
    }
    QString path_;
    int fd_ = -1;
    bool immutable_ = false;
    bool locked_ = false;
};

TEST_F(settings_file_test, missing_file_section_or_key_reads_as_the_default) {
    EXPECT_EQ(ini.read_int(u"mediaplay", u"player", 42), 42);
    EXPECT_EQ(ini.read_string(u"scansplitter", u"splitter", u"def"_s), u"def"_s);
    EXPECT_EQ(settings_file(dir.filePath(u"no/such/folder.ini"_s)).read_int(u"a", u"b", -1), -1);

    // The program's own defaults with no file at all.
    EXPECT_EQ(read_setting(ini, setting_player), 0);
    EXPECT_EQ(read_setting(ini, setting_dirtype), 2);
    EXPECT_EQ(read_setting(ini, setting_layers), 5);
    EXPECT_EQ(read_setting(ini, setting_splitter), u""_s);

    put("[mediaplay]\nplayer=1\n[other]\nkey=x\n");
    EXPECT_EQ(ini.read_int(u"dirtype", u"dirtype", 2), 2);  // no section
    EXPECT_EQ(ini.read_int(u"mediaplay", u"volume", 9), 9); // no key
    EXPECT_EQ(ini.read_int(u"other", u"player", 9), 9);     // key of another section
    EXPECT_EQ(ini.read_string(u"other", u"key", u"d"_s), u"x"_s);

    put("");
    EXPECT_EQ(ini.read_int(u"mediaplay", u"player", 3), 3);
    put(QByteArray("\x00\xFF\xFE garbage \x01", 13));
    EXPECT_EQ(ini.read_int(u"mediaplay", u"player", 3), 3);
}

TEST_F(settings_file_test, integer_reads_take_the_leading_integer) {
    struct row {
        QByteArray value;
        int want;
    };
    const int def = -77;
    const row rows[] = {
        {"7", 7},
        {"7abc", 7},
        {"  -3", -3},
        {"\t9", 9},
        {"+5", 5},
        {"007", 7},
        {"3 4", 3},
        {"1.5", 1},
        {"0", 0},
        {"-0", 0},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", def},
        {"-2147483649", def},
        {"99999999999999999999999", def},
        {"abc", def},
        {"", def},
        {"-", def},
        {"- 3", def},
        {"+-3", def},
        {"x7", def},
        {"０", def}, // full-width digit is not a digit here
    };
    for (const auto& r : rows) {
        put("[s]\nk=" + r.value + "\n");
        EXPECT_EQ(ini.read_int(u"s", u"k", def), r.want) << r.value.toStdString();
    }
}

TEST_F(settings_file_test, sections_and_keys_match_without_regard_to_case) {
    put("[MediaPlay]\nPLAYER=7\n[ScanLayers]\n  Layers  =  3  \n");
    EXPECT_EQ(ini.read_int(u"mediaplay", u"player", 0), 7);
    EXPECT_EQ(ini.read_int(u"MEDIAPLAY", u"Player", 0), 7);
    EXPECT_EQ(ini.read_string(u"scanlayers", u"layers", u""_s), u"3"_s); // blanks trimmed

    ASSERT_TRUE(ini.write(u"mediaplay", u"player", u"1"));
    EXPECT_EQ(contents(), "[MediaPlay]\nPLAYER=1\n[ScanLayers]\n  Layers  =  3  \n");
    ASSERT_TRUE(ini.write(u"SCANLAYERS", u"LAYERS", u"6"));
    EXPECT_EQ(contents(), "[MediaPlay]\nPLAYER=1\n[ScanLayers]\n  Layers  =  6\n");
}

TEST_F(settings_file_test, write_creates_the_file_section_and_key) {
    ASSERT_TRUE(write_setting(ini, setting_player, 1));
    EXPECT_EQ(contents(), "[mediaplay]\nplayer=1\n");
    ASSERT_TRUE(write_setting(ini, setting_layers, 4));
    ASSERT_TRUE(ini.write(u"mediaplay", u"volume", u"8"));
    EXPECT_EQ(contents(), "[mediaplay]\nplayer=1\nvolume=8\n[scanlayers]\nlayers=4\n");
    EXPECT_EQ(read_setting(ini, setting_player), 1);
    EXPECT_EQ(read_setting(ini, setting_layers), 4);
    EXPECT_EQ(folder_entries(), QStringList{u"quellmark.ini"_s});
}

TEST_F(settings_file_test, write_keeps_every_other_line_byte_for_byte) {
    const QByteArray before = "; settings\n"
                              "\n"
                              "[mediaplay]\n"
                              "# player=5 is the built-in player\n"
                              "player = 0   \n"
                              "a line without an equals sign\n"
                              "=no key\n"
                              "\n"
                              "; about the next section\n"
                              "[dirtype]\n"
                              "dirtype=1\n"
                              "; trailing comment";
    put(before);
    ASSERT_TRUE(ini.write(u"mediaplay", u"player", u"1"));
    QByteArray want = before;
    want.replace("player = 0   \n", "player = 1\n");
    EXPECT_EQ(contents(), want);

    // A new key of an existing section goes after that section's last entry.
    ASSERT_TRUE(ini.write(u"dirtype", u"extra", u"e"));
    ASSERT_TRUE(ini.write(u"mediaplay", u"volume", u"5"));
    want.replace("player = 1\n", "player = 1\nvolume=5\n");
    want.replace("dirtype=1\n", "dirtype=1\nextra=e\n");
    EXPECT_EQ(contents(), want);

    // A new section goes at the end, even after a last line without a line end.
    ASSERT_TRUE(ini.write(u"scansplitter", u"splitter", u"-"));
    want += "\n[scansplitter]\nsplitter=-\n";
    EXPECT_EQ(contents(), want);

    EXPECT_EQ(ini.read_int(u"mediaplay", u"player", 9), 1);
    EXPECT_EQ(ini.read_int(u"mediaplay", u"volume", 9), 5);
    EXPECT_EQ(ini.read_int(u"dirtype", u"dirtype", 9), 1);
    EXPECT_EQ(ini.read_string(u"dirtype", u"extra", u""_s), u"e"_s);
    EXPECT_EQ(ini.read_string(u"scansplitter", u"splitter", u""_s), u"-"_s);
}

TEST_F(settings_file_test, twin_sections_and_keys_read_and_write_the_first) {
    put("[a]\nother=1\n[b]\nk=b\n[A]\nk=first\nk=second\n");
    EXPECT_EQ(ini.read_string(u"a", u"k", u""_s), u"first"_s);
    ASSERT_TRUE(ini.write(u"a", u"k", u"new"));
    EXPECT_EQ(contents(), "[a]\nother=1\n[b]\nk=b\n[A]\nk=new\nk=second\n");
    EXPECT_EQ(ini.read_string(u"a", u"k", u""_s), u"new"_s);
    ASSERT_TRUE(ini.write(u"a", u"z", u"z"));
    EXPECT_EQ(contents(), "[a]\nother=1\nz=z\n[b]\nk=b\n[A]\nk=new\nk=second\n");
    EXPECT_EQ(ini.read_string(u"a", u"z", u""_s), u"z"_s);
}

TEST_F(settings_file_test, chinese_values_round_trip_as_utf8) {
    const QString splitter = u"－(全角减号)"_s;
    ASSERT_TRUE(write_setting(ini, setting_splitter, splitter));
    EXPECT_EQ(contents(), "[scansplitter]\nsplitter=" + splitter.toUtf8() + "\n");
    EXPECT_EQ(read_setting(ini, setting_splitter), splitter);
    ASSERT_TRUE(ini.write(u"scansplitter", u"splitter", u"、"));
    EXPECT_EQ(read_setting(ini, setting_splitter), u"、"_s);
}

TEST_F(settings_file_test, byte_order_mark_and_crlf_line_ends_read_and_are_kept) {
    put("\xEF\xBB\xBF[mediaplay]\r\nplayer=7\r\n[scanlayers]\r\nlayers=3\r\n");
    EXPECT_EQ(ini.read_int(u"mediaplay", u"player", 0), 7);
    EXPECT_EQ(ini.read_int(u"scanlayers", u"layers", 0), 3);
    EXPECT_EQ(ini.read_string(u"mediaplay", u"player", u""_s), u"7"_s);

    ASSERT_TRUE(ini.write(u"mediaplay", u"player", u"0"));
    ASSERT_TRUE(ini.write(u"dirtype", u"dirtype", u"1"));
    ASSERT_TRUE(ini.write(u"scanlayers", u"extra", u"x"));
    EXPECT_EQ(contents(), "\xEF\xBB\xBF[mediaplay]\r\nplayer=0\r\n[scanlayers]\r\nlayers=3\r\n"
                          "extra=x\r\n[dirtype]\r\ndirtype=1\r\n");
    EXPECT_EQ(ini.read_int(u"dirtype", u"dirtype", 0), 1);
}

TEST_F(settings_file_test, values_and_names_that_would_break_the_file_are_refused) {
    put("[s]\nk=1\n");
    const QByteArray before = contents();
    EXPECT_FALSE(ini.write(u"s", u"k", u"1\n[s]\nk=2"));
    EXPECT_FALSE(ini.write(u"s", u"k", u"1\r2"));
    EXPECT_FALSE(ini.write(u"s]", u"k", u"1"));
    EXPECT_FALSE(ini.write(u"s", u"k=", u"1"));
    EXPECT_FALSE(ini.write(u"s", u";k", u"1"));
    EXPECT_FALSE(ini.write(u"", u"k", u"1"));
    EXPECT_FALSE(ini.write(u"s", u" k", u"1"));
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(ini.write(u"s", u"k", u"")); // an empty value is a value
    EXPECT_EQ(ini.read_string(u"s", u"k", u"d"_s), u""_s);
}

TEST_F(settings_file_test, write_to_a_locked_folder_fails_and_keeps_the_old_file) {
    put("[mediaplay]\nplayer=0\n");
    {
        locked_folder lock(dir.path());
        if (!lock.locked()) GTEST_SKIP() << "cannot lock a folder here";
        EXPECT_FALSE(ini.write(u"mediaplay", u"player", u"1"));
        EXPECT_EQ(ini.read_int(u"mediaplay", u"player", 9), 0);
    }
    EXPECT_EQ(contents(), "[mediaplay]\nplayer=0\n");
    EXPECT_EQ(folder_entries(), QStringList{u"quellmark.ini"_s});

    settings_file nowhere(dir.filePath(u"missing/quellmark.ini"_s));
    EXPECT_FALSE(nowhere.write(u"mediaplay", u"player", u"1"));
}

TEST_F(settings_file_test, an_unreadable_file_is_not_replaced) {
    put("[mediaplay]\nplayer=1\n[keep]\nthis=1\n");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    if (QFile f(path); f.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "permissions do not bind this process";
    EXPECT_FALSE(ini.write(u"mediaplay", u"player", u"0"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(contents(), "[mediaplay]\nplayer=1\n[keep]\nthis=1\n");
}

TEST_F(settings_file_test, many_writes_leave_no_temporary_files) {
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(write_setting(ini, setting_layers, i % 6 + 1));
    EXPECT_EQ(read_setting(ini, setting_layers), 20 % 6);
    EXPECT_EQ(folder_entries(), QStringList{u"quellmark.ini"_s});
}

} // namespace
