// Salted password hashes (yescrypt, through the system's crypt library) for
// the user record. Only hashes are ever stored; callers wipe the password.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace programs::password {

// A new salted yescrypt hash of `phrase`, or nothing when the library fails.
std::optional<std::string> hash(std::string_view phrase);
// True when `phrase` gives `storedHash`. Compared in constant time.
bool verify(std::string_view phrase, std::string_view storedHash);
// Overwrites a password held in a string before it is released.
void wipe(std::string& s);

}  // namespace programs::password
