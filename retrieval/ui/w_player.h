#pragma once
// The built-in player window: one media component and a close button. There is never more
// than one; it stays above the main window and is not modal.
#include <QPointer>
#include <QWidget>

class QPushButton;
class media_component;

class w_player : public QWidget {
    Q_OBJECT
  public:
    // The open player window, or a new one (open-time properties applied, then shown and
    // gb_mediaplay_opened set). An open one is brought to the front and reused.
    static w_player* open(QWidget* owner);
    // The open player window; nullptr while it is closed.
    static w_player* instance();
    // Minimises the player if it is open (a click in the result list does this first).
    static void minimize_if_open();

    ~w_player() override;

    // Title: the base title kept in `tag`, "—", the name, with no blanks between.
    void of_set_title(const QString& ls_filename);
    // Plays `ls_file` (full path) at once, replacing whatever was playing.
    void of_playing(const QString& ls_file);
    // Sets the component's ten open-time properties, in their fixed order.
    void ue_opened();

    const QString& tag() const { return tag_; }
    media_component* ole_1() const { return ole_1_; }
    QPushButton* cb_exit() const { return cb_exit_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    explicit w_player(QWidget* owner);
    void onerrorinfo(const QString& bsterrorinfo);

    QString tag_;
    media_component* ole_1_;
    QPushButton* cb_exit_;
};

// Plays a listened file where the player choice sends it: ".mp3", ".mp4" and ".3gp" to the
// player window (restored to normal, titled filename + fileext) when `rb_baofeng_checked`,
// anything else to the program the desktop associates with it. The caller has already made
// sure the file exists.
void listen_file(QWidget* owner, bool rb_baofeng_checked, const QString& filepath,
                 const QString& filename, const QString& fileext);
