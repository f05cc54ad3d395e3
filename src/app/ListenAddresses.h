#pragma once
// Where clients can reach the server: the machine's addresses and how they are shown.

#include <cstdint>
#include <string>
#include <vector>

// The IPv4 addresses of the machine's interfaces that are up, loopback left out, in dotted
// form; empty when there are none or they cannot be listed. linux/ or win32/ implements it.
std::vector<std::string> LocalIPv4Addresses();

// "Quavix Server listening on port 17495: 192.168.1.20:17495, 10.0.0.5:17495"; with a page
// port, followed by ", control page http://192.168.1.20:17496/".
std::string ListeningLine(uint16_t port, const std::vector<std::string>& addresses,
                          uint16_t pagePort = 0);
// "Quavix Server - 192.168.1.20:17495, 10.0.0.5:17495"; with a page port, followed by
// " - http://192.168.1.20:17496/".
std::string ListeningToolTip(uint16_t port, const std::vector<std::string>& addresses,
                             uint16_t pagePort = 0);
// The address a phone types: http://FIRST-ADDRESS:PORT/ (localhost without one).
std::string PageAddress(uint16_t pagePort, const std::vector<std::string>& addresses);
