#include "apps/cli/CliSecrets.h"

#include "config/TextCharacters.h"

namespace varnis::cli {

std::string RefusedSecret(std::string_view option, std::string_view file, std::string_view why)
{
    const bool bKey = option.starts_with("--key");
    std::string msg = "invalid value ";
    if (file.empty()) {
        msg.append("for ").append(option);
    } else {
        msg.append("in ").append(option).append(" '").append(Printable(file, 200)).append("'");
    }
    msg.append(": ").append(why).append(" (").append(bKey ? kKeyRule : kPasswordRule).append(")");
    return msg;
}

}  // namespace varnis::cli
