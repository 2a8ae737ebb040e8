// The platform sleep.
#ifndef OBJSTORE_PLATFORM_UXSLEEP_H_
#define OBJSTORE_PLATFORM_UXSLEEP_H_

// Suspends the calling thread for `milliseconds`; `file` and `line` only label the call.
void UXSLEEP_InTeRnAl(unsigned long milliseconds, const char* file, int line);

#endif  // OBJSTORE_PLATFORM_UXSLEEP_H_
