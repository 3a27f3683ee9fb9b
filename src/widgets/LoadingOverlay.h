#pragma once
// A busy indicator laid over a whole parent widget while long work runs on the
// GUI thread: dims the parent, swallows its mouse input and turns an arc above
// a message line.

#include <QString>
#include <QWidget>

class QTimer;

class LoadingOverlay : public QWidget {
    Q_OBJECT
public:
    explicit LoadingOverlay(QWidget* parent);

    // Covers the parent (once, not tracked), raises, shows and starts the
    // spinner; an empty message reads "处理中...".
    void show(const QString& message);
    void hide();

    int angle() const { return m_angle; }
    QString message() const { return m_message; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void advanceSpinner();

    QTimer* m_timer = nullptr;
    int m_angle = 0;
    QString m_message;
};
