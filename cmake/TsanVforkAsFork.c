/* Linked into every program of the ThreadSanitizer build (MOUSE_TSAN) only.
 *
 * QProcess starts a program with clone(CLONE_VM | CLONE_VFORK): the child
 * borrows the parent's memory, thread-local data included, until it execs.
 * The runtime's clone interceptor does not allow for that: its fork
 * bookkeeping for the child is written into the parent thread's own state,
 * and then undone a second time by the parent. Each program started leaves
 * that thread ignoring its interceptors for good, so its mutexes and
 * condition variables stop ordering anything and sound code reports races
 * (gcc 12's runtime), or the runtime aborts (clang 14's).
 *
 * The runtime turns vfork() into fork() for the same reason; this does the
 * same for the clone() form. The child then gets its own copy of memory and
 * a stack of its own in that copy; QProcess works either way, as it does
 * where it falls back to fork(). Every other clone passes through unchanged.
 */
#define _GNU_SOURCE
#include <sched.h>
#include <stdarg.h>
#include <sys/types.h>

int __interceptor_clone(int (*fn)(void*), void* stack, int flags, void* arg, pid_t* parent_tid, void* tls,
                        pid_t* child_tid);

/* Used only inside a child's private copy: the parent never touches it, so
 * children started at the same time from two threads do not share it. */
static char child_stack[256 * 1024] __attribute__((aligned(64)));

int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
  va_list ap;
  va_start(ap, arg);
  pid_t* parent_tid = va_arg(ap, pid_t*);
  void* tls = va_arg(ap, void*);
  pid_t* child_tid = va_arg(ap, pid_t*);
  va_end(ap);
  const int vfork_like = CLONE_VM | CLONE_VFORK;
  if ((flags & vfork_like) == vfork_like) {
    flags &= ~vfork_like;
    stack = child_stack + sizeof child_stack;
  }
  return __interceptor_clone(fn, stack, flags, arg, parent_tid, tls, child_tid);
}
