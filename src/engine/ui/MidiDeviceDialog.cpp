#include "MidiDeviceDialog.h"

#include "engine/midi/MidiInput.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

MidiDeviceDialog::MidiDeviceDialog(MidiInput* input, QWidget* parent) : QDialog(parent), midiInput(input)
{
    setWindowTitle(QStringLiteral("MIDI 设备"));
    setMinimumWidth(400);

    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("MIDI 输入设备"), this);
    auto* groupLayout = new QVBoxLayout(group);

    auto* deviceRow = new QHBoxLayout;
    deviceCombo = new QComboBox(group);
    deviceCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    refreshButton = new QPushButton(QStringLiteral("刷新"), group);
    refreshButton->setFixedWidth(60);
    deviceRow->addWidget(deviceCombo);
    deviceRow->addWidget(refreshButton);
    groupLayout->addLayout(deviceRow);

    auto* buttonRow = new QHBoxLayout;
    connectButton = new QPushButton(QStringLiteral("连接"), group);
    disconnectButton = new QPushButton(QStringLiteral("断开"), group);
    buttonRow->addWidget(connectButton);
    buttonRow->addWidget(disconnectButton);
    groupLayout->addLayout(buttonRow);
    layout->addWidget(group);

    statusLabel = new QLabel(this);
    statusLabel->setAlignment(Qt::AlignCenter);
    statusLabel->setStyleSheet(QStringLiteral("padding: 12px; font-size: 13px;"));
    layout->addWidget(statusLabel);

    auto* bottomRow = new QHBoxLayout;
    bottomRow->addStretch();
    auto* closeButton = new QPushButton(QStringLiteral("关闭"), this);
    bottomRow->addWidget(closeButton);
    layout->addLayout(bottomRow);

    connect(connectButton, &QPushButton::clicked, this, &MidiDeviceDialog::onConnect);
    connect(disconnectButton, &QPushButton::clicked, this, &MidiDeviceDialog::onDisconnect);
    connect(refreshButton, &QPushButton::clicked, this, &MidiDeviceDialog::refreshDeviceList);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    refreshDeviceList();
    updateStatus();
}

void MidiDeviceDialog::refreshDeviceList()
{
    deviceCombo->clear();
    const QStringList devices = midiInput ? midiInput->availableDevices() : QStringList();
    if (devices.isEmpty())
        deviceCombo->addItem(QStringLiteral("(未发现 MIDI 设备)"));
    else
        deviceCombo->addItems(devices);
    const int current = midiInput ? midiInput->currentPort() : -1;
    if (current >= 0 && current < deviceCombo->count())
        deviceCombo->setCurrentIndex(current);
    updateStatus();
}

void MidiDeviceDialog::updateStatus()
{
    const QString connected = midiInput ? midiInput->connectedDevice() : QString();
    if (connected.isEmpty()) {
        statusLabel->setText(QStringLiteral("未连接"));
        statusLabel->setStyleSheet(QStringLiteral("color: #888888; padding: 12px; font-size: 13px;"));
        connectButton->setEnabled(true);
        disconnectButton->setEnabled(false);
        return;
    }
    statusLabel->setText(QStringLiteral("已连接: ") + connected);
    statusLabel->setStyleSheet(
        QStringLiteral("color: #4CAF50; padding: 12px; font-size: 13px; font-weight: bold;"));
    connectButton->setEnabled(false);
    disconnectButton->setEnabled(true);
}

void MidiDeviceDialog::onConnect()
{
    const int index = deviceCombo->currentIndex();
    if (index >= 0 && midiInput && midiInput->openDevice(index))
        emit deviceSelected(index);
    updateStatus();
}

void MidiDeviceDialog::onDisconnect()
{
    if (midiInput)
        midiInput->closeDevice();
    emit disconnected();
    updateStatus();
}
