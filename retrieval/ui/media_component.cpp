#include "retrieval/ui/media_component.h"

#include "catalogue/core/native_names.h"

#include <QAudioOutput>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTime>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>
#include <climits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The long properties, with the value each has before anyone sets it.
struct long_property {
    QLatin1StringView name;
    int initial;
};
constexpr long_property long_properties[] = {
    {"displaymode"_L1, 0},       {"titlevisible"_L1, 1},      {"infobarvisible"_L1, 1},
    {"controlbarvisible"_L1, 1}, {"volume"_L1, 100},          {"visible"_L1, 1},
    {"enablefullscreen"_L1, 1},  {"contextmenuenable"_L1, 1}, {"audioenhance"_L1, 0},
    {"autoplay"_L1, 0},
};
constexpr QLatin1StringView url_property = "url"_L1;

bool is_long_property(const QString& name) {
    for (const auto& p : long_properties)
        if (name == p.name) return true;
    return false;
}

// What went wrong, in words, with the back end's own text after it.
QString error_text(QMediaPlayer::Error error, const QString& detail) {
    QString why;
    switch (error) {
    case QMediaPlayer::FormatError:
        why = u"不支持这种文件格式, 或者文件已经损坏"_s;
        break;
    case QMediaPlayer::AccessDeniedError:
        why = u"没有读取这个文件的权限"_s;
        break;
    case QMediaPlayer::NetworkError:
        why = u"网络出错"_s;
        break;
    default:
        why = u"文件打不开, 可能格式不对或者已经损坏"_s;
        break;
    }
    return detail.isEmpty() ? why : why + u" ("_s + detail + u')';
}

QString clock_text(qint64 ms) {
    const QTime t = QTime(0, 0).addMSecs(static_cast<int>(qMin<qint64>(ms, 86'399'000)));
    return t.toString(ms >= 3'600'000 ? u"h:mm:ss"_s : u"mm:ss"_s);
}

} // namespace

media_component::media_component(QWidget* parent) : QWidget(parent) {
    // The only back end that plays without a sound card here; set before the first player
    // makes Qt choose one.
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "gstreamer");

    player_ = new QMediaPlayer(this);
    // Without an output the pipeline fails on the first buffer.
    audio_ = new QAudioOutput(this);
    player_->setAudioOutput(audio_);
    video_ = new QVideoWidget(this);
    player_->setVideoOutput(video_);
    video_->installEventFilter(this);

    title_ = new QLabel(this);
    title_->setAlignment(Qt::AlignCenter);
    info_ = new QLabel(this);
    info_->setAlignment(Qt::AlignCenter);

    control_bar_ = new QWidget(this);
    play_pause_ = new QPushButton(control_bar_);
    play_pause_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    play_pause_->setFocusPolicy(Qt::NoFocus);
    stop_ = new QPushButton(control_bar_);
    stop_->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    stop_->setFocusPolicy(Qt::NoFocus);
    position_ = new QSlider(Qt::Horizontal, control_bar_);
    position_->setFocusPolicy(Qt::NoFocus);
    auto* bar = new QHBoxLayout(control_bar_);
    bar->setContentsMargins(2, 2, 2, 2);
    bar->addWidget(play_pause_);
    bar->addWidget(stop_);
    bar->addWidget(position_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(title_);
    layout->addWidget(video_, 1);
    layout->addWidget(info_);
    layout->addWidget(control_bar_);

    connect(play_pause_, &QPushButton::clicked, this, [this] {
        if (player_->playbackState() == QMediaPlayer::PlayingState)
            player_->pause();
        else
            player_->play();
    });
    connect(stop_, &QPushButton::clicked, player_, &QMediaPlayer::stop);
    connect(position_, &QSlider::sliderMoved, player_, &QMediaPlayer::setPosition);
    connect(player_, &QMediaPlayer::durationChanged, this, [this](qint64 d) {
        position_->setRange(0, static_cast<int>(qMin<qint64>(d, INT_MAX)));
        update_info();
    });
    connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 p) {
        if (!position_->isSliderDown())
            position_->setValue(static_cast<int>(qMin<qint64>(p, INT_MAX)));
        update_info();
    });
    connect(
        player_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState s) {
            play_pause_->setIcon(style()->standardIcon(
                s == QMediaPlayer::PlayingState ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
        });
    // The back end reports one failed file in several steps; the first one tells.
    connect(player_, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString& text) {
                if (error == QMediaPlayer::NoError || std::exchange(error_told_, true)) return;
                emit onerrorinfo(error_text(error, text));
            });

    for (const auto& p : long_properties) apply(p.name, p.initial);
    values_.insert(url_property, QString());
    update_info();
}

