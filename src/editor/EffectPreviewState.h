#pragma once
// What an effect dialog with a preview starts from. The base lists are the
// page's lists before the dialog's own preview: taken at opening, and taken
// again whenever the page no longer shows that preview (another edit came in
// between), so preview, apply and cancel never undo someone else's step and
// one undo of the applied effect returns exactly to the lists before it.

#include <QList>

struct EffectPreviewState {
    QList<float> baseMono;
    QList<float> baseStereo;

    explicit EffectPreviewState(const QList<float>& mono, const QList<float>& stereo)
        : baseMono(mono), baseStereo(stereo)
    {
    }

    // True while the page's lists are the preview this dialog put there.
    bool isShown(const QList<float>& mono, const QList<float>& stereo) const
    {
        return shown && sameList(mono, shownMono) && sameList(stereo, shownStereo);
    }
    void markShown(const QList<float>& mono, const QList<float>& stereo)
    {
        shownMono = mono;
        shownStereo = stereo;
        shown = true;
    }
    void forgetPreview()
    {
        shownMono.clear();
        shownStereo.clear();
        shown = false;
    }
    // Before a run: the page's lists become the base unless they are our preview.
    void refreshBase(const QList<float>& mono, const QList<float>& stereo)
    {
        if (isShown(mono, stereo))
            return;
        baseMono = mono;
        baseStereo = stereo;
        forgetPreview();
    }

private:
    // Shared copies of one list point at the same data.
    static bool sameList(const QList<float>& a, const QList<float>& b)
    {
        return a.size() == b.size() && (a.isEmpty() || a.constData() == b.constData());
    }

    QList<float> shownMono;
    QList<float> shownStereo;
    bool shown = false;
};
