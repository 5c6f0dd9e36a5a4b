// Atomic replacement of files by writing aside and renaming.
#include "io/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The new files being written, one slot each, kept where a signal handler can reach them without
// allocating or locking. A slot's name is only written while the slot is Claimed, by the thread
// that claimed it, with the ending signals blocked in that thread; the handler, on another thread
// then, waits out a claim and takes a Written slot for itself before it reads the name, so it never
// reads a name half made or being reused, and never misses a file that exists.
enum SlotState : int { FREE, CLAIMED, WRITTEN, REMOVING };
struct UnfinishedSlot {
    std::atomic<int> state{FREE};
    // A folder of files (UnfinishedFolder) rather than a file.
    bool isFolder = false;
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only use lock-free atomics");
constexpr int MAX_UNFINISHED_FILES = 64;
UnfinishedSlot unfinishedFiles[MAX_UNFINISHED_FILES];
// Set once the run is ending: no new file is started after the handler has looked.
std::atomic<bool> runEnding{false};

// Blocks the signals that end a run for as long as it lives.
class EndingSignalsBlocked {
public:
    EndingSignalsBlocked() {
        sigset_t ending;
        sigemptyset(&ending);
        for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, number);
        pthread_sigmask(SIG_BLOCK, &ending, &previous);
    }
    ~EndingSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
    EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;

private:
    sigset_t previous;
};

std::string folderOf(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    return folder.empty() ? "." : folder.string();
}

std::string systemReason(int code) { return std::strerror(code); }

// The file a write to `path` lands in: the path itself, or where its symbolic links lead.
bool resolveTarget(const std::string& path, std::string& target, std::string& reason) {
    std::error_code code;
    if (!fs::is_symlink(path, code)) {
        target = path;
        return true;
    }
    const fs::path resolved = fs::canonical(path, code);
    if (code) {
        reason = code.message();
        return false;
    }
    target = resolved.string();
    return true;
}

// The target's permission bits, for the new file to keep; 0 when there is no target yet.
mode_t existingMode(const std::string& target, std::string& reason) {
    struct stat status;
    if (stat(target.c_str(), &status) == 0) {
        if (S_ISREG(status.st_mode)) return status.st_mode & 07777;
        reason = S_ISDIR(status.st_mode) ? systemReason(EISDIR) : "not a regular file";
        return 0;
    }
    if (errno != ENOENT) reason = systemReason(errno);
    return 0;
}

bool checkTarget(const std::string& target, std::string& reason) {
    if (!checkWritableFolder(folderOf(target), reason)) return false;
    existingMode(target, reason);
    return reason.empty();
}

UnfinishedSlot* claimSlot() {
    for (UnfinishedSlot& slot : unfinishedFiles) {
        int free = FREE;
        if (slot.state.compare_exchange_strong(free, CLAIMED)) return &slot;
    }
    return nullptr;
}

// Creates a new file of a name no other writer uses, beside the target, and records it as
// unfinished in `slot`. -1 with the reason on failure.
int createUnfinishedFile(const std::string& target, UnfinishedSlot*& slot, std::string& reason) {
    static std::atomic<unsigned> serial{0};
    const fs::path targetPath(target);
    EndingSignalsBlocked blocked;
    slot = claimSlot();
    if (slot != nullptr) slot->isFolder = false;
    if (slot == nullptr) {
        reason = "more than " + std::to_string(MAX_UNFINISHED_FILES) + " files being written at once";
        return -1;
    }
    // The claim comes before this look, and the handler marks the run ending before it looks at
    // the slots, so either it waits for this file or this file is never started.
    if (runEnding) {
        slot->state = FREE;
        reason = "the run is ending";
        return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = (targetPath.parent_path() / ("." + targetPath.filename().string() + ".tmp-" +
                                                              std::to_string(getpid()) + "-" +
                                                              std::to_string(serial++)))
                                     .string();
        if (name.size() >= sizeof slot->path) {
            reason = systemReason(ENAMETOOLONG);
            break;
        }
        std::memcpy(slot->path, name.c_str(), name.size() + 1);
        const int fd = open(slot->path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            slot->state = WRITTEN;
            return fd;
        }
        if (errno != EEXIST) {
            reason = systemReason(errno);
            break;
        }
        reason = "no unused name for a new file beside it";
    }
    slot->state = FREE;
    return -1;
}

