#pragma once
// The platform's networking start-up and clean-up pair.

enum class NetStartResult { Ok, Failed, WrongVersion };

// Main thread, at start-up. WrongVersion: started, but not the version asked for (the caller
// stops networking again).
NetStartResult StartNetworking();
void StopNetworking();
