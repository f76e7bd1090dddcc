#include "cli/Help.h"

namespace cli {

namespace {

const char *const Help = R"(Usage: nmct-cli [OPTIONS] COMMAND [ARGUMENTS]

Reads, writes and checks radio modules on serial ports, as the window does, and
keeps their settings in parameter files (plain text; see "read").

Commands:
  ports           list the port names (COM1, ...) and the devices they open here,
                  and the serial adapters attached
  detect          show the module's model and version
  read [FILE]     read the module's settings into FILE (or print them); with
                  several ports FILE is a folder that gets PORT.nmct per port
  write FILE      save a backup of the module's settings, write FILE's settings
                  into the module, then read them back and compare
  verify FILE     read the module and list every setting that differs from FILE
  default         save a backup, then restore the module's factory settings
  volume N        set the volume, 0 to 4
  check FILE      check FILE without a module: exit 0, or 3 with its errors
  export-csv FILE [CSV]
                  FILE's channel table as CSV, for a spreadsheet (or print it)
  import-csv CSV FILE
                  replace FILE's channels with the CSV's rows; FILE's tones and
                  squelch stay, its comments do not

Options (before the command, taken after it too; "--" ends them: check -- -x.nmct):
  -p, --port PORT COMn (as the window names ports) or a device path such as
                  /dev/ttyUSB0; default: $NMCT_PORT. Repeat it to run detect,
                  read, write, verify, default or volume on every port at once:
                  one result line per port, in the order given
  --no-verify     with write: do not read back
  --backup-dir DIR
                  with write and default: keep the backup in DIR instead of
                  $XDG_STATE_HOME/nmct/backups (~/.local/state/nmct/backups)
  --no-backup     with write and default: no backup
  --json          one JSON document on standard output instead of text, for
                  ports and the commands that talk to a module: {"command",
                  "status", "message" (when it failed before any port), "ports":
                  [{"port", "device", "model", "version", "outcome" (ok, file
                  error, no module, differs, failed), "status", "change"
                  (nothing sent, not acknowledged, acknowledged, confirmed),
                  "message", "backup", "file", "differences": [{"setting",
                  "file", "module"}]}]}; ports lists "ports" and "adapters"
  --trace         every byte sent (>) and received (<) on standard error, with
                  the seconds since start, the port, hex and printable text
  -h, --help      this text
  --version       the program's version

The backup is the module's settings as "read" saves them, in a file named after
the port, model, version and time (UTC); its path is printed. Writing it back
restores the module. A backup that cannot be saved stops the write: nothing is
sent.

FILE "-" is standard input or output. Nothing is sent from a file with an
error: every line is checked first. A file is replaced only by a complete new
one; a device or FIFO named as FILE (/dev/stdout, a pipe) is written directly.
In a CSV table a decimal comma is taken where it cannot be a separator:
"460,125" quoted, or unquoted when ';' separates the fields.

Every command that talks to a module identifies it first and goes on only when
it answers with a module's model and version. write, default and volume end by
saying what the module now holds: "nothing was sent", "sent, not acknowledged"
(its settings or volume are unknown), "written and acknowledged, not read
back", or done ("written and verified", "defaults restored", "volume set to N").

Exit status: 0 done, 2 bad arguments, 3 file error, 4 no module on the port,
5 the module differs from the file, 6 the module did not complete the command,
7 the module was changed as asked but standard output could not be written
(what changed is then on standard error). 3 also when a file is too large (over
1 MiB) or a backup cannot be written (nothing was sent); 4 also when something
answers but not as a module (nothing more was sent); 5 after write: the module
took the settings but holds others; 6 after write, default or volume: the
message says whether anything was sent and what to do. With several ports: the
highest status of any port.

Example, a batch of modules on four adapters:
  nmct-cli -p COM3 read site.nmct                        # the module you set up
  nmct-cli -p COM3 -p COM4 -p COM5 -p COM6 write site.nmct   # the others
)";

} // namespace

std::string HelpText()
{
    return Help;
}

} // namespace cli
