// The key and the password from files (--key-file, --password-file), so that
// neither stands on the command line, where every user's process list and
// the shell's history show it.
#pragma once

#include "apps/cli/CliOptions.h"

#include <string>

namespace varnis::cli {

// The longest line a key or password file may hold.
inline constexpr std::size_t kSecretLineLimit = 1024;

// Reads the files the options name into the form: each holds one line (its
// end optional). "-" reads the first line of `nInputFd` byte by byte, so the
// rest stays there for the questions asked later. False with a one-line
// message that never repeats what the file holds.
bool ReadSecretFiles(CliOptions& options, int nInputFd, std::string& strError);

}  // namespace varnis::cli
