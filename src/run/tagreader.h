#pragma once

#include "base/error.h"
#include "fs/fileidentity.h"
#include "tag/tagbytes.h"
#include "tag/tagtext.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sorvane
{

class FolderChain;
class FolderTree;
class OpenFolder;

// One file as the reader hands it over: the fields, decoded where it was read, and what
// identifies the file (its stat and its last 128 bytes); the frames' bytes stay behind.
struct TagRead {
    Outcome outcome;
    TagBytes bytes; // the last 128 bytes and the stat identity; no frames
    TagText tag;
    FileIdentity identity; // as the journal keeps it, worked out by the reader
};

// Gives the tree's tags in order, each read in its own folder, reopened as the renaming thread
// reopens it. Reading ahead, reader threads take the next files in order and put each tag in a
// slot of a window of Window files past the last one handed over, so memory stays flat however
// large the tree; the renaming thread takes them in order. A reader claims a run of up to
// RunFiles files of one folder at a time, so it opens the folder once for all of them. Each reader
// decodes what it read, so the renaming thread only names and renames. One reader to begin with;
// another is added when the renaming thread finds its next tag not there yet while the reads
// themselves are slow: at least SlowOfJudged of the last Judged reads took longer than a round trip
// to a share, and the thread was not preempted meanwhile. A busy CPU makes reads wait for a core,
// not for the disk, and more readers would only take turns on the same cores. On a local disk,
// whose reads are short, a second reader is added (and no third) when one reader is behind although
// it has had a core to itself for its last OwnCoreReads reads, and the process may use two cores.
class TagReader
{
public:
    static constexpr int Window = 512;
    static constexpr int MostReaders = 16;
    static constexpr std::chrono::microseconds SlowRead{150};
    static constexpr int Judged = 8;
    static constexpr int SlowOfJudged = 6;
    static constexpr int WakeAfter = 32;
    static constexpr int RunFiles = 32;
    static constexpr int SampleReads = 64;
    static constexpr int OwnCoreReads = 256;

    // `window` is Window but in tests, which make it small to make the readers wait for room.
    TagReader(const OpenFolder& root, const FolderTree& tree, bool ahead, int window = Window);
    ~TagReader();

    TagReader(const TagReader&) = delete;
    TagReader& operator=(const TagReader&) = delete;

    // The tag of `file`; files are asked for in order, none twice.
    TagRead next(int file);

    // Reader threads started so far (0 when reading in turn).
    int readers() const;

    // How a reader thread is started; tests put one here that fails as a system out of threads
    // does.
    static std::thread (*StartThread)(std::function<void()> work);

private:
    // Reads and decodes one file; `slow` says whether the read calls took longer than SlowRead
    // for want of the disk.
    TagRead read(FolderChain& chain, int& folder, const OpenFolder*& open, Outcome& failure,
                 int file, TagBytes& scratch, bool& slow) const;
    // The same, with whatever the read throws made the file's failure, so no file can end the
    // program or leave the run waiting for a tag that never comes.
    TagRead readOrFail(FolderChain& chain, int& folder, const OpenFolder*& open, Outcome& failure,
                       int file, TagBytes& scratch, bool& slow) const;
    void readerLoop();
    // The end of the run of files a reader claims from `first` on (with the lock held): up to
    // RunFiles of one folder's files within the window.
    int runEnd(int first) const;
    void addReader(); // with the lock held
    // How many free slots wake a reader waiting for room, and how many ready files wake the
    // renaming thread.
    int roomRun() const { return std::min(WakeAfter, m_window); }

    const OpenFolder& m_root;
    const FolderTree& m_tree;
    const int m_total;
    const int m_window;
    bool m_ahead; // cleared, on the renaming thread, when no reader thread can be had

    // Reading in turn, on the renaming thread.
    std::unique_ptr<FolderChain> m_chain;
    int m_folder = -1;
    const OpenFolder* m_open = nullptr;
    Outcome m_folderFailure;
    TagBytes m_scratch; // every file read into the same buffers

    // Reading ahead: all under the one lock.
    mutable std::mutex m_mutex;
    std::condition_variable m_slotFilled; // the renaming thread waits for the tag it wants
    std::condition_variable m_roomMade;   // readers wait for the window to move on
    std::vector<TagRead> m_slots;
    std::vector<char> m_filled;
    int m_claimed = 0; // files taken by readers so far
    int m_taken = 0;   // files handed to the renaming thread so far
    int m_ready = 0;   // files read in order from the first, handed over or not
    int m_wakeAt = 0;  // the renaming thread waits until this many are ready
    bool m_waiting = false;
    int m_roomWaiters = 0;             // readers waiting for the window to move on
    int m_unpreempted = 0;             // reads since the first reader was last seen preempted
    int m_cores = 1;                   // the cores this process may run on
    std::array<bool, Judged> m_slow{}; // the last reads, as a ring
    int m_judged = 0;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

} // namespace sorvane
