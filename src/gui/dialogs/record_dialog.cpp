#include "gui/dialogs/record_dialog.h"
#include "gui/dialogs/dialog_buttons.h"

#include "audio/playback.h"
#include "audio/playback_settings.h"
#include "audio/record_settings.h"
#include "audio/recording.h"
#include "document/workspace.h"
#include "platform/ui.h"
#include "platform/wave_device.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace sonavik {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }
QString u8(const char* text) { return QString::fromUtf8(text); }

template <typename W>
W* named(W* widget, const char* id)
{
    widget->setObjectName(id);
    return widget;
}

} // namespace

RecordDialog::RecordDialog(Workspace& ws, Ui& ui, WaveIn& device, QWidget* parent)
    : QDialog(parent), ws_(ws), ui_(ui), device_(device)
{
    setWindowTitle(u8("録音"));
    setObjectName("record");
    Settings& s = ws_.settings;
    auto* layout = new QVBoxLayout(this);

    auto* deviceBox = new QGroupBox(u8("録音デバイス"), this);
    auto* deviceLayout = new QVBoxLayout(deviceBox);
    useMapper_ = named(new QCheckBox(u8("オーディオマッパを使用"), deviceBox), "1002");
    devices_ = named(new QComboBox(deviceBox), "1001");
    devices_->setMinimumWidth(240);
    deviceLayout->addWidget(useMapper_);
    deviceLayout->addWidget(devices_);
    layout->addWidget(deviceBox);

    auto* formatRow = new QHBoxLayout;
    auto* channelBox = new QGroupBox(u8("チャンネル"), this);
    auto* channelLayout = new QVBoxLayout(channelBox);
    mono_ = named(new QRadioButton(u8("モノラル"), channelBox), "1061");
    stereo_ = named(new QRadioButton(u8("ステレオ"), channelBox), "1062");
    channelLayout->addWidget(mono_);
    channelLayout->addWidget(stereo_);
    channelLayout->addStretch(1);
    formatRow->addWidget(channelBox);

    auto* rateBox = new QGroupBox(u8("サンプリング周波数"), this);
    auto* rateLayout = new QGridLayout(rateBox);
    static constexpr const char* kRateTexts[6] = {"8000 Hz", "11025 Hz", "22050 Hz", "44100 Hz", "48000 Hz", "その他"};
    static constexpr const char* kRateIds[6] = {"1051", "1052", "1053", "1054", "1055", "1056"};
    for (int i = 0; i < 6; ++i) {
        rates_[i] = named(new QRadioButton(u8(kRateTexts[i]), rateBox), kRateIds[i]);
        rateLayout->addWidget(rates_[i], i, 0);
    }
    customRate_ = named(new QLineEdit(rateBox), "1018");
    customRate_->setMaximumWidth(80);
    rateLayout->addWidget(customRate_, 5, 1);
    rateLayout->addWidget(new QLabel("Hz", rateBox), 5, 2);
    formatRow->addWidget(rateBox);

    auto* bitsBox = new QGroupBox(u8("量子化ビット数"), this);
    auto* bitsLayout = new QVBoxLayout(bitsBox);
    bits8_ = named(new QRadioButton("8 bit", bitsBox), "1058");
    bits16_ = named(new QRadioButton("16 bit", bitsBox), "1059");
    bitsLayout->addWidget(bits8_);
    bitsLayout->addWidget(bits16_);
    bitsLayout->addStretch(1);
    formatRow->addWidget(bitsBox);
    layout->addLayout(formatRow);

    auto* lengthRow = new QHBoxLayout;
    seconds_ = named(new QLineEdit(this), "1003");
    seconds_->setMaximumWidth(80);
    lengthRow->addWidget(new QLabel(u8("最大録音時間"), this));
    lengthRow->addWidget(seconds_);
    lengthRow->addWidget(new QLabel(u8("秒"), this));
    lengthRow->addStretch(1);
    onlyWhenSound_ = named(new QCheckBox(u8("音が検出された時のみ録音"), this), "1004");
    lengthRow->addWidget(onlyWhenSound_);
    layout->addLayout(lengthRow);

    auto* packetBox = new QGroupBox(u8("バッファのサイズ"), this);
    auto* packetLayout = new QHBoxLayout(packetBox);
    packetUnit_ = named(new QLabel(packetBox), "1013");
    packets_ = named(new QLineEdit(packetBox), "1011");
    packets_->setMaximumWidth(60);
    packetTotal_ = named(new QLabel(packetBox), "1014");
    packetLayout->addWidget(packetUnit_);
    packetLayout->addWidget(packets_);
    packetLayout->addWidget(packetTotal_, 1);
    layout->addWidget(packetBox);

    auto* monitorRow = new QHBoxLayout;
    monoGroup_ = named(new QGroupBox(u8("モノラルのモニター"), this), "1005");
    auto* monoLayout = new QVBoxLayout(monoGroup_);
    monoWave_ = named(new QCheckBox(u8("波形を表示"), monoGroup_), "1006");
    monoLayout->addWidget(monoWave_);
    monoLayout->addStretch(1);
    monitorRow->addWidget(monoGroup_);
    stereoGroup_ = named(new QGroupBox(u8("ステレオのモニター"), this), "1007");
    auto* stereoLayout = new QGridLayout(stereoGroup_);
    waveType_ = named(new QRadioButton(u8("波形タイプ"), stereoGroup_), "1066");
    lissajousType_ = named(new QRadioButton(u8("リサージュタイプ"), stereoGroup_), "1067");
    stereoWave_ = named(new QCheckBox(u8("波形を表示"), stereoGroup_), "1008");
    lissajous_ = named(new QCheckBox(u8("リサージュを表示"), stereoGroup_), "1009");
    lissajousDecor_ = named(new QCheckBox(u8("線で結ぶ"), stereoGroup_), "1010");
    stereoLayout->addWidget(waveType_, 0, 0);
    stereoLayout->addWidget(stereoWave_, 1, 0);
    stereoLayout->addWidget(lissajousType_, 0, 1);
    stereoLayout->addWidget(lissajous_, 1, 1);
    stereoLayout->addWidget(lissajousDecor_, 2, 1);
    monitorRow->addWidget(stereoGroup_);
    layout->addLayout(monitorRow);

    auto* bottom = new QHBoxLayout;
    test_ = named(new QPushButton(u8("テスト"), this), "1022");
    test_->setAutoDefault(false);
    bottom->addWidget(test_);
    bottom->addStretch(1);
    layout->addLayout(bottom);
    addDialogButtons(this, layout);

    // Radio buttons of one question form one group each.
    auto* channels = new QButtonGroup(this);
    channels->addButton(mono_);
    channels->addButton(stereo_);
    auto* rateGroup = new QButtonGroup(this);
    for (QRadioButton* r : rates_)
        rateGroup->addButton(r);
    auto* bits = new QButtonGroup(this);
    bits->addButton(bits8_);
    bits->addButton(bits16_);
    auto* types = new QButtonGroup(this);
    types->addButton(waveType_);
    types->addButton(lissajousType_);

    // Devices: as the playback dialog lists them.
    const int count = std::max(device_.deviceCount(), 0);
    const std::vector<std::string> names =
        deviceListNames(ui_, count, [this](int i, WaveDeviceCaps& caps) { return device_.capabilities(i, caps); });
    for (const std::string& name : names)
        devices_->addItem(qs(name));
    bool found = false;
    const int entry = entryForName(deviceNameOf(s.recordDeviceName), names.data(), count, &found);
    s.recordDeviceIndex = found ? entry : 0;
    if (count > 0)
        devices_->setCurrentIndex(entry);
    WaveDeviceCaps mapperCaps;
    if (device_.capabilities(kWaveMapper, mapperCaps) != mm::NoError) {
        s.recordUseMapper = 0;
        useMapper_->setEnabled(false);
    }
    useMapper_->setChecked(s.recordUseMapper == 1);
    devices_->setEnabled(s.recordUseMapper != 1);

    normaliseRecordSettings(s);
    (s.recordChannels == 2 ? stereo_ : mono_)->setChecked(true);
    rates_[static_cast<std::size_t>(s.recordRateIndex)]->setChecked(true);
    customRate_->setText(QString::number(s.recordCustomRate));
    customRate_->setEnabled(s.recordRateIndex == 5);
    (s.recordBits == 16 ? bits16_ : bits8_)->setChecked(true);
    onlyWhenSound_->setChecked(s.recordOnlyWhenSound == 1);
    seconds_->setText(QString::number(s.recordSeconds));
    packetUnit_->setText(qs(recordPacketUnitText(ws_.pageSize)));
    packets_->setText(QString::number(s.recordPackets));
    refreshPacketTotal();
    monoWave_->setChecked(s.peakMonoWave == 1);
    stereoWave_->setChecked(s.peakStereoWave == 1);
    lissajous_->setChecked(s.peakLissajous == 1);
    lissajousDecor_->setChecked(s.peakLissajousDecor == 1);
    (s.peakStereoType != 0 ? lissajousType_ : waveType_)->setChecked(true);
    refreshMonitorControls();

    auto flag = [this](QCheckBox* box, std::int32_t Settings::*field) {
        connect(box, &QCheckBox::toggled, this, [this, field](bool on) { ws_.settings.*field = on ? 1 : 0; });
    };
    flag(onlyWhenSound_, &Settings::recordOnlyWhenSound);
    flag(monoWave_, &Settings::peakMonoWave);
    flag(stereoWave_, &Settings::peakStereoWave);
    flag(lissajous_, &Settings::peakLissajous);
    flag(lissajousDecor_, &Settings::peakLissajousDecor);
    connect(useMapper_, &QCheckBox::toggled, this, [this](bool on) {
        ws_.settings.recordUseMapper = on ? 1 : 0;
        devices_->setEnabled(!on);
    });
    connect(devices_, &QComboBox::activated, this, [this](int index) {
        Settings& st = ws_.settings;
        if (index < 0) {
            ui_.beep(BeepKind::Error);
            return;
        }
        st.recordDeviceIndex = index;
        if (!storeDeviceName(st.recordDeviceName, devices_->itemText(index).toStdString()))
            ui_.beep(BeepKind::Error);
    });
    connect(seconds_, &QLineEdit::textEdited, this,
            [this](const QString& text) { ws_.settings.recordSeconds = typedNumber(text.toStdString()); });
    connect(packets_, &QLineEdit::textEdited, this, [this](const QString& text) {
        ws_.settings.recordPackets = packetsOrOne(typedNumber(text.toStdString()));
        refreshPacketTotal();
    });
    connect(customRate_, &QLineEdit::textEdited, this,
            [this](const QString& text) { ws_.settings.recordCustomRate = typedNumber(text.toStdString()); });
    for (int i = 0; i < 6; ++i) {
        connect(rates_[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (!on)
                return;
            ws_.settings.recordRateIndex = i;
            customRate_->setEnabled(i == 5);
        });
    }
    connect(bits8_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            ws_.settings.recordBits = 8;
    });
    connect(bits16_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            ws_.settings.recordBits = 16;
    });
    connect(mono_, &QRadioButton::toggled, this, [this](bool on) {
        ws_.settings.recordChannels = on ? 1 : 2;
        refreshMonitorControls();
    });
    connect(waveType_, &QRadioButton::toggled, this, [this](bool on) {
        ws_.settings.peakStereoType = on ? 0 : 1;
        refreshMonitorControls();
    });
    connect(test_, &QPushButton::clicked, this, &RecordDialog::testFormat);
}

