// The seam between the updater and the operating system. Everything above
// this header is portable; win32/ holds the real implementation, posix/ the
// stand-in that lets every step run and be tested on Linux. CMake links
// exactly one of them.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The separator every path piece is joined with: '\\' on Windows, '/' here.
extern const char pathSeparator;

// File names of the programs the updater looks for or sits beside.
extern const char* const updaterExecutableName;  // "PelorinAutoUpdate.exe" / "PelorinAutoUpdate"
extern const char* const browserExecutableName;  // "Pelorin.exe" / "Pelorin"
extern const char* const launcherScriptName;     // "BatchLauncher.vbs" / "BatchLauncher.sh"
// The optional task definition beside the updater: "PelorinUpdateTask.xml" for
// schtasks; on POSIX "PelorinUpdateTask.cron", crontab lines without the tag.
extern const char* const taskDefinitionFileName;

// ---- Registry (read only) ----
enum class Hive { CurrentUser, LocalMachine };

// True when the key opens for reading (RegOpenKeyExA, KEY_READ).
bool registryKeyExists(Hive hive, const std::string& keyPath);

// Reads a string value of a key into `value`, as RegQueryValueExA does with a
// 260-byte buffer: false when the key or value is missing, or when the value
// with its terminator does not fit 260 bytes. `value` is untouched on failure.
bool readRegistryString(Hive hive, const std::string& keyPath, const std::string& valueName,
                        std::string& value);

// ---- Processes ----
// The executable file names (no path) of every running process, widened as the
// snapshot reports them. Empty when the process list cannot be read.
std::vector<std::wstring> runningProcessNames();

// Starts `commandLine` through the command interpreter without waiting for it,
// its standard streams on the null device, inheriting nothing but them and the
// guard. The child and every process it starts hold the file `guardPath`
// (created when missing) open until they end, so that this run or a later one
// can tell through `guardHeld` whether any of them still runs. The updater
// never waits on its handles.
enum class DetachedStart {
    Failed,
    Started,
    // Started, but `endDetached` cannot reach it (Windows: no job could hold it).
    StartedUnreachable,
};
DetachedStart startDetached(const std::string& commandLine, const std::string& guardPath);

// True while a process started with `guardPath` still runs; false also when
// there is no such file.
bool guardHeld(const std::string& guardPath);

// Ends, if any still runs, every process started by this process's last
// startDetached with `guardPath`. Returns at once: `guardHeld` tells when they
// are gone.
void endDetached(const std::string& guardPath);

// Runs `commandLine` through the command interpreter (the runtime's `system`)
// to its end; gives its exit status, 0 meaning success.
int runCommand(const std::string& commandLine);

void sleepMilliseconds(unsigned milliseconds);

// ---- Time ----
// The current local calendar time; false when it cannot be read.
bool localTimeNow(std::tm& out);
// Calendar time in whole seconds (the generator's seed).
long long calendarSeconds();

// The runtime library's generator as srand(seed) and then rand() give it: the
// same values in the same order, without the lock glibc's rand() takes on
// every call. Not copyable: it keeps its own state.
class RuntimeRandom {
public:
    explicit RuntimeRandom(unsigned seed);
    RuntimeRandom(const RuntimeRandom&) = delete;
    RuntimeRandom& operator=(const RuntimeRandom&) = delete;
    int next();

private:
    alignas(8) unsigned char state_[192];  // the implementation's generator state
};

// ---- Files ----
// The temporary directory as GetTempPath2A reports it where the system has it
// (for SYSTEM a folder only SYSTEM and administrators may write to), else as
// GetTempPathA does; it may end in the separator. Empty when there is none or
// it does not fit 260 bytes.
std::string temporaryDirectory();

// Opens the update log for writing in text mode, created when absent and
// emptied when present; null when it cannot be opened. It is also null, and
// the file untouched, when the name is a symbolic link (a reparse point on
// Windows), anything but an ordinary file, or a file with a second name; and
// on POSIX when the file is another user's in a folder that others may write
// to: another user may have laid the name there first. The caller closes it.
FILE* openLogFile(const std::string& path);

struct FileStatus {
    bool exists = false;         // the status query succeeded
    bool isDirectory = false;    // and names a directory
    bool isRegularFile = false;  // or an ordinary file (not a device, pipe or directory)
};
FileStatus fileStatus(const std::string& path);

// The existing path that names what `path` names when letter case is ignored,
// as Windows finds it: piece by piece, an exact match first, else the first
// entry that differs only in the letter case of ASCII letters. Pieces that
// match nothing are kept as given. On Windows, `path` itself.
std::string pathIgnoringCase(const std::string& path);

