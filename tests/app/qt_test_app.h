// The one QApplication of a window test process, and a way to answer the next modal window.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace qz::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "qzbackup_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's own statics may be gone by the time static destructors run.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs `act` on the next modal window once it shows.
inline void WhenModal(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return WhenModal(act);
    act(modal);
  });
}

}  // namespace qz::test
