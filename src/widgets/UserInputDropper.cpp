#include "widgets/UserInputDropper.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace {

const QEvent::Type DropWaitingInput = QEvent::Type(QEvent::registerEventType());

class DroppingFilter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (!UserInputDropper::isDroppedInput(event))
            return false;
        // A dialog that came up during the wait is the one thing the user can answer.
        const QWidget* modal = QApplication::activeModalWidget();
        return !modal || modal == modalAtStart;
    }

    int depth = 0;
    QPointer<QWidget> modalAtStart;

protected:
    void customEvent(QEvent* event) override
    {
        if (event->type() != DropWaitingInput)
            return;
        const UserInputDropper dropping;
        // The events posted so far, then the window system's.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
};

DroppingFilter* filter()
{
    static DroppingFilter* instance = nullptr;
    if (!instance)
        instance = new DroppingFilter;
    return instance;
}

} // namespace

UserInputDropper::UserInputDropper()
{
    DroppingFilter* f = filter();
    if (f->depth++ == 0 && qApp) {
        f->modalAtStart = QApplication::activeModalWidget();
        qApp->installEventFilter(f);
    }
}

UserInputDropper::~UserInputDropper()
{
    DroppingFilter* f = filter();
    if (--f->depth == 0 && qApp)
        qApp->removeEventFilter(f);
}

void UserInputDropper::dropInputWaitingNow()
{
    // Ahead of the events posted so far, which then run inside the drop.
    QCoreApplication::postEvent(filter(), new QEvent(DropWaitingInput), Qt::HighEventPriority);
}

bool UserInputDropper::active()
{
    return filter()->depth > 0;
}

bool UserInputDropper::isDroppedInput(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}
