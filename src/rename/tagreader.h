#pragma once

#include "base/error.h"
#include "tag/tagbytes.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace sorvane
{

class FolderChain;
class FolderTree;
class OpenFolder;

struct TagRead {
    Outcome outcome;
    TagBytes bytes;
};

// Gives the snapshot's tags in order, read on a second thread some files ahead of the renames,
// or read right when asked. The two threads meet only through two counters; either sleeps only
// when it has to wait, and is woken only when it can go on by a good stretch, so a run pays for a
// sleep and a wake-up now and then rather than for every file.
class TagReader
{
public:
    // The files of the tree walked from root, each read in its own folder, reopened as the
    // renaming thread reopens it.
    TagReader(const OpenFolder& root, const FolderTree& tree, bool ahead);
    ~TagReader();

    TagReader(const TagReader&) = delete;
    TagReader& operator=(const TagReader&) = delete;

    // The tag of `file`; files are asked for in order, none twice.
    TagRead next(int file);

private:
    static constexpr int RingSize = 512;
    static constexpr int Stretch = RingSize / 2; // free slots the reader waits for when full
    static constexpr int SpinsBeforeSleep = 4000;

    void readAhead();
    TagRead read(int file);
    template <typename Condition>
    void waitUntil(std::atomic<bool>& waiting, std::condition_variable& wakes, Condition ready);
    void wake(const std::atomic<bool>& waiting, std::condition_variable& wakes);

    const FolderTree& m_tree;
    std::unique_ptr<FolderChain> m_chain; // the reading thread's own
    int m_folder = -1;                    // the folder the chain last opened, and the outcome
    const OpenFolder* m_open = nullptr;
    Outcome m_folderFailure;
    std::array<TagRead, RingSize> m_ring{};
    std::atomic<int> m_read{0};        // files read so far
    std::atomic<int> m_taken{0};       // files handed over so far
    std::atomic<int> m_readerNeeds{0}; // the reader sleeps until this many are taken
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_readerWaiting{false};
    std::atomic<bool> m_renamerWaiting{false};
    std::mutex m_mutex;
    std::condition_variable m_readerWakes;
    std::condition_variable m_renamerWakes;
    std::thread m_thread;
};

} // namespace sorvane
