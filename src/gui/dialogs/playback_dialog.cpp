#include "gui/dialogs/playback_dialog.h"
#include "gui/dialogs/dialog_buttons.h"

#include "audio/playback_settings.h"
#include "document/workspace.h"
#include "platform/ui.h"
#include "platform/wave_device.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace sonavik {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

template <typename W>
W* named(W* widget, const char* id)
{
    widget->setObjectName(id);
    return widget;
}

} // namespace

PlaybackDialog::PlaybackDialog(Workspace& ws, Ui& ui, WaveOut& device, std::function<void()> titleChanged,
                               QWidget* parent)
    : QDialog(parent), ws_(ws), ui_(ui), device_(device), titleChanged_(std::move(titleChanged))
{
    setWindowTitle(QString::fromUtf8("再生"));
    setObjectName("playback");
    Settings& s = ws_.settings;
    SoundDocument& doc = ws_.document;

    auto* layout = new QVBoxLayout(this);

    auto* deviceBox = new QGroupBox(QString::fromUtf8("再生デバイス"), this);
    auto* deviceLayout = new QVBoxLayout(deviceBox);
    useMapper_ = named(new QCheckBox(QString::fromUtf8("オーディオマッパを使用"), deviceBox), "1203");
    devices_ = named(new QComboBox(deviceBox), "1201");
    devices_->setMinimumWidth(240);
    deviceLayout->addWidget(useMapper_);
    deviceLayout->addWidget(devices_);
    layout->addWidget(deviceBox);

    auto* controlBox = new QGroupBox(QString::fromUtf8("デバイスの設定"), this);
    auto* grid = new QGridLayout(controlBox);
    pitch_ = named(new QLineEdit(controlBox), "1223");
    rate_ = named(new QLineEdit(controlBox), "1224");
    volumeLeft_ = named(new QLineEdit(controlBox), "1225");
    volumeRight_ = named(new QLineEdit(controlBox), "1229");
    grid->addWidget(new QLabel(QString::fromUtf8("ピッチ"), controlBox), 0, 0);
    grid->addWidget(pitch_, 0, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("レート"), controlBox), 1, 0);
    grid->addWidget(rate_, 1, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("音量（左／モノラル）"), controlBox), 2, 0);
    grid->addWidget(volumeLeft_, 2, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("音量（右）"), controlBox), 3, 0);
    grid->addWidget(volumeRight_, 3, 1);
    useDevice_ = named(new QCheckBox(QString::fromUtf8("デバイスの現在の設定を使用"), controlBox), "1230");
    storeInDevice_ = named(new QCheckBox(QString::fromUtf8("再生後、値をデバイスに記憶させる"), controlBox), "1231");
    grid->addWidget(useDevice_, 4, 0, 1, 2);
    grid->addWidget(storeInDevice_, 5, 0, 1, 2);
    layout->addWidget(controlBox);

    auto* packetBox = new QGroupBox(QString::fromUtf8("バッファのサイズ"), this);
    auto* packetLayout = new QHBoxLayout(packetBox);
    packetUnit_ = named(new QLabel(packetBox), "1208");
    packets_ = named(new QLineEdit(packetBox), "1207");
    packets_->setMaximumWidth(60);
    packetTotal_ = named(new QLabel(packetBox), "1206");
    packetLayout->addWidget(packetUnit_);
    packetLayout->addWidget(packets_);
    packetLayout->addWidget(packetTotal_, 1);
    layout->addWidget(packetBox);

    auto* rateRow = new QHBoxLayout;
    sampleRate_ = named(new QLineEdit(this), "1226");
    rateRow->addWidget(new QLabel(QString::fromUtf8("サンプリング周波数"), this));
    rateRow->addWidget(sampleRate_);
    rateRow->addWidget(new QLabel("Hz", this));
    layout->addLayout(rateRow);

    buttonLoops_ = named(new QCheckBox(QString::fromUtf8("再生ボタンはループを適用"), this), "1227");
    layout->addWidget(buttonLoops_);
    addDialogButtons(this, layout);

    // The sound's own rate, only while there is sound.
    if (doc.hasData())
        sampleRate_->setText(QString::number(doc.format.nSamplesPerSec));
    else
        sampleRate_->setEnabled(false);

    // Devices: the mapper when there is nothing else; no mapper check box when the mapper cannot be asked.
    const int count = std::max(device_.deviceCount(), 0);
    if (count == 0)
        s.playUseMapper = 1;
    WaveDeviceCaps mapperCaps;
    if (device_.capabilities(kWaveMapper, mapperCaps) != mm::NoError) {
        s.playUseMapper = 0;
        useMapper_->setEnabled(false);
    }
    useMapper_->setChecked(s.playUseMapper == 1);
    const std::vector<std::string> names =
        deviceListNames(ui_, count, [this](int i, WaveDeviceCaps& caps) { return device_.capabilities(i, caps); });
    for (const std::string& name : names)
        devices_->addItem(qs(name));
    bool found = false;
    const int entry = entryForName(deviceNameOf(s.playDeviceName), names.data(), count, &found);
    s.playDeviceIndex = found ? entry : 0;
    if (count > 0)
        devices_->setCurrentIndex(entry);
    devices_->setEnabled(count > 0 && s.playUseMapper != 1);

    useDevice_->setChecked(s.playUseDeviceSettings == 1);
    storeInDevice_->setChecked(s.playStoreInDevice == 1);
    refreshDeviceControls();
    buttonLoops_->setChecked(s.playButtonLoops == 1);

    s.playPackets = packetsOrOne(s.playPackets);
    packetUnit_->setText(qs(playPacketUnitText(ws_.pageSize)));
    packets_->setText(QString::number(s.playPackets));
    refreshPacketTotal();

    connect(useMapper_, &QCheckBox::toggled, this, [this, count](bool on) {
        ws_.settings.playUseMapper = on ? 1 : 0;
        devices_->setEnabled(count > 0 && !on);
        refreshDeviceControls();
    });
    connect(devices_, &QComboBox::activated, this, [this](int index) {
        Settings& st = ws_.settings;
        if (index < 0) {
            ui_.beep(BeepKind::Error);
            return;
        }
        st.playDeviceIndex = index;
        if (!storeDeviceName(st.playDeviceName, devices_->itemText(index).toStdString())) {
            ui_.beep(BeepKind::Error);
            return;
        }
        refreshDeviceControls();
    });
    connect(packets_, &QLineEdit::textEdited, this, [this](const QString& text) {
        ws_.settings.playPackets = packetsOrOne(typedNumber(text.toStdString()));
        refreshPacketTotal();
    });
    connect(pitch_, &QLineEdit::textEdited, this,
            [this](const QString& text) { ws_.settings.playPitch = typedFixed16(text.toStdString()); });
    connect(rate_, &QLineEdit::textEdited, this,
            [this](const QString& text) { ws_.settings.playRate = typedFixed16(text.toStdString()); });
    connect(volumeLeft_, &QLineEdit::textEdited, this,
            [this](const QString& text) { ws_.settings.playVolumeLeft = typedNumber(text.toStdString()); });
    connect(volumeRight_, &QLineEdit::textEdited, this,
            [this](const QString& text) { ws_.settings.playVolumeRight = typedNumber(text.toStdString()); });
    connect(sampleRate_, &QLineEdit::textEdited, this, [this](const QString& text) {
        SoundDocument& d = ws_.document;
        if (!d.hasData())
            return;
        if (setDocumentRate(d, typedNumber(text.toStdString()))) {
            d.modified = 1;
            if (titleChanged_)
                titleChanged_();
        }
    });
    connect(buttonLoops_, &QCheckBox::toggled, this, [this](bool on) { ws_.settings.playButtonLoops = on ? 1 : 0; });
    connect(useDevice_, &QCheckBox::toggled, this, [this](bool on) {
        ws_.settings.playUseDeviceSettings = on ? 1 : 0;
        refreshDeviceControls();
    });
    connect(storeInDevice_, &QCheckBox::toggled, this, [this](bool on) { ws_.settings.playStoreInDevice = on ? 1 : 0; });
}

