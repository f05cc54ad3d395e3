#pragma once
// Where clients can reach the server: the machine's addresses and how they are shown.

#include <cstdint>
#include <string>
#include <vector>

#include "net/ClientGate.h"
#include "net/IpAddress.h"

// The addresses of the machine's interfaces that are up, IPv4 first: loopback, IPv6 link-local
// and other scoped ones left out (global and unique-local IPv6 kept), each once. Empty when
// there are none or they cannot be listed. linux/ or win32/ implements it.
std::vector<IpAddress> LocalAddresses();

// "Quavix Server listening on port 17495: 192.168.1.20:17495, [fd00::5]:17495"; with a page
// port, followed by ", control page http://192.168.1.20:17496/".
std::string ListeningLine(uint16_t port, const std::vector<IpAddress>& addresses,
                          uint16_t pagePort = 0);
// "Quavix Server - 192.168.1.20:17495, [fd00::5]:17495"; with a page port, followed by
// " - http://192.168.1.20:17496/".
std::string ListeningToolTip(uint16_t port, const std::vector<IpAddress>& addresses,
                             uint16_t pagePort = 0);
// The address a phone types: http://FIRST-ADDRESS:PORT/ (localhost without one).
std::string PageAddress(uint16_t pagePort, const std::vector<IpAddress>& addresses);
// Where a pairing link sends a phone: "ADDRESS:PORT" with the first of `addresses` that lies in
// the networks `access` serves, so a phone beside it is let in (loopback never: no phone reaches
// it); empty when none does.
std::string PairingHost(uint16_t pagePort, const std::vector<IpAddress>& addresses,
                        const AccessPolicy& access);

// Whether an IPv6 address is one a client elsewhere can use: not loopback, link-local,
// multicast or unspecified.
bool IsReachableIPv6(const IpAddress& address);
