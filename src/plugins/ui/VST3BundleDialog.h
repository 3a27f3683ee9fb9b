#pragma once
// The open dialog of the VST3 import: a bundle is a folder, which a plain
// file dialog would only enter, so a folder named *.vst3 is chosen as it is
// (highlighted or typed and opened, or double-clicked); the .so inside one
// may be chosen too.

#include <QFileDialog>

class VST3BundleDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit VST3BundleDialog(QWidget* parent = nullptr);

    // The chosen bundle folder or file; empty before a choice.
    QString chosenPath() const;
    // Shows the dialog modally; the chosen path, or empty when cancelled.
    static QString choose(QWidget* parent);

    static bool isBundleFolder(const QString& path);

public slots:
    void accept() override;

private:
    QString chosen;
    QString highlighted;
};
