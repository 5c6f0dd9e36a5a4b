// Whole-or-nothing file replacement from several threads at once, and the clean-up an ending
// signal runs while they write.
#include "io/AtomicFile.h"
#include "tests/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int THREADS = 8;

std::string contentOf(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// The bytes thread `thread` writes in its round `round`: large enough that writes overlap.
std::string bytesOf(int thread, int round) {
    return std::string(size_t(1) << 18, static_cast<char>('a' + thread)) + std::to_string(round);
}

// Names in the folder other than the targets: a new file left behind.
int leftovers(const TempFolder& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path)) {
        if (entry.path().filename().string().rfind("target-", 0) != 0) ++count;
    }
    return count;
}

}  // namespace

TEST(AtomicFile, ThreadsReplacingFilesAtOnceEachGetTheirOwnBytes) {
    const TempFolder folder;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int thread = 0; thread < THREADS; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 20; ++round) {
                std::string error;
                if (!replaceFile(folder / ("target-" + std::to_string(thread)), bytesOf(thread, round), error)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    for (int thread = 0; thread < THREADS; ++thread) {
        EXPECT_EQ(contentOf(folder / ("target-" + std::to_string(thread))), bytesOf(thread, 19)) << thread;
    }
    EXPECT_EQ(leftovers(folder), 0);
}

// A file filled by a writer that opens it by name takes the target's place only when put there: a
// writer that fails or is abandoned leaves the target as it was and nothing beside it.
TEST(AtomicFile, AFileFilledByAnotherWriterReplacesTheTargetOnlyWhenPutInPlace) {
    struct Case {
        const char* name;
        bool targetExists;
        bool putInPlace;
    };
    for (const Case& row : {Case{"replaces an existing file", true, true}, Case{"makes a new file", false, true},
                            Case{"abandoned over an existing file", true, false},
                            Case{"abandoned with no file before", false, false}}) {
        SCOPED_TRACE(row.name);
        const TempFolder folder;
        const std::string target = folder / "target-video";
        if (row.targetExists) {
            std::ofstream(target) << "previous";
            std::filesystem::permissions(target, std::filesystem::perms(0640));
        }
        {
            std::string error;
            UnfinishedFile file(target, error);
            ASSERT_TRUE(file.isMarked()) << error;
            EXPECT_EQ(std::filesystem::path(file.path()).parent_path(), folder.path);
            std::ofstream(file.path(), std::ios::binary) << "new bytes";
            if (row.putInPlace) {
                ASSERT_TRUE(file.putInPlace(error)) << error;
                EXPECT_FALSE(file.isMarked());
            }
        }
        EXPECT_EQ(leftovers(folder), 0);
        const std::string expected = row.putInPlace ? "new bytes" : row.targetExists ? "previous" : "";
        EXPECT_EQ(contentOf(target), expected);
        if (row.targetExists && row.putInPlace) {
            EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640)) << "the target's mode is kept";
        }
    }
    std::string error;
    EXPECT_FALSE(UnfinishedFile("/nonexistent-folder/video.mp4", error).isMarked());
    EXPECT_EQ(error, "cannot write /nonexistent-folder/video.mp4: /nonexistent-folder: No such file or directory");
}

// The clean-up runs as an ending signal's handler would, on a thread of its own, while the other
// threads write; it ends the process's writing, so it runs in a child.
TEST(AtomicFileDeathTest, TheEndingCleanUpRemovesEveryThreadsNewFileAndStopsNewOnes) {
    const TempFolder folder;
    EXPECT_EXIT(
        {
            std::vector<std::thread> threads;
            std::atomic<int> stopped{0};
            for (int thread = 0; thread < THREADS; ++thread) {
                threads.emplace_back([&, thread] {
                    std::string error;
                    for (int round = 0; replaceFile(folder / ("target-" + std::to_string(thread)),
                                                    bytesOf(thread, round), error);
                         ++round) {
                    }
                    ++stopped;
                });
            }
            // Only once a new file is seen beside the targets is a write surely under way.
            while (leftovers(folder) == 0) std::this_thread::yield();
            // A file another writer fills (a video) goes with them.
            std::string error;
            const UnfinishedFile video(folder / "video", error);
            removeUnfinishedFile();
            for (std::thread& thread : threads) thread.join();
            bool whole = true;
            for (int thread = 0; thread < THREADS; ++thread) {
                const std::string content = contentOf(folder / ("target-" + std::to_string(thread)));
                whole = whole && (content.empty() || content.compare(0, size_t(1) << 18, bytesOf(thread, 0), 0,
                                                                     size_t(1) << 18) == 0);
            }
            std::exit(stopped == THREADS && whole && video.isMarked() && leftovers(folder) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Fault caught: a new file's name that is already taken, so that a second screenshot within one
// second replaces the first; a dangling link or a folder taken for a free name (the write would
// follow the link, or fail); a gap in the numbering.
TEST(AtomicFile, UnusedPathSkipsEveryNameThatIsTaken) {
    const struct {
        const char* name;
        std::vector<std::string> taken;
        std::string expected;
    } cases[] = {
        {"nothing there", {}, "shot.png"},
        {"the first taken", {"shot.png"}, "shot-2.png"},
        {"two taken", {"shot.png", "shot-2.png"}, "shot-3.png"},
        {"a dangling link", {"link:shot.png"}, "shot-2.png"},
        {"a folder", {"folder:shot.png"}, "shot-2.png"},
        {"another extension only", {"shot.jpg", "shot-2"}, "shot.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempFolder folder;
        for (const std::string& entry : c.taken) {
            const size_t colon = entry.find(':');
            const std::string name = colon == std::string::npos ? entry : entry.substr(colon + 1);
            if (entry.rfind("link:", 0) == 0) {
                std::filesystem::create_symlink(folder / "nowhere", folder / name);
            } else if (entry.rfind("folder:", 0) == 0) {
                std::filesystem::create_directory(folder / name);
            } else {
                folder.write(name, {1});
            }
        }
        EXPECT_EQ(unusedPath(folder / "shot", ".png"), folder / c.expected);
    }
}
