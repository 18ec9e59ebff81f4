#include "apps/cli/SecretFiles.h"

#include "apps/cli/CliSecrets.h"
#include "config/TextCharacters.h"
#include "platform/InputBytes.h"
#include "config/CardSettings.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace varnis::cli {
namespace {

// The first line of standard input, without its end.
bool ReadInputLine(int nInputFd, std::string& strLine, std::string& strWhy)
{
    console::InputBytes input(nInputFd);
    strLine.clear();
    for (;;) {
        char c = 0;
        if (input.Next(c) != console::InputBytes::Got::Byte) {
            if (strLine.empty()) {
                strWhy = "standard input holds no line";
                return false;
            }
            return true;
        }
        if (c == '\n') {
            return true;
        }
        if (strLine.size() == kSecretLineLimit) {
            strWhy = "the line on standard input is longer than " + std::to_string(kSecretLineLimit) + " bytes";
            return false;
        }
        strLine.push_back(c);
    }
}

// The one line of a file, without its end.
bool ReadFileLine(const std::string& file, std::string& strLine, std::string& strWhy)
{
    const std::u8string name(file.begin(), file.end());
    errno = 0;
    std::ifstream in(std::filesystem::path(name), std::ios::binary);
    if (!in) {
        strWhy = errno != 0 ? std::generic_category().message(errno) : "cannot be opened";
        return false;
    }
    std::string text(kSecretLineLimit + 3, '\0');  // the line, its end, and one byte more
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        strWhy = "cannot be read";
        return false;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.ends_with('\n')) {
        text.pop_back();
        if (text.ends_with('\r')) {
            text.pop_back();
        }
    }
    if (text.find('\n') != std::string::npos) {
        strWhy = "it holds more than one line";
        return false;
    }
    if (text.size() > kSecretLineLimit) {
        strWhy = "its line is longer than " + std::to_string(kSecretLineLimit) + " bytes";
        return false;
    }
    if (text.empty()) {
        strWhy = "it is empty";
        return false;
    }
    strLine = std::move(text);
    return true;
}

bool ReadSecret(std::string_view option, const std::string& file, std::size_t nBytes, int nInputFd,
                std::optional<std::string>& digits, std::string& strError)
{
    std::string line;
    std::string why;
    const bool bRead = file == "-" ? ReadInputLine(nInputFd, line, why) : ReadFileLine(file, line, why);
    if (!bRead) {
        strError = "cannot take " + std::string(option) + " '" + Printable(file, 200) + "': " + why;
        return false;
    }
    std::string value;
    if (!ParseSecretDigits(line, nBytes, value, why)) {
        strError = RefusedSecret(option, file, why);
        return false;
    }
    digits = std::move(value);
    return true;
}

}  // namespace

bool ReadSecretFiles(CliOptions& options, int nInputFd, std::string& strError)
{
    if (options.m_strKeyFile && !ReadSecret("--key-file", *options.m_strKeyFile, kKeyTextLimit / 2, nInputFd,
                                            options.m_form.m_strKey, strError)) {
        return false;
    }
    return !options.m_strPasswordFile ||
           ReadSecret("--password-file", *options.m_strPasswordFile, kPasswordTextLimit / 2, nInputFd,
                      options.m_form.m_strPassword, strError);
}

}  // namespace varnis::cli
