#include "UxSleep.h"

#include <chrono>
#include <thread>

void UXSLEEP_InTeRnAl(unsigned long milliseconds, const char* /*file*/, int /*line*/) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
