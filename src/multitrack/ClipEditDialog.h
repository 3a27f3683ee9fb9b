#pragma once
// The modal dialog in which the multitrack page edits one audio clip's
// material with the single-track editor. Closing it without "确定" (Esc,
// the title bar's close, "取消") after edits first asks whether to apply
// them, give them up or keep editing; without edits it closes at once.

#include <QDialog>

struct AudioClip;
class AudioEditorPage;

class ClipEditDialog : public QDialog {
    Q_OBJECT
public:
    ClipEditDialog(const QString& trackName, const AudioClip& clip, QWidget* parent);

    AudioEditorPage* editor() const { return editorPage; }
    // Whether the editor holds work that closing would lose: edits in its
    // history or a take that runs.
    bool hasEdits() const;

public slots:
    // A take that runs ends first: it belongs to the edit.
    void accept() override;
    void reject() override;

private:
    AudioEditorPage* editorPage = nullptr;
};
