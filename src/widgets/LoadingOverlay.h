#pragma once
// A busy indicator laid over a whole parent widget while long work runs: dims
// the parent, swallows its mouse input and turns an arc above a message line.
// While it shows, the user's input anywhere in the application is dropped
// (UserInputDropper), also what came in while the GUI thread was blocked;
// the parent is then shown as it was when the overlay came up, so nothing
// under the overlay is repainted until it goes.

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <memory>

class QTimer;
class UserInputDropper;

class LoadingOverlay : public QWidget {
    Q_OBJECT
public:
    explicit LoadingOverlay(QWidget* parent);
    ~LoadingOverlay() override;

    // Covers the parent (once, not tracked), raises, shows and starts the
    // spinner; an empty message reads "处理中...". Work that leaves the rest
    // of the program usable meanwhile (a job in the background whose result
    // the parent takes when it comes) passes `dropInput` false.
    void show(const QString& message, bool dropInput = true);
    // Input still waiting from while it showed is dropped when the event
    // loop runs again; input made from now on passes.
    void hide();

    int angle() const { return m_angle; }
    QString message() const { return m_message; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void advanceSpinner();
    QRectF arcRect() const;
    QRect messageRect() const;
    void takeStill(QWidget* parent);

    QTimer* m_timer = nullptr;
    int m_angle = 0;
    QString m_message;
    QPixmap m_still; // what it covers, dimmed, while the work holds the window
    std::unique_ptr<UserInputDropper> m_inputDropper;
};
