#pragma once

#include "base/error.h"
#include "tag/tagbytes.h"

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

struct TagRead {
    Outcome outcome;
    TagBytes bytes;
};

// Gives the tree's tags in order, each read in its own folder, reopened as the renaming thread
// reopens it. Reading ahead, reader threads take the next files in order and put each tag in a
// slot of a window of Window files past the last one handed over, so memory stays flat however
// large the tree; the renaming thread takes them in order. One reader to begin with: another is
// added when the renaming thread has waited for a tag as long as a round trip to a share, twice
// in a row, while the window has room; on a local disk the first one keeps up or the waits stay
// short. Only bytes are read here; TagLib parses them on the renaming thread.
class TagReader
{
public:
    static constexpr int Window = 512;
    static constexpr int MostReaders = 16;
    static constexpr std::chrono::microseconds LongWait{150};

    TagReader(const OpenFolder& root, const FolderTree& tree, bool ahead);
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
    TagRead read(FolderChain& chain, int& folder, const OpenFolder*& open, Outcome& failure,
                 int file) const;
    // The same, with whatever the read throws made the file's failure, so no file can end the
    // program or leave the run waiting for a tag that never comes.
    TagRead readOrFail(FolderChain& chain, int& folder, const OpenFolder*& open, Outcome& failure,
                       int file) const;
    void readerLoop();
    void addReader(); // with the lock held

    const OpenFolder& m_root;
    const FolderTree& m_tree;
    const int m_total;
    bool m_ahead; // cleared, on the renaming thread, when no reader thread can be had

    // Reading in turn, on the renaming thread.
    std::unique_ptr<FolderChain> m_chain;
    int m_folder = -1;
    const OpenFolder* m_open = nullptr;
    Outcome m_folderFailure;

    // Reading ahead: all under the one lock.
    mutable std::mutex m_mutex;
    std::condition_variable m_slotFilled; // the renaming thread waits for the tag it wants
    std::condition_variable m_roomMade;   // readers wait for the window to move on
    std::vector<TagRead> m_slots;
    std::vector<char> m_filled;
    int m_claimed = 0; // files taken by readers so far
    int m_taken = 0;   // files handed to the renaming thread so far
    int m_longWaits = 0;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

} // namespace sorvane
