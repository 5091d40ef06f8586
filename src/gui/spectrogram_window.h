#pragma once
// The "fft" window: a top-level tool window owned by the main window that shows one spectrogram. It
// owns its Spectrogram and frees it when it closes. All rules live in SpectrogramView; this widget shows
// its picture, forwards the mouse, the scroll bars and the sixteen buttons, and runs the dialogs.

#include "spectrogram/spectrogram_view.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

class QScrollBar;

namespace sonavik {

class SmallButton;
class Ui;
struct SoundDocument;
struct Spectrogram;
struct Workspace;

class SpectrogramWindow;

class SpectrogramCanvas : public QWidget {
    Q_OBJECT
public:
    SpectrogramCanvas(SpectrogramWindow& window, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    SpectrogramWindow& window_;
};

class SpectrogramWindow : public QWidget {
    Q_OBJECT
public:
    // owner is the main window; the new window stays above it and closes with it.
    SpectrogramWindow(std::unique_ptr<Spectrogram> spectrogram, const std::string& title, Workspace& ws, Ui& ui,
                      QWidget* owner);
    ~SpectrogramWindow() override;

    SpectrogramView& view() { return *view_; }
    SpectrogramCanvas* canvas() const { return canvas_; }
    SmallButton* button(int command) const;
    QScrollBar* horizontalBar() const { return hBar_; }
    QScrollBar* verticalBar() const { return vBar_; }

    // After "I FFT" ran (written: the channels it wrote, as resynthesizeSpectrogram reports them): the
    // main window redraws its views and title.
    std::function<void(int written)> documentChanged;
    // Where "I FFT" runs the write-back once asked (the main window: on worker threads, finished later);
    // unset, it runs here to its end. Returns the channels written or being written.
    std::function<int(const Spectrogram& s, const std::function<bool()>& askOptions)> writeBack;
    // Replaces the destination dialog in tests: false = cancelled.
    std::function<bool()> askResynthesisOptions;
    // The sound of the selected rectangle alone, for the playback engine.
    std::function<void(const SoundDocument&)> playSound;
    // Replaces the context menu in tests: returns the chosen id, 0 for none.
    std::function<int()> chooseMenuItem;

    // The whole client area as the user sees it, buttons included.
    QImage clientPicture();

    void runCommand(int id);
    void runMenu();
    void syncBars();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Refused while a long edit runs.
    void closeEvent(QCloseEvent* event) override;

private:
    friend class SpectrogramCanvas;
    void layoutChildren();
    void placeButtons();
    void onBarAction(QScrollBar* bar, int action, bool horizontal);
    void handle(SpectrogramAction action);
    void resynthesize();
    void playSelection();

    Workspace& ws_;
    Ui& ui_;
    std::unique_ptr<Spectrogram> spectrogram_;
    std::unique_ptr<SpectrogramView> view_;
    SpectrogramCanvas* canvas_ = nullptr;
    QScrollBar* hBar_ = nullptr;
    QScrollBar* vBar_ = nullptr;
    std::array<SmallButton*, 16> buttons_{};
    bool settingBars_ = false;
};

// The colours of the status strip from the application's palette.
StripColours stripColoursFromPalette();

} // namespace sonavik
