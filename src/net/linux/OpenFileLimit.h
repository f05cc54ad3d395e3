#pragma once
// Linux only: the shell calls it once at start-up, before the server accepts anyone.

// Raises the soft limit on open descriptors to the hard limit, so that the server can hold more
// than the usual 1,024 clients. True when the soft limit now equals the hard limit.
bool RaiseOpenFileLimit();
