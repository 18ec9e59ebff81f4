// Why the command line refused a key or a password, told without repeating
// it (what a user typed as a secret must not end up in a log that collects
// standard error).
#pragma once

#include "config/SecretDigits.h"

#include <string>
#include <string_view>

namespace varnis::cli {

// The one-line message for a refused value of `option` ("--key"), given
// directly or read from `file` (empty: given directly).
std::string RefusedSecret(std::string_view option, std::string_view file, std::string_view why);

}  // namespace varnis::cli
