// Enters a mount namespace of the process's own (root's, or else a user namespace's in which
// the caller is root), its mounts private, for a test's own small disk or read-only view.
// The caller must have one thread only. False when the system allows neither.
#pragma once

bool enterOwnMountNamespace();
