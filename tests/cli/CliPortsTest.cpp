// Finding the port: why a named port cannot be used, and `varnis-cli ports`.
#include "apps/cli/CliRun.h"
#include "apps/cli/PortListing.h"
#include "cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace varnis::test {
namespace {

namespace fs = std::filesystem;

// A directory of its own under the temporary directory, removed at the end.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "varnis-cli-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempDir()
    {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

std::string SelfMark()
{
    return "(pid " + std::to_string(::getpid()) + ")";
}

TEST(CliPort, ANamedPortThatCannotBeUsedSaysWhyInOneLine)
{
    DeviceOnPty device;
    ASSERT_TRUE(device.Start());
    DeviceOnPty plain;
    ASSERT_TRUE(plain.Start());
    const TempDir dir;
    const std::string plainFile = (dir.Path() / "not-a-port").string();
    std::ofstream(plainFile) << "x";

    // This process locks the port as another serial program would.
    const int hHolder = ::open(device.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(hHolder, 0);
    ASSERT_EQ(::flock(hHolder, LOCK_EX | LOCK_NB), 0);

    // A port without permission: as root, the program runs as nobody.
    std::vector<std::string> denied{kCliPath, "make", "--port", device.Path()};
    if (::geteuid() == 0) {
        denied.insert(denied.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    } else {
        ASSERT_EQ(::chmod(device.Path().c_str(), 0), 0);
    }
    const RunResult deniedResult = RunProgram(denied);
    if (::geteuid() != 0) {
        ::chmod(device.Path().c_str(), 0620);
    }

    struct Case {
        RunResult m_result;
        std::string m_strLine;
    };
    const std::vector<Case> cases{
        {RunCli({"make", "--port", "/dev/varnis-no-such-port"}),
         "varnis-cli: cannot use /dev/varnis-no-such-port: no such device"},
        {RunCli({"make", "--port", "/dev/null"}), "varnis-cli: cannot use /dev/null: not a serial line"},
        {RunCli({"make", "--port", plainFile}), "varnis-cli: cannot use " + plainFile + ": not a serial line"},
        {RunCli({"make", "--port", device.Path()}),
         "varnis-cli: cannot use " + device.Path() + ": in use by cli_tests " + SelfMark()},
        {RunProgram({"/usr/bin/setsid", "--wait", kCliPath, "make", "--port", "/dev/tty"}),
         "varnis-cli: cannot use /dev/tty: no controlling terminal (/dev/tty stands for the terminal the program "
         "runs in, and it runs in none)"},
        // The terminal the program runs in is never taken for a port.
        {RunProgram({"/bin/sh", "-c", "exec \"$0\" make --port \"$1\" <\"$1\"", kCliPath, plain.Path()}),
         "varnis-cli: cannot use " + plain.Path() + ": it is the terminal varnis-cli runs in, not a port"},
        {deniedResult, "varnis-cli: cannot use " + device.Path() +
                           ": permission denied (serial ports belong to the group dialout: sudo usermod -aG dialout "
                           "\"$USER\", then log in again)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.m_result.m_nStatus, 1);
        EXPECT_EQ(c.m_result.m_strOut, "");
        EXPECT_EQ(c.m_result.m_strErr, c.m_strLine + "\n");
    }
    // The trace tells the same reason for a port the search skips.
    const RunResult traced = RunCli({"make", "--trace", "--port", "/dev/null"});
    EXPECT_NE(traced.m_strErr.find("COM1 (/dev/null) skipped: not a serial line"), std::string::npos)
        << traced.m_strErr;

    ::close(hHolder);
    device.ExpectNothingSentBefore();
}

// A search that finds nothing says, for each port that has a device, why it
// passed the port over; one that finds the device says nothing of the others.
TEST(CliSearch, NotFoundEndsWithTheReasonOfEachPortAndFoundWithNone)
{
    DeviceOnPty silent;
    SimBehaviour mute;
    mute.m_eFault = SimFault::Silent;
    ASSERT_TRUE(silent.Start(mute));
    DeviceOnPty held;
    ASSERT_TRUE(held.Start());
    DeviceOnPty answering;
    ASSERT_TRUE(answering.Start());
    const int hHolder = ::open(held.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(hHolder, 0);
    ASSERT_EQ(::flock(hHolder, LOCK_EX | LOCK_NB), 0);

    PortTable table;
    table.SetPath(1, silent.Path());
    table.SetPath(2, "/dev/null");
    table.SetPath(4, held.Path());  // held by this process, which the port's holders leave out
    table.SetPath(5, "/dev/varnis-no-such-port");
    cli::CliOptions options;
    options.m_eCommand = cli::Command::Make;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::RunMakeOnTable(options, table, out, err, -1), cli::kExitFailure);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(),
              "Warning: Provin Generator Device not found.\n"
              "varnis-cli: COM1 (" +
                  silent.Path() +
                  "): no answer within 100 ms\n"
                  "varnis-cli: COM2 (/dev/null): not a serial line\n"
                  "varnis-cli: COM4 (" +
                  held.Path() +
                  "): in use by another program\n"
                  "varnis-cli: COM5 (/dev/varnis-no-such-port): no such device\n");

    table.SetPath(6, answering.Path());
    std::ostringstream foundOut;
    std::ostringstream foundErr;
    EXPECT_EQ(cli::RunMakeOnTable(options, table, foundOut, foundErr, -1), cli::kExitOk);
    EXPECT_EQ(foundOut.str(), "Success!\n");
    EXPECT_EQ(foundErr.str(), "varnis-cli: found on COM6 (" + answering.Path() + ")\n");
    ::close(hHolder);
}

// A fake sysfs tree laid out as the kernel lays out a USB serial adapter,
// with relative links, for the device number of `ptyPath`.
void MakeUsbAdapterTree(const fs::path& sys, const std::string& ptyPath)
{
    struct stat st {};
    ASSERT_EQ(::stat(ptyPath.c_str(), &st), 0);
    const fs::path hub = sys / "devices/pci0000:00/0000:00:14.0/usb1";
    const fs::path adapter = hub / "1-2";
    const fs::path port = adapter / "1-2:1.0/ttyUSB0";
    fs::create_directories(port / "tty/ttyUSB0");
    fs::create_directories(sys / "bus/usb-serial/drivers/ftdi_sio");
    fs::create_directories(sys / "dev/char");
    const auto write = [](const fs::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; };
    write(hub / "idVendor", "1d6b");  // the root hub: farther up than the adapter
    write(hub / "idProduct", "0002");
    write(adapter / "idVendor", "0403");
    write(adapter / "idProduct", "6001");
    write(adapter / "manufacturer", "FTDI");
    write(adapter / "product", "FT232R\x1b USB UART");
    write(adapter / "serial", "A10K1234");
    fs::create_directory_symlink("../../../../../../../bus/usb-serial/drivers/ftdi_sio", port / "driver");
    fs::create_directory_symlink("../../../ttyUSB0", port / "tty/ttyUSB0/device");
    fs::create_directory_symlink(
        "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0",
        sys / "dev/char" / (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))));
}

TEST(CliPorts, ListsTheTableWithDriverUsbIdentityAndAccess)
{
    DeviceOnPty usb;
    DeviceOnPty plain;
    ASSERT_TRUE(usb.Start());
    ASSERT_TRUE(plain.Start());
    const TempDir dir;
    MakeUsbAdapterTree(dir.Path() / "sys", usb.Path());

    PortTable table;
    table.SetPath(1, usb.Path());
    table.SetPath(2, plain.Path());  // not in the fake tree: the kernel's driver table tells
    table.SetPath(4, "/dev/varnis-no-such-port");
    std::ostringstream listing;
    cli::WritePortList(cli::TablePorts(table), PortInfoRoots{(dir.Path() / "sys").string()}, listing);

    std::string expected = "COM1: " + usb.Path() +
                           "\n  driver: ftdi_sio\n"
                           "  USB 0403:6001, manufacturer \"FTDI\", product \"FT232R\\x1B USB UART\", serial number "
                           "\"A10K1234\"\n"
                           "  access: can be opened\n"
                           "COM2: " +
                           plain.Path() +
                           "\n  driver: pty_slave\n  access: can be opened\n"
                           "COM3: no device\n"
                           "COM4: /dev/varnis-no-such-port\n  driver: unknown\n  access: no such device\n";
    for (int n = 5; n <= 10; ++n) {
        expected += "COM" + std::to_string(n) + ": no device\n";
    }
    EXPECT_EQ(listing.str(), expected);
}

// A lock file that does not count (another user's, naming root's process) is
// named under the port it was passed over for; root's own still holds it.
TEST(CliPorts, ALockFilePassedOverIsNamed)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a file to another user";
    }
    DeviceOnPty plain;
    ASSERT_TRUE(plain.Start());
    const TempDir locks;
    SetPortLockDirectory(locks.Path().string());
    const std::string file = (locks.Path() / ("LCK.." + plain.Path().substr(plain.Path().rfind('/') + 1))).string();
    const std::string pid = std::to_string(::getppid());
    std::ofstream(file) << pid << "\n";
    const auto listed = [&plain] {
        std::ostringstream out;
        cli::WritePortList({{"COM2", plain.Path(), {}}}, PortInfoRoots{}, out);
        return out.str();
    };
    const std::string head = "COM2: " + plain.Path() + "\n  driver: pty_slave\n  access: ";
    ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(listed(), head + "can be opened\n  lock file " + file +
                            " of nobody (uid 65534) passed over: it names pid " + pid +
                            ", a process of root (uid 0)\n");
    ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
    EXPECT_TRUE(listed().starts_with(head + "in use by ")) << listed();
    EXPECT_TRUE(listed().ends_with("(pid " + pid + ")\n")) << listed();
    SetPortLockDirectory("/var/lock");
}

