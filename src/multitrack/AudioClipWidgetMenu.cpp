// Keys and context menus of the audio clip lane: Delete asks the page to
// remove the selected clip; the menus delete an envelope point or choose a
// clip's fade curves.

#include "multitrack/AudioClipWidget.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>

namespace {

// Menu texts of the fade curve codes 0..3.
const char* const CurveNames[] = {"线性", "S曲线", "指数", "对数"};

// Adds a submenu of the four curves with `current` checked; each entry's
// data is its curve code.
QMenu* addCurveMenu(QMenu& menu, const QString& title, int current)
{
    QMenu* curves = menu.addMenu(title);
    auto* group = new QActionGroup(curves);
    for (int code = 0; code < 4; ++code) {
        QAction* action = curves->addAction(QString::fromUtf8(CurveNames[code]));
        action->setCheckable(true);
        action->setChecked(code == current);
        action->setData(code);
        group->addAction(action);
    }
    return curves;
}

} // namespace

void AudioClipWidget::keyPressEvent(QKeyEvent* event)
{
    // Shift+Delete is the page's: it removes the track.
    const bool deleteKey = (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)
                           && !(event->modifiers() & Qt::ShiftModifier);
    if (deleteKey && clipAt(selected)) {
        const int clip = selected;
        selected = -1;
        emit deleteAudioClip(clip);
        update();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AudioClipWidget::contextMenuEvent(QContextMenuEvent* event)
{
    if (showEnvelopePointMenu(event->pos(), event->globalPos())
        || showFadeCurveMenu(event->pos(), event->globalPos())) {
        event->accept();
        return;
    }
    QWidget::contextMenuEvent(event);
}

bool AudioClipWidget::showFadeCurveMenu(const QPoint& pos, const QPoint& globalPos)
{
    const int hit = hitTestClip(pos);
    if (hit < 0)
        return false;
    const AudioClip& clip = track->audioClips[std::size_t(hit)];
    QMenu menu;
    const QMenu* fadeInMenu = addCurveMenu(menu, QStringLiteral("淡入曲线"), clip.fadeInCurve);
    addCurveMenu(menu, QStringLiteral("淡出曲线"), clip.fadeOutCurve);
    const QPointer<AudioClipWidget> alive(this);
    // The menu ran the event loop: the lane or its clips may have changed.
    QAction* chosen = menu.exec(globalPos);
    if (!alive || !chosen)
        return true;
    AudioClip* target = clipAt(hit);
    if (!target)
        return true;
    const bool fadeIn = chosen->parent() == fadeInMenu;
    (fadeIn ? target->fadeInCurve : target->fadeOutCurve) = chosen->data().toInt();
    emit clipTrimmed();
    update();
    return true;
}
