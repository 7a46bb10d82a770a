// Whether the kernel's view of the sticks may have changed: a node of /dev came or
// went, or a file system was mounted or unmounted anywhere.
#pragma once

// The kernel's table of mounted file systems, as this process sees it.
inline constexpr const char* kKernelMountTable = "/proc/self/mounts";

// The number of changes this process has seen, after one more look: it moves when
// the look finds a change. One poll answers for both, an inotify watch on /dev and
// the kernel's mount table (ready with POLLPRI after any mount or unmount), so the
// checks a copy makes between folders cost one system call while nothing moves.
// A forked child opens both afresh (a child polling its parent's table file would
// take the parent's notices), and its first look counts as a change; without
// either, every look does.
unsigned long lookForStickChanges();
