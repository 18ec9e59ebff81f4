// What the port diagnosis reads from files others write, fed from the
// input: a port's lock file, the kernel's lock table and its tty driver
// table (three parts separated by '\0'), in a directory of the fuzzer's own
// standing for /var/lock and /proc. The port is /dev/null.
#include "serial/PortDiagnosis.h"
#include "serial/PortInfo.h"
#include "serial/posix/ExclusiveOpen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace {

void Require(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

const std::string& Root()
{
    static const std::string root = [] {
        std::string dir = "/tmp/varnis-fuzz-files-XXXXXX";
        Require(::mkdtemp(dir.data()) != nullptr);
        Require(::mkdir((dir + "/lock").c_str(), 0700) == 0);
        Require(::mkdir((dir + "/proc").c_str(), 0700) == 0);
        Require(::mkdir((dir + "/proc/tty").c_str(), 0700) == 0);
        varnis::SetPortLockDirectory(dir + "/lock");
        return dir;
    }();
    return root;
}

void Write(const std::string& path, std::string_view text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string_view Part(std::string_view& input)
{
    const std::size_t nEnd = std::min(input.find('\0'), input.size());
    const std::string_view part = input.substr(0, nEnd);
    input.remove_prefix(std::min(nEnd + 1, input.size()));
    return part;
}

// The pid of a lock file in text: blanks, then digits.
long TextPid(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0)
        ++i;
    long nPid = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0 && nPid < 100000000; ++i)
        nPid = nPid * 10 + (text[i] - '0');
    return nPid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    if (nSize > 8192)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(pData), nSize);
    const std::string_view lockFile = Part(input);
    const std::string_view lockTable = Part(input);
    const std::string_view drivers = input;
    const std::string& root = Root();
    Write(root + "/lock/LCK..null", lockFile);
    Write(root + "/proc/locks", lockTable);
    Write(root + "/proc/tty/drivers", drivers);

    const varnis::PortLockFileState state = varnis::ReadPortLockFile("/dev/null", root + "/proc");
    if (state.m_nHolder != 0) {
        bool bText = true;
        for (const char c : lockFile.substr(0, 63))
            bText = bText && (std::isdigit(static_cast<unsigned char>(c)) != 0 ||
                              std::isspace(static_cast<unsigned char>(c)) != 0);
        Require(state.m_nHolder > 0 && state.m_nHolder != ::getpid());
        Require(!bText || state.m_nHolder == TextPid(lockFile.substr(0, 63)));
        Require(state.m_strPassedOver.empty());
    }
    Require(state.m_strPassedOver.empty() || state.m_strPassedOver.starts_with("lock file "));

    // Each holder named is "NAME (pid N)" with N a number the lock table holds.
    for (const std::string& holder : varnis::PortHolders("/dev/null", root + "/proc")) {
        const std::size_t nPid = holder.rfind("(pid ");
        Require(nPid != std::string::npos && holder.ends_with(")"));
        const std::string number = holder.substr(nPid + 5, holder.size() - nPid - 6);
        Require(!number.empty() && lockTable.find(number) != std::string_view::npos);
    }

    // A driver found is the first word of one of the table's lines.
    const varnis::PortDevice facts = varnis::PortInfo("/dev/null", {root + "/no-sys", root + "/proc"}).Device();
    Require(facts.m_strDriver.empty() || drivers.find(facts.m_strDriver) != std::string_view::npos);
    return 0;
}
