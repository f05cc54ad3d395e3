#pragma once
// This computer's name, as the page, the announcement and anything else that names it use it.
// One implementation per platform (linux/HostName.cpp, win32/HostName.cpp).

#include <string>

// Any thread. The system's host name, as it would appear in DNS (it may carry a domain:
// "box.example.org"), in UTF-8; empty when the system gives none. Needs no networking start-up.
std::string HostName();
