// A mount namespace of the calling process's own, where a test may mount a
// small disk or a read-only view without touching the machine's.
#pragma once

// Enters a new mount namespace (root's, or else a user namespace's in which
// the caller is root) with its mounts made private. The caller must have one
// thread only, as after a fork. False when the system allows neither.
bool enterOwnMountNamespace();
