#include "gui/dialogs/standby_dialog.h"

#include "audio/record_settings.h"
#include "audio/recording.h"
#include "document/workspace.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonavik {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }
QString u8(const char* text) { return QString::fromUtf8(text); }

QLabel* field(QWidget* parent, const char* id, const QString& text = {})
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(id);
    label->setFrameShape(QFrame::StyledPanel);
    label->setMinimumWidth(100);
    return label;
}

} // namespace

LevelPictureWidget::LevelPictureWidget(const Recorder& recorder, QWidget* parent) : QWidget(parent), recorder_(recorder)
{
    setObjectName("1106");
    setFixedSize(StandbyDialog::kPictureWidth, StandbyDialog::kPictureHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LevelPictureWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const PixelImage* picture = recorder_.levelPicture();
    if (!picture || picture->empty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Stored bottom-up: flipped while drawing.
    const QImage image(picture->data(), picture->width(), picture->height(), picture->stride(), QImage::Format_BGR888);
    painter.setTransform(QTransform(1, 0, 0, -1, 0, picture->height()));
    painter.drawImage(0, 0, image);
}

StandbyDialog::StandbyDialog(Recorder& recorder, Workspace& ws, QWidget* parent) : QDialog(parent), recorder_(recorder)
{
    setWindowTitle(u8("録音スタンバイ"));
    setObjectName("standby");
    const Settings& s = ws.settings;
    auto* layout = new QHBoxLayout(this);

    auto* left = new QVBoxLayout;
    picture_ = new LevelPictureWidget(recorder_, this);
    left->addWidget(picture_);
    auto* counts = new QGridLayout;
    seconds_ = field(this, "1109", u8("0 秒"));
    kilobytes_ = field(this, "1110", "0 kB");
    counts->addWidget(new QLabel(u8("録音時間"), this), 0, 0);
    counts->addWidget(seconds_, 0, 1);
    counts->addWidget(new QLabel(u8("データサイズ"), this), 1, 0);
    counts->addWidget(kilobytes_, 1, 1);
    left->addLayout(counts);
    layout->addLayout(left);

    auto* right = new QVBoxLayout;
    auto* format = new QGridLayout;
    const struct {
        const char* caption;
        const char* id;
        QString text;
    } rows[] = {
        {"フォーマット", "1102", "PCM"},
        {"チャンネル", "1103", qs(standbyChannelsText(s.recordChannels))},
        {"サンプリング周波数", "1104", qs(standbyRateText(ws.document.format.nSamplesPerSec))},
        {"量子化ビット数", "1105", qs(standbyBitsText(s.recordBits))},
        // Left open by the original design; showing the longest length helps when storing stops by itself.
        {"録音最大時間", "1108", qs(standbyLimitText(s.recordSeconds))},
    };
    int row = 0;
    for (const auto& r : rows) {
        format->addWidget(new QLabel(u8(r.caption), this), row, 0);
        format->addWidget(field(this, r.id, r.text), row, 1);
        ++row;
    }
    right->addLayout(format);
    storing_ = new QPushButton(u8(kStartStoringLabel), this);
    storing_->setObjectName("1107");
    storing_->setAutoDefault(false);
    finish_ = new QPushButton(u8("録音終了"), this);
    finish_->setObjectName("1101");
    finish_->setAutoDefault(false);
    right->addStretch(1);
    right->addWidget(storing_);
    right->addWidget(finish_);
    layout->addLayout(right);

    if (!recorder_.openLevelPicture(kPictureWidth, kPictureHeight)) {
        // A picture is already taken: this dialog shows nothing of its own.
        storing_->setEnabled(false);
    }
    recorder_.hooks.levelChanged = [this] { showLevel(); };
    recorder_.hooks.closeStandby = [this] { reject(); };

    connect(storing_, &QPushButton::clicked, this, [this] { storing_->setText(u8(recorder_.toggleCapturing())); });
    connect(finish_, &QPushButton::clicked, this, [this] {
        recorder_.stopCapturing();
        done(1);
    });
}

StandbyDialog::~StandbyDialog()
{
    recorder_.hooks.levelChanged = nullptr;
    recorder_.hooks.closeStandby = nullptr;
}

void StandbyDialog::reject()
{
    recorder_.stopCapturing();
    QDialog::reject();
}

void StandbyDialog::showLevel()
{
    picture_->update();
    seconds_->setText(qs(recorder_.secondsText()));
    kilobytes_->setText(qs(recorder_.kilobytesText()));
}

} // namespace sonavik
