#pragma once
// The start page: title, the buttons that start a single-track or multitrack
// project or open a project file, and the tutorial cards. It does no project
// work itself; the main window acts on its signals.

#include <QStringList>
#include <QWidget>

class QLabel;
class QPushButton;

class WelcomePage : public QWidget {
    Q_OBJECT
public:
    explicit WelcomePage(QWidget* parent = nullptr);

    // A press on a tutorial card opens its dialog and is consumed.
    bool eventFilter(QObject* watched, QEvent* event) override;

    void showTutorialDialog(const QString& title, const QStringList& steps);

signals:
    void createProject(const QString& projectType);
    void importProject();

private slots:
    void onCreateSingleProject();
    void onCreateMultiProject();
    void onImportProject();

private:
    void setupUi();
    void setupConnections();
    QWidget* createTutorialCard(const QString& title, const QString& description,
                                const QStringList& steps);

    QLabel* titleLabel = nullptr;
    QPushButton* singleButton = nullptr;
    QPushButton* multiButton = nullptr;
    QPushButton* importButton = nullptr;
};