// The bytes free to this user on the volume that holds `directory`; false
// when they cannot be read.
bool freeDiskBytes(const std::string& directory, unsigned long long& bytes);

// Creates one directory. True when it was created; `alreadyExists` is set
// when it failed because something of that name is already there.
bool createDirectory(const std::string& path, bool& alreadyExists);

// Writes the stream's buffer and asks the system to put the file's bytes on
// the disk; false when either fails. The stream stays open.
bool flushToDisk(FILE* file);

// Puts `from` in the place of `to` in one step, replacing it, and waits until
// the change is on the disk (rename and a synced folder; MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Whoever looks finds the
// old file or the new one, whole, even after a crash. False when it failed,
// and then `to` is untouched.
bool replaceFile(const std::string& from, const std::string& to);

// Opens a file like fopen_s; null on failure. The caller closes it.
FILE* openFile(const std::string& path, const char* mode);

// True when `stream` is a terminal (a console window on Windows), where a
// progress line may be redrawn in place; false for a file or a pipe.
bool isTerminal(FILE* stream);

// A narrow (system code page) path as the wide text that names the same file.
std::wstring widenPath(const std::string& path);
// Opens a file by its wide name like _wfopen; null on failure.
FILE* openFileWide(const std::wstring& path, const char* mode);

// ---- The install's files, named as std::filesystem takes them ----
// The path that names what the narrow (system code page) `path` names. On
// Windows it is made from the wide text, as GCC's library reads narrow text as
// UTF-8 there.
std::filesystem::path nativePath(const std::string& path);
// `path` with '/' between its pieces, in the system code page; empty when a
// character of it has no place there.
std::string narrowPath(const std::filesystem::path& path);

// Renames `from` to `to` on the same volume, replacing a file there; never
// copies (false across volumes).
bool moveEntry(const std::filesystem::path& from, const std::filesystem::path& to);

// Puts `newFile` in the place of the existing file `installed` and keeps that
// file as `kept` (replaced when there), on one volume. On POSIX `installed`
// names one of the two, whole, at every instant (a second name, then one
// rename). On Windows, where a running program's file can be renamed but not
// replaced, `installed` is renamed to `kept` just before `newFile` takes its
// place. False when it failed; `installed` then names a whole file.
bool replaceKeeping(const std::filesystem::path& newFile, const std::filesystem::path& installed,
                    const std::filesystem::path& kept);

// Asks the system to put the bytes of `files` on the disk (POSIX: the whole
// volume that holds `volumeFolder`, in one call; Windows: each file). False
// when it could not be asked or refused.
bool putOnDisk(const std::vector<std::filesystem::path>& files,
               const std::filesystem::path& volumeFolder);

// ---- Proxies ----
// The ways to reach `url`, to be tried in this order: each a proxy URL as
// libcurl takes it ("http://proxy.example:3128"), or the empty text for a
// direct connection. Never empty; {""} when the machine names no proxy. The
// environment comes first (proxy_environment.h); on Windows then the user's
// Internet settings, for a run as SYSTEM the machine's WinHTTP setting.
struct ProxyWays {
    std::vector<std::string> proxies;
    // Named by the system's settings rather than the environment: such a
    // proxy is answered with the account's own credentials when it asks.
    bool fromSystemSettings = false;
};
ProxyWays proxiesFor(const std::string& url);

// ---- Command lines the updater runs ----
// Each platform's texts are pure functions in a table of its own, built on
// every platform so that both are tested byte for byte on Linux.
struct CommandBuilders {
    // Administrative unpack of `packagePath` into `targetDir`.
    std::string (*adminUnpack)(const std::string& packagePath, const std::string& targetDir);
    // Removes the tree at `path` with everything below it; on POSIX also every
    // sibling whose name differs from it only in letter case, which Windows
    // would take for the same folder. Judge the outcome by the file system.
    std::string (*removeTree)(const std::string& path);
    // Copies the unpacked tree over the installation, then removes the staging tree.
    std::string (*copyAndClean)(const std::string& unpackedTree, const std::string& destinationDir,
                                const std::string& stagingTree);
    // Deletes the scheduled task; non-zero status when none exists.
    std::string (*deleteTask)();
    // Creates the task from a definition file (administrative form only).
    std::string (*createTaskFromDefinition)(const std::string& definitionPath);
    // Creates the task that repeats every `everyHours` hours, running the
    // launcher script with the updater's path; `administrative` raises its rights.
    std::string (*createRepeatingTask)(const std::string& everyHoursText,
                                       const std::string& launcherScriptPath,
                                       const std::string& updaterExePath, bool administrative);
};
// The table of the platform built for. Bound to a constant table, so it holds
// before any constructor of a static object runs.
extern const CommandBuilders& commands;

}  // namespace platform