media_component::~media_component() {
    // Stop the pipeline before the outputs it feeds go away.
    player_->stop();
    player_->setVideoOutput(nullptr);
}

bool media_component::set_property(QStringView name, const QVariant& value) {
    const QString key = name.toString().toLower();
    if (key == url_property) {
        if (!value.canConvert<QString>()) return false;
        const QString path = value.toString();
        values_.insert(key, path);
        play_url(path);
        return true;
    }
    if (!is_long_property(key)) return false;
    bool ok = false;
    const qlonglong v = value.toLongLong(&ok);
    if (!ok || v < INT_MIN || v > INT_MAX) return false;
    apply(key, static_cast<int>(v));
    return true;
}

QVariant media_component::property_value(QStringView name) const {
    return values_.value(name.toString().toLower());
}

void media_component::apply(const QString& name, const QVariant& value) {
    values_.insert(name, value);
    const int v = value.toInt();
    if (name == "titlevisible"_L1) {
        title_->setVisible(v != 0);
    } else if (name == "infobarvisible"_L1) {
        info_->setVisible(v != 0);
    } else if (name == "controlbarvisible"_L1) {
        control_bar_->setVisible(v != 0);
    } else if (name == "volume"_L1) {
        audio_->setVolume(static_cast<float>(qBound(0, v, 100)) / 100.0F);
    } else if (name == "visible"_L1) {
        // Never shown on its own as a top-level window.
        if (v == 0 || parentWidget()) setVisible(v != 0);
    } else if (name == "enablefullscreen"_L1) {
        if (v == 0 && video_->isFullScreen()) video_->setFullScreen(false);
    }
    // displaymode, contextmenuenable, audioenhance and autoplay are read where they act.
}

void media_component::play_url(const QString& path) {
    player_->stop();
    error_told_ = false;
    player_->setSource(path.isEmpty() ? QUrl() : native_file_url(path));
    title_->setText(QFileInfo(shown_path(path)).fileName());
    update_info();
    if (!path.isEmpty() && values_.value(u"autoplay"_s).toInt() != 0) player_->play();
}

void media_component::update_info() {
    info_->setText(clock_text(player_->position()) + u" / "_s + clock_text(player_->duration()));
}

void media_component::toggle_full_screen() {
    if (values_.value(u"enablefullscreen"_s).toInt() == 0) return;
    video_->setFullScreen(!video_->isFullScreen());
}

void media_component::contextMenuEvent(QContextMenuEvent* event) {
    if (values_.value(u"contextmenuenable"_s).toInt() == 0) {
        event->accept();
        return;
    }
    QMenu menu(this);
    menu.addAction(u"播放/暂停"_s, play_pause_, &QPushButton::click);
    menu.addAction(u"停止"_s, player_, &QMediaPlayer::stop);
    menu.exec(event->globalPos());
}

bool media_component::eventFilter(QObject* watched, QEvent* event) {
    if (watched == video_) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            toggle_full_screen();
            return true;
        }
        if (event->type() == QEvent::KeyPress && video_->isFullScreen() &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            video_->setFullScreen(false);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
