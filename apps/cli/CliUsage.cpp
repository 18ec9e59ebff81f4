// The --help text and the --version line of varnis-cli. The manual page is
// made from the help, so what is said here is said there.
#include "apps/cli/CliOptions.h"

#include <string_view>

namespace varnis::cli {

std::string VersionText()
{
    return std::string("varnis-cli ") + VARNIS_VERSION;
}

namespace {

// The options of make alone, the rest, and the exit status.
constexpr std::string_view kTail = R"USAGE(make only:
  --port COMn|DEVICE-PATH         use this port instead of searching COM1 to COM10;
                                  if it cannot be used, says why (also for ports)
  --count N                       make N cards; asks to place the next card and press
                                  Enter between cards (end of input stops the run)
  --yes                           turn configuration locking on, or password
                                  protection with the default password, without
                                  asking
  --reply-timeout MS              give up on a card whose result has not come within
                                  MS milliseconds (default 30000)

Other: --trace writes the debug trace to standard error, including why the
search skipped each port. An option that takes a value takes the next word
unless it starts with "--" (give such a value as --key=VALUE); "--" ends the
options. Numbers may have blanks around them, as the words may.
The form is checked before anything else; make then asks for confirmation on
standard input (y or yes = OK, anything else = Cancel, an answer longer than
4096 bytes too) unless --yes is given: before turning configuration locking
on, and before protecting with the default password 47150263, which every
new form shows. The device search sends one probe byte (STX, 0x02) to each
port it can open and waits 100 ms for the answer (ACK, 0x06). A line to the device that is lost (a USB adapter pulled)
ends the run at once with one line naming the port.

Exit status: 0 when every card was written (make), the frame was printed or
the ports were listed; 1 when the form was refused, the device was not found,
the port could not be used, the line to the device was lost, a card was not
written or standard output could not be written; 2 for a usage error.
)USAGE";

}  // namespace

std::string UsageText()
{
    return R"USAGE(Usage: varnis-cli frame [settings]
       varnis-cli make  [settings] [--port COMn | --port DEVICE-PATH] [--count N] [--yes]
                        [--reply-timeout MS]
       varnis-cli ports [--port COMn | --port DEVICE-PATH]
       varnis-cli --help | --version

Commands:
  frame   prints the 26-byte configuration frame for the settings, as
          hexadecimal bytes on one line. A setting the form refuses is
          reported on standard error and no frame is printed.
  make    finds the generator device on COM1 to COM10 (or uses --port), makes
          one configuration card (or N with --count) and prints the device's
          answer for each card: "Success!", "Failure!" with the status byte
          of the device's reply, or the time-out message. The port the device
          was found on is told on standard error; when it is not found, one
          line for each port searched says why it was passed over.
  ports   lists COM1 to COM10 as the search sees them: the device path, the
          kernel driver, for USB adapters vendor:product, manufacturer,
          product and serial number, and whether this user can open the port
          (and if not, why). On Windows, also every other port the system
          lists, with a note that the search does not try it. Each port is
          opened for a moment; nothing is sent.

Settings start from the defaults of a new connection; each option is the
choice or text of the form (the form's own labels are accepted too, such as
"Mode1", "WIEGAND 26 bits", "User-defined", "KEY B", "Enable"):
  --mode uid|sector               output UID number / sector data after KEY checking
  --interface wiegand|aba
  --wiegand 26|34|42              WIEGAND length in bits (WIEGAND only)
  --aba FORMAT                    "8H to 10D", "6H to 8D", "6H to 10D", "4H+2H to 10D"
                                  or "4H+2H to 8D" (also 8h-10d, 4h+2h-8d, ...; ABA only)
  --timing default|user           impulse timing (WIEGAND only)
  --width N --interval N          impulse width and interval, 1-255 units of 50us
                                  (need --timing user)
  --sector 0-15 --block 0-3       sector and block
  --start 0-13 --end 0-15         start and end address of the bytes read from the
                                  block: the start must not be after the end, and
                                  at most five bytes are read (end at most start + 4)
  --order msb|lsb                 data arrangement order
  --key-type a|b                  KEY A / KEY B
  --key-file FILE | --key KEY     the key, from the one line of FILE (- : the first
                                  line of standard input) or as given: 12 hex digits
                                  typed least significant byte first, as the
                                  form's note "(6bytes hexadecimal digits,LSB)" says
  --password-file FILE | --password PASSWORD
                                  configuration password, 8 hexadecimal digits,
                                  from FILE (- : standard input) or as given
  --protection on|off             password protection
  --locking on|off                configuration locking
--sector, --block, --start, --end, --order, --key-type and the key count only
with --mode sector. A setting that has no effect under the chosen mode,
interface or timing is refused (exit 2) rather than ignored. The key and the
password may be written in byte pairs with blanks, colons or dashes between
them and a 0x before them (A5:C3:0F:7E:9B:12, 0x47150263); anything else is
refused (exit 2) with what is wrong (the number of digits, the position of a
wrong character), never the value itself. Give them in files: every user's
process list shows a command line, and shell history keeps it. A file holds
one line; - reads it from standard input before any question is asked.

)USAGE" + std::string(kTail);
}

}  // namespace varnis::cli
