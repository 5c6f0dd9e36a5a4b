// Replacing a file whole or not at all: the bytes go to a new file beside the target, which is
// renamed over the target only once everything is written, so that a full disk, an interrupted
// run or a second writer never leaves a cut-off or mixed file, and a failed write leaves the
// target as it was.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Whether `folder` exists, is a folder and may be written into; false with the reason otherwise.
bool checkWritableFolder(const std::string& folder, std::string& error);

// Whether replaceFile(path, ...) can be tried: the path's folder is writable and the path is
// absent or a regular file (through any symbolic links). A device, a named pipe or a folder is
// never replaced. False with one line naming the path and the reason otherwise.
bool checkReplaceable(const std::string& path, std::string& error);

// Writes the bytes to a new file of a unique name in the target's folder, flushes and closes it,
// then renames it over the target (over the file a symbolic link points to, for a link). On any
// failure removes that new file, and only it, and returns false with one line naming the path
// and the system's reason. Threads may replace files at once, up to 64 at a time.
bool replaceFile(const std::string& path, std::string_view bytes, std::string& error);

// A new file beside a target for a writer that opens files by name (a library such as libavformat)
// to fill; replaceFile fills one itself. It is made empty, under a unique name in the target's
// folder, with the checks replaceFile makes, and is removed when this is destroyed unless put in
// place, and by removeUnfinishedFile meanwhile. Marking fails, with one line naming the target, as
// replaceFile would.
class UnfinishedFile {
public:
    UnfinishedFile(const std::string& target, std::string& error);
    ~UnfinishedFile();
    UnfinishedFile(const UnfinishedFile&) = delete;
    UnfinishedFile& operator=(const UnfinishedFile&) = delete;

    bool isMarked() const { return slot >= 0; }
    // Where the writer writes; empty once put in place or when marking failed.
    const char* path() const;
    // Once the writer has closed the file: flushes it to the disk, gives it the target's permission
    // bits and renames it over the target. False with one line naming the target otherwise, the
    // file still unfinished.
    bool putInPlace(std::string& error);

private:
    std::string asked;
    std::string target;
    unsigned int mode = 0;
    int slot = -1;
};

// `stem` + `extension` when nothing (no file, link or folder) has that name, else the first of
// `stem`-2 + `extension`, `stem`-3 + `extension`, ... that nothing has: the name of a new file that
// must not take the place of another, such as a second screenshot within one second.
std::string unusedPath(const std::string& stem, const std::string& extension);

// A folder this process is filling with files (and no folders), such as a pyramid being built
// before it is renamed into place: removeUnfinishedFile removes it and its files while it is
// marked. Marking fails, with the reason, when the run is ending or 64 files and folders are
// already being written.
class UnfinishedFolder {
public:
    UnfinishedFolder(const std::string& path, std::string& error);
    // Forgets the folder (its owner removes it or renames it into place).
    ~UnfinishedFolder();
    UnfinishedFolder(const UnfinishedFolder&) = delete;
    UnfinishedFolder& operator=(const UnfinishedFolder&) = delete;

    bool isMarked() const { return slot >= 0; }

private:
    int slot = -1;
};

// Removes the new files replaceFile calls are writing at the moment, on every thread, and the
// unfinished folders, and makes every later call fail: the run is ending. Safe to call from a
// handler of SIGINT, SIGTERM or SIGHUP (which replaceFile blocks while it names a new file), so
// that a run ended by a signal leaves nothing behind.
void removeUnfinishedFile();

// Has SIGINT, SIGTERM and SIGHUP run `onEndingSignal` (which must be async-signal-safe; may be
// null), then removeUnfinishedFile, and end the process by that same signal. A signal the caller
// chose to ignore (nohup, a background job) stays ignored.
void removeUnfinishedFilesOnEndingSignals(void (*onEndingSignal)() = nullptr);
