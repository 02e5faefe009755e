#pragma once

// LogSource: a log that does not arrive as a file of its own (standard input, a command's
// output, a compressed file) spooled into a private file (platform/SpoolFolder.h) that the
// document follows as any file. The source owns its spool, the thread that fills it and,
// for a command, the child process; destroying the source ends all three: the spool is
// removed at once, the command gets SIGTERM, and whatever of it is left after the grace
// time gets SIGKILL. The grace runs on the source's own thread, so destroying a source
// returns at once; waitForEndings() (at exit) waits for every ending still running, which
// all run side by side: at most one grace in all.
//
// A command runs without a shell (posix_spawnp with its own words), in a process group of
// its own so that SIGTERM reaches what it started too, with standard input from /dev/null
// and standard output and standard error into one pipe, so both are spooled in the order
// they are written. What it started and what left its group (setsid) is found through the
// process table: descendants of the group, and orphans this program adopts (it makes
// itself their subreaper) whose environment carries the source's mark, QUILLSTREAM_SOURCE.
// The leader is not reaped before its group is gone, so the group's id cannot name another
// group while it is signalled.
//
// Threads: create, destroy, Cancel, waitForEndings and reapAdoptedOrphans on the main
// thread; Status from any thread.

#include "engine/Decompressor.h"
#include "engine/RemoteFile.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Remote: a file on another machine followed through ssh (engine/RemoteFile.h), a command
// whose standard error is kept apart from the log, for the message that says why it failed.
// Rotated: a rotated set (engine/RotatedSpool.h), its older members and then its live file.
enum class SourceKind { StandardInput, Command, Decompressed, Remote, Rotated };

struct SourceStatus {
    enum class Phase {
        Running,   // still arriving (or decompressing)
        Ended,     // end of input, the command ended, or the copy is complete
        Failed,    // see problem
        Cancelled, // a decompression the user cancelled
    };
    enum class Problem {
        None,
        StartFailed, // the command could not be started; error tells why (ENOENT: not found)
        DiskFull,    // the spool reached its file system's reserve
        WriteFailed, // writing the spool failed; error
        ReadFailed,  // reading the input failed; error
        Damaged,     // the archive is damaged; detail
        Truncated,   // the archive ends inside a stream
        IndexFull,   // the document took no more lines (LogDocument::indexStopped tells why)
    };
    SourceKind kind = SourceKind::StandardInput;
    Phase phase = Phase::Running;
    Problem problem = Problem::None;
    int error = 0;
    std::string detail;
    std::uint64_t spooled = 0;     // bytes in the spool
    std::uint64_t inputSize = 0;   // compressed file: its size
    std::uint64_t inputDone = 0;   // compressed file: bytes read of it
    bool exited = false;           // command: it has ended (also after Failed)
    bool ending = false;           // command: told to end (SIGTERM), its end is waited for
    int exitCode = -1;             // command: its exit status, -1 when ended by a signal
    int exitSignal = 0;            // command: the signal that ended it
    std::int64_t reserveBytes = 0; // what the spool keeps free on its file system
    std::string errors;            // remote: the last lines of ssh's standard error
    std::uint64_t errorLines = 0;  // remote: how many lines came on it in all
    // A rotated set: its older members, how many of them are written, whether the live file
    // is followed now, how often it was found rotated or truncated, and the members that
    // could not be read ("path: reason").
    std::uint32_t members = 0;
    std::uint32_t membersDone = 0;
    bool following = false;
    int restarts = 0;
    std::vector<std::string> skipped;
};

struct SourceOptions {
    std::string folder;                    // spool folder; empty: spoolFolderPath()
    std::int64_t reserveBytes = -1;        // -1: spoolReserveBytes() of the spool's file system
    std::chrono::milliseconds grace{2000}; // SIGTERM to SIGKILL
    std::string workingFolder;             // where a command runs; empty: this process's
};

class LogSource {
  public:
    // Each returns nullptr with error set (an errno) when the spool cannot be made or the
    // command cannot be started at all; a command that is not found gives a source whose
    // status is Failed/StartFailed, so that its spool can still show why.
    // fd: read until its end; it is duplicated, the caller keeps its own descriptor.
    static std::unique_ptr<LogSource> followStream(int fd, std::u16string name,
                                                   const SourceOptions& options, int& error);
    static std::unique_ptr<LogSource> followCommand(const std::vector<std::string>& words,
                                                    std::u16string name,
                                                    const SourceOptions& options, int& error);
    // ssh following file (sshWords; extraOptions only for tests); its standard error is kept
    // in the status (errors), its standard output is the log.
    static std::unique_ptr<LogSource> followRemote(const RemoteFile& file,
                                                   const std::vector<std::string>& extraOptions,
                                                   std::u16string name,
                                                   const SourceOptions& options, int& error);
    static std::unique_ptr<LogSource> decompress(const std::string& path, CompressionFormat format,
                                                 std::u16string name, const SourceOptions& options,
                                                 int& error);
    // older: the rotated members oldest first; live: the file followed after them by name.
    static std::unique_ptr<LogSource> followRotated(const std::vector<std::string>& older,
                                                    const std::string& live, std::u16string name,
                                                    const SourceOptions& options, int& error);
    ~LogSource();
    LogSource(const LogSource&) = delete;
    LogSource& operator=(const LogSource&) = delete;

    SourceKind kind() const { return m_kind; }
    // Different for every source this process made.
    std::uint64_t serial() const { return m_serial; }
    const std::string& spoolPath() const { return m_spoolPath; }
    // A rotated set's live file (the bytes of its name); empty for any other source.
    const std::string& livePath() const { return m_livePath; }
    // What the title names: "standard input", the command line, the archive's path.
    const std::u16string& displayName() const { return m_name; }
    // A decompressed copy is complete once written: it is shown, not followed.
    bool follows() const { return m_kind != SourceKind::Decompressed; }
    SourceStatus status() const;
    // Stops a decompression (Cancelled) or the reading of a stream (Ended); a command is
    // ended as on destruction (SIGTERM now, SIGKILL after the grace, on the source's
    // thread). Main thread.
    void cancel();
    // The document that follows the spool takes no more lines: input is no longer read and
    // a command is ended, as when the disk is full (Failed/IndexFull). Nothing when the
    // source has ended already. Any thread.
    void stopInput();
    // The command's process id (0: none or already ended).
    pid_t processId() const;
    // A command or ssh: a process of its own that ends with the source.
    bool runsProcess() const
    {
        return m_kind == SourceKind::Command || m_kind == SourceKind::Remote;
    }

    // Waits until every command of a destroyed source has ended (its grace over). At exit.
    static void waitForEndings();
    // Reaps the orphans this program adopted as their subreaper once they have ended and
    // nobody else took them (a zombie seen on two calls at least a second apart). Cheap when
    // there is none; the window calls it from its timer.
    static int reapAdoptedOrphans();
    // Whether this program adopts orphans (a command has run): only then is there any to reap.
    static bool mayHaveOrphans();

  private:
    struct State; // what the source's thread shares with it and may outlive it

    LogSource(SourceKind kind, std::u16string name, const SourceOptions& options);
    bool makeSpool(int& error);
    static std::unique_ptr<LogSource> spawn(SourceKind kind, const std::vector<std::string>& words,
                                            std::u16string name, const SourceOptions& options,
                                            int& error);

    SourceKind m_kind;
    std::uint64_t m_serial;
    std::u16string m_name;
    std::string m_spoolPath;
    std::string m_livePath;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