bool writeAll(int fd, std::string_view bytes, std::string& reason) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            reason = systemReason(count < 0 ? errno : EIO);
            return false;
        }
        written += static_cast<size_t>(count);
    }
    return true;
}

// Joins `folder` and `name` into `path` without allocating; false when it would not fit.
bool joinPath(const char* folder, const char* name, char (&path)[PATH_MAX]) {
    const size_t folderLength = std::strlen(folder), nameLength = std::strlen(name);
    if (folderLength + 1 + nameLength >= sizeof path) return false;
    std::memcpy(path, folder, folderLength);
    path[folderLength] = '/';
    std::memcpy(path + folderLength + 1, name, nameLength + 1);
    return true;
}

// Removes the folder and the files in it with system calls alone, as a signal handler may. Files are
// unlinked by path, not through the folder's descriptor, so that a folder renamed into place meanwhile
// keeps its files. A writer still adding files may leave some; a few passes outrun it.
void removeFolderOfFiles(const char* folder) {
    for (int pass = 0; pass < 4 && rmdir(folder) != 0 && errno == ENOTEMPTY; ++pass) {
        const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        alignas(8) char entries[4096];
        long length = 0;
        while ((length = syscall(SYS_getdents64, fd, entries, sizeof entries)) > 0) {
            for (long offset = 0; offset < length;) {
                // struct linux_dirent64: inode (8 bytes), offset (8), record length (2), type (1), name.
                unsigned short recordLength = 0;
                std::memcpy(&recordLength, entries + offset + 16, sizeof recordLength);
                const char* name = entries + offset + 19;
                char path[PATH_MAX];
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && joinPath(folder, name, path)) {
                    unlink(path);
                }
                offset += recordLength;
            }
        }
        close(fd);
    }
}

void (*ownEndingSignalWork)() = nullptr;

const int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void endBySignal(int number) {
    if (ownEndingSignalWork) ownEndingSignalWork();
    removeUnfinishedFile();
    // SA_RESETHAND restored the default action; the raised signal waits until this returns.
    raise(number);
}

}  // namespace

UnfinishedFolder::UnfinishedFolder(const std::string& path, std::string& error) {
    EndingSignalsBlocked blocked;
    UnfinishedSlot* claimed = claimSlot();
    if (claimed == nullptr) {
        error = "more than " + std::to_string(MAX_UNFINISHED_FILES) + " files being written at once";
        return;
    }
    // As in createUnfinishedFile: either the handler waits for this claim or no folder is started.
    if (runEnding || path.size() >= sizeof claimed->path) {
        claimed->state = FREE;
        error = runEnding ? "the run is ending" : systemReason(ENAMETOOLONG);
        return;
    }
    std::memcpy(claimed->path, path.c_str(), path.size() + 1);
    claimed->isFolder = true;
    claimed->state = WRITTEN;
    slot = static_cast<int>(claimed - unfinishedFiles);
}

UnfinishedFolder::~UnfinishedFolder() {
    if (slot < 0) return;
    // A slot the handler has taken stays its own: the run is ending.
    int written = WRITTEN;
    unfinishedFiles[slot].state.compare_exchange_strong(written, FREE);
}

bool checkWritableFolder(const std::string& folder, std::string& error) {
    struct stat status;
    int code = 0;
    if (stat(folder.c_str(), &status) != 0) {
        code = errno;
    } else if (!S_ISDIR(status.st_mode)) {
        code = ENOTDIR;
    } else if (access(folder.c_str(), W_OK | X_OK) != 0) {
        code = errno;
    }
    if (code == 0) return true;
    error = folder + ": " + systemReason(code);
    return false;
}

bool checkReplaceable(const std::string& path, std::string& error) {
    std::string target, reason;
    if (resolveTarget(path, target, reason) && checkTarget(target, reason)) return true;
    error = "cannot write " + path + ": " + reason;
    return false;
}

