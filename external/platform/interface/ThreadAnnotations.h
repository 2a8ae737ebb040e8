// Lock annotations for clang's thread-safety analysis (-Wthread-safety). Under other compilers
// they expand to nothing.
#ifndef OBJSTORE_PLATFORM_THREADANNOTATIONS_H_
#define OBJSTORE_PLATFORM_THREADANNOTATIONS_H_

#if defined(__clang__)
#define OBJSTORE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define OBJSTORE_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define CAPABILITY(name) OBJSTORE_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their scope.
#define SCOPED_CAPABILITY OBJSTORE_THREAD_ANNOTATION(scoped_lockable)
// The field may be read or written only while `lock` is held.
#define GUARDED_BY(lock) OBJSTORE_THREAD_ANNOTATION(guarded_by(lock))
// What the pointer points to may be used only while `lock` is held.
#define PT_GUARDED_BY(lock) OBJSTORE_THREAD_ANNOTATION(pt_guarded_by(lock))
// The caller must hold the locks.
#define REQUIRES(...) OBJSTORE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The caller must not hold the locks (the function takes them).
#define EXCLUDES(...) OBJSTORE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function takes / releases the locks (the object's own when none are named).
#define ACQUIRE(...) OBJSTORE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) OBJSTORE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) OBJSTORE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// The function returns a reference to the given lock.
#define RETURN_CAPABILITY(x) OBJSTORE_THREAD_ANNOTATION(lock_returned(x))
// The analysis cannot follow this function (a lock chosen at run time); it is checked by review
// and by the sanitizer builds instead.
#define NO_THREAD_SAFETY_ANALYSIS OBJSTORE_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // OBJSTORE_PLATFORM_THREADANNOTATIONS_H_
