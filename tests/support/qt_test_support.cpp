#include "tests/support/qt_test_support.h"

#include <QApplication>
#include <QThread>

#include <cstdlib>

namespace weavil::test {

void EnsureTestApplication() {
  if (QApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "weavil_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives for the whole run
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

}  // namespace weavil::test
