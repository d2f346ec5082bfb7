#include "tools/fa2/help_text.h"

#ifndef FA2_TOOL_VERSION
#define FA2_TOOL_VERSION "unknown"
#endif

namespace {

struct CommandHelp {
  const char* command;
  const char* text;
};

const char kOverview[] =
    "usage: fa2 COMMAND ...\n"
    "\n"
    "  create        packs files into an FA2 package\n"
    "  list          lists a package's entries\n"
    "  extract       writes a package's entries to files\n"
    "  test          decodes and checks every entry of a package\n"
    "  check         checks a package's update script (and SETUP.INI)\n"
    "  make-updater  makes an updater from a package and the updater program\n"
    "  verify        checks a made updater's package against its digests\n"
    "  help          this text; 'fa2 help COMMAND' describes a command\n"
    "  --version     the tool's version\n"
    "\n"
    "File names are the system's own (UTF-8 on Linux, Unicode on Windows) and\n"
    "become code page 932 entry names, and back.\n"
    "\n"
    "Exit codes: 0 success, 1 a file or package could not be used (one line on\n"
    "standard error: \"fa2: WHAT: problem\"), 2 wrong usage.\n";

const CommandHelp kCommands[] = {
    {"create",
     "usage: fa2 create [--store] [--level N] OUT.FA2 FILE...\n"
     "\n"
     "Packs the files, in the order given, into OUT.FA2. An entry is named after\n"
     "its file's base name, stored in code page 932, where it must be 1 to 14\n"
     "bytes, and keeps the file's modification time. Entries and the directory\n"
     "are compressed (an entry that does not get smaller is stored).\n"
     "\n"
     "  --store     stores every entry uncompressed\n"
     "  --level N   the compression level, 1 (fast) to 9 (smallest); default 6\n"
     "\n"
     "When one of the files is UPDATE.INI, its findings follow on standard error\n"
     "as 'fa2 check' prints them; they never stop the packing.\n"},
    {"list",
     "usage: fa2 list PACKAGE\n"
     "\n"
     "One row per entry: name, flags (02 = compressed), modification time (UTC),\n"
     "original size, stored size, data offset.\n"},
    {"extract",
     "usage: fa2 extract PACKAGE [-C FOLDER] [NAME...]\n"
     "\n"
     "Writes the named entries (every entry when no name is given) into FOLDER\n"
     "(default: the current folder) with their modification times, once every\n"
     "one of them has been checked. Names are matched without regard to letter\n"
     "case; the first entry of a name wins, also when every entry is written.\n"},
    {"test",
     "usage: fa2 test PACKAGE\n"
     "\n"
     "Decodes every entry and checks that its data lies inside the package, that\n"
     "a compressed entry decodes to exactly its original size within its stored\n"
     "size, and that a stored entry's sizes agree.\n"},
    {"check",
     "usage: fa2 check [--warnings-as-errors] [--setup SETUP.INI] PACKAGE\n"
     "\n"
     "Checks the package's UPDATE.INI as the updater will read it and prints one\n"
     "line per finding, then a summary:\n"
     "\n"
     "  UPDATE.INI:9: error: UpdateFile00: names the entry 'B.DAT', which the package lacks\n"
     "  UPDATE.INI: 1 error, 0 warnings\n"
     "\n"
     "  --setup SETUP.INI     also holds the script against the installation it\n"
     "                        is meant for: SETUP.INI is read by the updater's own\n"
     "                        rules, and its findings follow (SETUP.INI:LINE: ...)\n"
     "  --warnings-as-errors  exit 1 on warnings too\n"
     "\n"
     "Exit code 0 without errors, 1 with errors or when a file cannot be read,\n"
     "2 wrong usage.\n"},
    {"make-updater",
     "usage: fa2 make-updater --stub STUB.EXE [--setup SETUP.INI] [--icon FILE.ico]\n"
     "                        [--version A.B.C.D] [--no-check] PACKAGE OUT.EXE\n"
     "\n"
     "Makes an updater: a copy of the updater program STUB.EXE (32- or 64-bit,\n"
     "unsigned) with PACKAGE as its package, once the package has passed the\n"
     "checks of 'fa2 test' and holds UPDATE.INI. The update script is checked as\n"
     "'fa2 check' checks it (with --setup, against that SETUP.INI too): findings\n"
     "are printed, and errors refuse the package.\n"
     "\n"
     "  --icon FILE.ico    the updater's icons, from an .ico file\n"
     "  --version A.B.C.D  the version shown in the file's properties\n"
     "  --no-check         no check of the update script\n"
     "\n"
     "The updater also carries the package's CRC-32 and every entry's SHA-256:\n"
     "a damaged updater refuses to run before it writes anything, and an entry\n"
     "that is not its bytes fails the update, which is undone.\n"
     "\n"
     "OUT.EXE is written through a temporary file: a failure leaves none. Sign\n"
     "OUT.EXE afterwards (a signed stub is refused).\n"},
    {"verify",
     "usage: fa2 verify UPDATER.EXE\n"
     "\n"
     "Checks an updater made by 'fa2 make-updater' (signed or not) as the updater\n"
     "checks itself: the package against its CRC-32 and structure, and every\n"
     "entry's decoded bytes against its SHA-256. Then prints the SHA-256 of the\n"
     "whole file, as sha256sum does, for the download page.\n"
     "\n"
     "Exit code 0 when it is whole, 1 when it is damaged or carries no digests,\n"
     "2 wrong usage.\n"},
};

}  // namespace

const char* HelpText(const std::string& command) {
  if (command.empty()) return kOverview;
  for (const CommandHelp& help : kCommands)
    if (command == help.command) return help.text;
  return nullptr;
}

std::string VersionText() { return std::string("fa2 ") + FA2_TOOL_VERSION + "\n"; }
