// Enters a private mount namespace (else one in a user namespace, as its root); false if denied.
// The caller must have one thread only.
#pragma once

bool enterOwnMountNamespace();
