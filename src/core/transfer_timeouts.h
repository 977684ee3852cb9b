// How long a transfer may take to start and how slowly it may run: a setting
// of the run, which tests shorten.
#pragma once

// A stalled or trickling server must never hold a run, and with it every
// later scheduled run, for long.
struct TransferTimeouts {
    long connectSeconds = 30;  // the TLS handshake included
    long lowSpeedBytesPerSecond = 1024;
    long lowSpeedSeconds = 60;  // slower than the floor for this long fails
};
