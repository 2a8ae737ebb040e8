// Marks what the shared library exports; everything else is hidden.
#ifndef OBJSTORE_UTIL_OBJSTOREEXPORT_H_
#define OBJSTORE_UTIL_OBJSTOREEXPORT_H_

#define OBJSTORE_API __attribute__((visibility("default")))

#endif  // OBJSTORE_UTIL_OBJSTOREEXPORT_H_
