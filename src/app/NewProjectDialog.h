#pragma once
// The settings of a project about to be created: sample rate, bit depth and
// channels.

#include <QDialog>

class QComboBox;

class NewProjectDialog : public QDialog {
    Q_OBJECT
public:
    explicit NewProjectDialog(QWidget* parent = nullptr);

    int sampleRate() const;
    // 16, 24 or 32 (float).
    int bitDepth() const;
    bool mono() const;

    QComboBox* sampleRateBox() const { return rateBox; }
    QComboBox* bitDepthBox() const { return depthBox; }
    QComboBox* channelBox() const { return channelsBox; }

private:
    QComboBox* rateBox = nullptr;
    QComboBox* depthBox = nullptr;
    QComboBox* channelsBox = nullptr;
};
