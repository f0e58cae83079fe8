#pragma once
// Widget tests: one application object on the offscreen platform for the whole run, and
// waiting for work that ends in the event loop or on another thread.
#include <chrono>
#include <functional>

namespace weavil::test {

// Creates the run's QApplication (offscreen unless QT_QPA_PLATFORM says otherwise)
// the first time; later calls do nothing.
void EnsureTestApplication();

// Runs the event loop until done() holds; false when limit passed first.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace weavil::test
