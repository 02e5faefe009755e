#pragma once

// The program's command line: an optional help switch and the files to open, each in a tab,
// standard input ("-") or a command to follow.
//
// Flags start with "-" only, because "/" starts every absolute path on this platform. The
// help switches are whole arguments in any letter case (-h, -help, -?, --help), so a path
// that merely contains "-h" opens normally. "--" ends the flags: every later argument is a
// file name, even one that starts with "-". Other flags and empty arguments are ignored.
// Pure function of its input; any thread.
//
// Where a file opens, as in less: "+N" or "--line N" (also "--line=N") open the file that
// follows at line N (1-based; 0 is the first line, a number past the end the last); "+" and
// "+G" open it at the end, which is also the default. Of several before one file the last
// counts. One after the last file applies to that file, so "a.log +5" still works. After
// "--" they are file names; any other argument that starts with "+" is a file name too.
//
// "--at TIME" (also "--at=TIME") shows the first file at the first line at or after that time
// (as Go to Time reads it: "2026-12-09 22:01", "22:01:30", "-15m"), once its lines' times are
// read; the value is taken whatever it starts with, so "--at -15m" works. The first one wins.
//
// "--merge" opens every file given in one tab, their lines merged by time (in the window
// already running on the display, as files are handed to it, unless --new-window); a file
// written ssh://[user@]host[:port]/path is followed on another machine (engine/RemoteAddress.h),
// which the application tells apart.
//
// "--new-window" opens a window of its own instead of handing the files to the window
// already running on the display.

#include "engine/LineTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CommandLineInfo {
    bool showHelp = false;
    // --version, in any letter case: print the version text and end.
    bool showVersion = false;
    // The first file to open, as the bytes the shell passed (a path on this platform is
    // bytes).
    std::optional<std::string> fileName;
    // Every file to open, in the order given; the first is fileName.
    std::vector<std::string> fileNames;
    // "-" before "--": follow standard input, as tail(1) reads "-".
    bool standardInput = false;
    // --command LINE or --command=LINE: follow the output of that command line (split into
    // words by shell rules, never run through a shell). The first one wins.
    std::optional<std::string> command;
    // The line the first file opens at (1-based, saturated at UINT32_MAX); none: the end.
    std::optional<std::uint32_t> line;
    // The line of each of fileNames, in the same order.
    std::vector<std::optional<std::uint32_t>> lines;
    // Whether each of fileNames came after --with-rotated: opened with its rotated files.
    std::vector<bool> withRotated;
    // --at: the time the first file is shown at, and its text as typed (for a window already
    // running, which reads it again).
    std::optional<TimeQuery> at;
    std::string atText;
    bool newWindow = false;
    // --merge: every file given opens in one tab, their lines merged by time.
    bool merge = false;
    // An option that lacks the value it needs ("--line" without a number); empty when none.
    std::string badOption;
};

// args: the arguments after the program name.
CommandLineInfo parseCommandLine(const std::vector<std::string>& args);

// True when arg is one of the help switches.
bool isHelpSwitch(const std::string& arg);
// True when arg is "--version" in any letter case.
bool isVersionSwitch(const std::string& arg);
