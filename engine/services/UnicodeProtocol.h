// The "unicode:utf8:" file names: wide names that do not survive the locale are handed to the
// libraries in this form and opened through the engine's own I/O.
#pragma once

namespace quorlane {

// Marks the protocol available; runs after every bind of avformat, takes effect once per process.
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();
// How often registration actually took place (once per process).
int UnicodeProtocolRegistrations();

}  // namespace quorlane
