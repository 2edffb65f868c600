#pragma once
// Passwords come from standard input or a prompt with echo off, never argv.
#include <optional>
#include <string>

namespace cli {

// One line of standard input without its line end. On a terminal the prompt
// goes to stderr with echo off, and with `confirm` the password is asked for
// twice. Nothing when input ended first or the two did not match (*why says which).
std::optional<std::string> readSecret(const char* prompt, bool confirm, std::string* why);

// Overwrites a secret before its memory is given back.
void wipe(std::string& secret);

}  // namespace cli