void RecordDialog::refreshMonitorControls()
{
    const MonitorControls c = monitorControls(stereo_->isChecked(), waveType_->isChecked());
    monoGroup_->setEnabled(c.monoGroup);
    monoWave_->setEnabled(c.monoWave);
    stereoGroup_->setEnabled(c.stereoGroup);
    waveType_->setEnabled(c.waveType);
    lissajousType_->setEnabled(c.lissajousType);
    stereoWave_->setEnabled(c.stereoWave);
    lissajous_->setEnabled(c.lissajous);
    lissajousDecor_->setEnabled(c.lissajousDecor);
}

void RecordDialog::refreshPacketTotal()
{
    Settings& s = ws_.settings;
    s.recordPackets = packetsOrOne(s.recordPackets);
    packetTotal_->setText(qs(recordPacketTotalText(s.recordPackets, ws_.pageSize)));
}

void RecordDialog::testFormat()
{
    Settings& s = ws_.settings;
    refreshPacketTotal();
    packets_->setText(QString::number(s.recordPackets));
    if (s.recordCustomRate <= 0) {
        s.recordCustomRate = 1;
        customRate_->setText("1");
    }
    const std::optional<WaveFormat> format = recordFormatFromSettings(s);
    if (!format) {
        ui_.beep(BeepKind::Error);
        return;
    }
    int device = kWaveMapper;
    if (s.recordUseMapper != 1) {
        device = devices_->currentIndex();
        if (device < 0) {
            ui_.beep(BeepKind::Error);
            return;
        }
    }
    const int code = device_.queryFormat(device, toDeviceFormat(*format));
    if (code == mm::NoError)
        showNotice(ui_, kFormatSupported);
    else
        showError(ui_, mmErrorText(code));
}

bool showRecordDialog(Workspace& ws, Ui& ui, WaveIn& device, QWidget* parent)
{
    if (device.deviceCount() <= 0) {
        ui.beep(BeepKind::Error);
        showError(ui, device.serverNotAnswering() ? kServerNotAnsweringText : kNoInputDevice);
        return false;
    }
    RecordDialog dialog(ws, ui, device, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
