#pragma once
// "録音スタンバイ": shown while the input device streams. It draws each incoming packet's level picture,
// counts what has been stored, and starts and pauses the storing ("録音開始" / "録音停止"); "録音終了"
// ends the recording. Controls carry their resource ids as object names ("1101", "1106", ...).

#include <QDialog>
#include <QWidget>

class QLabel;
class QPushButton;

namespace sonavik {

class Recorder;
struct Workspace;

// Control 1106: shows the recorder's level picture at its own size, unscaled.
class LevelPictureWidget : public QWidget {
    Q_OBJECT
public:
    LevelPictureWidget(const Recorder& recorder, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Recorder& recorder_;
};

class StandbyDialog : public QDialog {
    Q_OBJECT
public:
    inline static constexpr int kPictureWidth = 256;
    inline static constexpr int kPictureHeight = 128;

    // Takes over the recorder's standby hooks for as long as it lives.
    StandbyDialog(Recorder& recorder, Workspace& ws, QWidget* parent);
    ~StandbyDialog() override;

    QPushButton* storingButton() const { return storing_; }
    LevelPictureWidget* picture() const { return picture_; }

    void reject() override;

private:
    void showLevel();

    Recorder& recorder_;
    LevelPictureWidget* picture_;
    QLabel* seconds_;
    QLabel* kilobytes_;
    QPushButton* storing_;
    QPushButton* finish_;
};

} // namespace sonavik