UnfinishedFile::UnfinishedFile(const std::string& path, std::string& error) : asked(path) {
    std::string reason;
    if (!resolveTarget(path, target, reason) || !checkTarget(target, reason)) {
        error = "cannot write " + path + ": " + reason;
        return;
    }
    mode = existingMode(target, reason);
    UnfinishedSlot* claimed = nullptr;
    const int fd = createUnfinishedFile(target, claimed, reason);
    if (fd < 0) {
        error = "cannot write " + path + ": " + reason;
        return;
    }
    close(fd);
    slot = static_cast<int>(claimed - unfinishedFiles);
}

UnfinishedFile::~UnfinishedFile() {
    if (slot < 0) return;
    EndingSignalsBlocked blocked;
    unlink(unfinishedFiles[slot].path);
    // A slot the handler has taken stays its own: the run is ending.
    int written = WRITTEN;
    unfinishedFiles[slot].state.compare_exchange_strong(written, FREE);
}

const char* UnfinishedFile::path() const { return slot >= 0 ? unfinishedFiles[slot].path : ""; }

bool UnfinishedFile::putInPlace(std::string& error) {
    if (slot < 0) {
        error = "cannot write " + asked + ": the new file was never made";
        return false;
    }
    UnfinishedSlot& unfinished = unfinishedFiles[slot];
    std::string reason;
    // The other writer has closed the file; its bytes reach the disk before the name does.
    const int fd = open(unfinished.path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = systemReason(errno);
    } else {
        if (mode != 0 && fchmod(fd, mode) != 0) reason = systemReason(errno);
        if (reason.empty() && fsync(fd) != 0) reason = systemReason(errno);
        if (close(fd) != 0 && reason.empty()) reason = systemReason(errno);
    }
    EndingSignalsBlocked blocked;
    if (reason.empty() && std::rename(unfinished.path, target.c_str()) != 0) reason = systemReason(errno);
    if (!reason.empty()) {
        error = "cannot write " + asked + ": " + reason;
        return false;
    }
    int written = WRITTEN;
    unfinished.state.compare_exchange_strong(written, FREE);
    slot = -1;
    return true;
}

bool replaceFile(const std::string& path, std::string_view bytes, std::string& error) {
    UnfinishedFile file(path, error);
    if (!file.isMarked()) return false;
    std::string reason;
    const int fd = open(file.path(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = systemReason(errno);
    } else {
        writeAll(fd, bytes, reason);
        if (close(fd) != 0 && reason.empty()) reason = systemReason(errno);
    }
    if (!reason.empty()) {
        error = "cannot write " + path + ": " + reason;
        return false;
    }
    return file.putInPlace(error);
}

std::string unusedPath(const std::string& stem, const std::string& extension) {
    std::string path = stem + extension;
    struct stat status;
    // A name that cannot be looked at (a folder without search rights) is handed back: writing
    // there fails with the system's reason.
    for (int copy = 2; lstat(path.c_str(), &status) == 0; ++copy) path = stem + "-" + std::to_string(copy) + extension;
    return path;
}

void removeUnfinishedFile() {
    runEnding = true;
    for (UnfinishedSlot& slot : unfinishedFiles) {
        int state = slot.state;
        // Only a thread with the ending signals blocked, so not this one, holds a claim, and only
        // while it names and creates its file.
        while (state == CLAIMED) state = slot.state;
        if (state != WRITTEN || !slot.state.compare_exchange_strong(state, REMOVING)) continue;
        if (slot.isFolder) {
            removeFolderOfFiles(slot.path);
        } else {
            unlink(slot.path);
        }
    }
}

void removeUnfinishedFilesOnEndingSignals(void (*onEndingSignal)()) {
    ownEndingSignalWork = onEndingSignal;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = endBySignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int number : ENDING_SIGNALS) sigaddset(&action.sa_mask, number);
    for (int number : ENDING_SIGNALS) {
        struct sigaction previous;
        if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
}
