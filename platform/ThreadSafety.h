#pragma once
// Lock rules the compiler checks: clang's -Wthread-safety reads these attributes, and every
// other compiler sees nothing. A field names the lock that guards it (GUARDED_BY), a function
// the locks it needs held (REQUIRES) or not held (EXCLUDES).

#if defined(__clang__)
#define VELMORA_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VELMORA_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) VELMORA_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY VELMORA_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) VELMORA_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) VELMORA_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) VELMORA_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VELMORA_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VELMORA_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELMORA_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
// For a field that only its owning thread writes (under the lock, for the other threads' sake):
// that thread's own reads need no lock, which the checker cannot know. Keep such functions tiny.
#define NO_THREAD_SAFETY_ANALYSIS VELMORA_THREAD_ATTRIBUTE(no_thread_safety_analysis)
