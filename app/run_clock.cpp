#include "app/run_clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <ctime>

namespace qz {

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Close:
      event->ignore();
      return true;
    default:
      return QObject::eventFilter(watched, event);
  }
}

WindowRunClock::WindowRunClock() {
  QCoreApplication::instance()->installEventFilter(&blocker_);
}

WindowRunClock::~WindowRunClock() {
  QCoreApplication::instance()->removeEventFilter(&blocker_);
}

std::time_t WindowRunClock::Now() {
  return std::time(nullptr);
}

void WindowRunClock::Sleep(std::chrono::milliseconds duration) {
  QEventLoop loop;
  // A precise timer: a coarse one may end a pause up to 5 % late, 10 ms on every row.
  QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

void WindowRunClock::KeepAlive() {
  QCoreApplication::processEvents();
}

}  // namespace qz