void PlaybackDialog::refreshDeviceControls()
{
    const Settings& s = ws_.settings;
    WaveDeviceCaps caps;
    std::optional<std::uint32_t> support;
    if (device_.capabilities(s.playUseMapper == 1 ? kWaveMapper : s.playDeviceIndex, caps) == mm::NoError)
        support = caps.support;
    const PlayDeviceControls c = playDeviceControls(s, support);
    pitch_->setText(qs(c.pitchText));
    rate_->setText(qs(c.rateText));
    volumeLeft_->setText(qs(c.leftText));
    volumeRight_->setText(qs(c.rightText));
    pitch_->setEnabled(c.pitchEnabled);
    rate_->setEnabled(c.rateEnabled);
    volumeLeft_->setEnabled(c.leftEnabled);
    volumeRight_->setEnabled(c.rightEnabled);
    useDevice_->setEnabled(c.useDeviceEnabled);
    storeInDevice_->setEnabled(c.storeEnabled);
}

void PlaybackDialog::refreshPacketTotal()
{
    packetTotal_->setText(qs(playPacketTotalText(ws_.settings.playPackets, ws_.pageSize)));
}

bool showPlaybackDialog(Workspace& ws, Ui& ui, WaveOut& device, std::function<void()> titleChanged, QWidget* parent)
{
    PlaybackDialog dialog(ws, ui, device, std::move(titleChanged), parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
