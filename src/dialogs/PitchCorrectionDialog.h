#pragma once
// Note-by-note intonation correction of the single-track editor's mono
// audio. The constructor analyses the list (PitchCorrectionSession); the
// dialog draws the detected pitch curve and each note segment's target on a
// piano-roll grid, lets the user set the overall strength and move targets
// (drag, or Up/Down on the selected segment), plays the corrected audio from
// the playhead on "试听" and on "应用" leaves the result in
// `correctedSamples` and accepts. The editor reads `correctedSamples` after
// accepted(); it holds the whole result, as long as the input.
// Painting is in PitchCorrectionDialogPainting.cpp.

#include "dialogs/ApplyCheck.h"
#include "dialogs/PitchCorrectionSession.h"

#include <QDialog>
#include <QList>

#include <memory>

class AudioEngine;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

class PitchCorrectionDialog : public QDialog {
    Q_OBJECT
public:
    PitchCorrectionDialog(const QList<float>& samples, int sampleRate, QWidget* parent);
    // With the analysis of `samples` already made (on another thread).
    PitchCorrectionDialog(const QList<float>& samples,
                          std::unique_ptr<PitchCorrectionSession> session, QWidget* parent);
    ~PitchCorrectionDialog() override;

    QList<float> correctedSamples;

    // Corrects another list of the same length (the editor's other channels)
    // with the segments and targets found here: the same shifts at the same
    // times as "应用".
    void applyTo(QList<float>& list) const;
    // Asked before "应用" corrects anything; a refusal keeps the dialog open.
    void setApplyCheck(ApplyCheck check) { applyCheck = std::move(check); }

    const PitchCorrectionSession& session() const { return *analysis; }
    const PitchRollGeometry& geometry() const { return view; }
    double playhead() const { return playheadSeconds; }
    int selected() const { return selectedSegment; }
    QString infoText() const;

    QRect rulerArea() const;
    QRect pianoKeyArea() const;
    QRect gridArea() const;
    int hitTestSegment(const QPoint& point) const;

public slots:
    void runCorrection();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* createBottomBar();
    void onStrengthChanged(int value);
    void onPreviewToggled(bool on);
    void onPreviewTick();
    void stopPreview();
    void setSelectedTarget(int midi);
    void showSegmentInfo(int midi);
    void clampScroll();
    void setPlayheadFromX(int x);

    // ---- painting ----
    void drawGrid(QPainter& painter);
    void drawDetectedCurve(QPainter& painter);
    void drawTargets(QPainter& painter);
    void drawRuler(QPainter& painter);
    void drawPlayhead(QPainter& painter);

    std::unique_ptr<PitchCorrectionSession> analysis;
    PitchRollGeometry view;
    double bpm = 120.0;
    double playheadSeconds = 0.0;
    int selectedSegment = -1;
    bool draggingSegment = false;
    int dragStartY = 0;
    float dragStartTargetFreq = 0.0f;

    QSlider* strengthSlider = nullptr;
    QLabel* strengthLabel = nullptr;
    QLabel* infoLabel = nullptr;
    QPushButton* previewButton = nullptr;

    // "试听": the corrected audio played from the playhead on an engine of our own.
    std::unique_ptr<AudioEngine> previewEngine;
    QList<float> previewSamples; // read by the engine while it plays
    QTimer* previewTimer = nullptr;
    ApplyCheck applyCheck;
};
