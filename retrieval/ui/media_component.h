#pragma once
// The player window's embedded media component: plays one file at a time, is configured
// through named properties, and reports playback errors as text.
#include <QStringList>
#include <QVariant>
#include <QWidget>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QSlider;
class QVideoWidget;

class media_component : public QWidget {
    Q_OBJECT
  public:
    explicit media_component(QWidget* parent = nullptr);
    ~media_component() override;

    // Sets one property by its name (any ASCII case): the long properties "displaymode",
    // "titlevisible", "infobarvisible", "controlbarvisible", "volume" (0..100), "visible",
    // "enablefullscreen", "contextmenuenable", "audioenhance", "autoplay", and the text
    // "url" (full path of the file to play; with autoplay on, playback starts at once and
    // replaces whatever was playing). False, and nothing changed, for an unknown name or a
    // value of the wrong type.
    bool set_property(QStringView name, const QVariant& value);
    // The value last set; an invalid QVariant for an unknown name.
    QVariant property_value(QStringView name) const;

    QMediaPlayer* player() const { return player_; }
    QAudioOutput* audio_output() const { return audio_; }
    QVideoWidget* video() const { return video_; }
    QWidget* control_bar() const { return control_bar_; }
    QLabel* title_strip() const { return title_; }
    QLabel* info_bar() const { return info_; }

  signals:
    // Why the file set last cannot be played, as text; once per file.
    void onerrorinfo(const QString& bsterrorinfo);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void apply(const QString& name, const QVariant& value);
    void play_url(const QString& path);
    void update_info();
    void toggle_full_screen();

    QMediaPlayer* player_;
    QAudioOutput* audio_;
    QVideoWidget* video_;
    QLabel* title_;
    QLabel* info_;
    QWidget* control_bar_;
    QPushButton* play_pause_;
    QPushButton* stop_;
    QSlider* position_;
    QVariantMap values_;
    bool error_told_ = false;
};