TEST(CliPorts, TheProgramListsANamedPortAndTheMachinesTable)
{
    DeviceOnPty device;
    ASSERT_TRUE(device.Start());
    const int hHolder = ::open(device.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(hHolder, 0);
    ASSERT_EQ(::flock(hHolder, LOCK_EX | LOCK_NB), 0);
    const RunResult named = RunCli({"ports", "--port", device.Path()});
    ::close(hHolder);
    EXPECT_EQ(named.m_nStatus, 0) << named.m_strErr;
    EXPECT_EQ(named.m_strOut,
              device.Path() + "\n  driver: pty_slave\n  access: in use by cli_tests " + SelfMark() + "\n");

    // Whatever the machine has, all ten numbers in order, each once.
    const RunResult machine = RunCli({"ports"});
    EXPECT_EQ(machine.m_nStatus, 0) << machine.m_strErr;
    std::size_t nAt = 0;
    for (int n = 1; n <= 10; ++n) {
        const std::string label = "COM" + std::to_string(n) + ": ";
        const std::size_t nFound = machine.m_strOut.find(label, nAt);
        ASSERT_NE(nFound, std::string::npos) << machine.m_strOut;
        EXPECT_TRUE(nFound == 0 || machine.m_strOut[nFound - 1] == '\n');
        nAt = nFound + label.size();
    }
    device.ExpectNothingSentBefore();
}

}  // namespace
}  // namespace varnis::test
