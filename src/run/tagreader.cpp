#include "run/tagreader.h"

#include "fs/openfolder.h"
#include "names/renamefailures.h"
#include "walk/folderchain.h"
#include "walk/foldertree.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <system_error>

#include <sched.h>
#include <sys/resource.h>

namespace sorvane
{

std::thread (*TagReader::StartThread)(std::function<void()> work) = [](std::function<void()> work) {
    return std::thread(std::move(work));
};

TagReader::TagReader(const OpenFolder& root, const FolderTree& tree, bool ahead, int window)
    : m_root(root), m_tree(tree), m_total(tree.files.size()), m_window(std::max(window, 1)),
      m_ahead(ahead && m_total > 1)
{
    if (!m_ahead) {
        m_chain = std::make_unique<FolderChain>(root, tree);
        return;
    }
    m_slots.resize(std::size_t(m_window));
    m_filled.assign(std::size_t(m_window), 0);
    cpu_set_t cores;
    CPU_ZERO(&cores);
    m_cores = sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 1;
    const std::lock_guard<std::mutex> lock(m_mutex);
    addReader();
}

TagReader::~TagReader()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_roomMade.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

int TagReader::readers() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_threads.size());
}

void TagReader::addReader()
{
    if (int(m_threads.size()) >= MostReaders)
        return;
    try {
        m_threads.push_back(StartThread([this] { readerLoop(); }));
    } catch (const std::system_error&) {
        // No thread to be had: the readers there are go on, and without any, the renaming thread
        // reads each tag in turn.
        if (m_threads.empty()) {
            m_ahead = false;
            m_chain = std::make_unique<FolderChain>(m_root, m_tree);
        }
    }
}

namespace
{

// How often the calling thread was preempted so far. Asked only after a slow read: a read that
// waited for a core, not for the disk, says nothing of the disk.
long preemptions()
{
    struct rusage usage = {};
    return ::getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nivcsw : 0;
}

} // namespace

TagRead TagReader::read(FolderChain& chain, int& folder, const OpenFolder*& open, Outcome& failure,
                        int file, TagBytes& scratch, bool& slow) const
{
    if (const int now = m_tree.folderOf(file); now != folder) {
        folder = now;
        open = chain.open(folder, failure);
    }
    TagRead read;
    slow = false;
    if (!open) {
        read.outcome = failure;
    } else if (const int typeError = m_tree.files.typeError(file); typeError != 0) {
        read.outcome = {&RenameFailure::TypeUnreadable, typeError};
    } else {
        thread_local long preempted = preemptions();
        const auto start = std::chrono::steady_clock::now();
        read.outcome = ReadTagBytesAt(open->fd(), m_tree.files.name(file), scratch);
        if (std::chrono::steady_clock::now() - start > SlowRead) {
            const long now = preemptions();
            slow = now == preempted;
            preempted = now;
        }
        if (read.outcome.ok())
            read.tag = ParseTagBytes(scratch, TagTextDecoder::system());
        // What identifies the file goes on; the frames' bytes stay for the next file.
        read.bytes.tail = scratch.tail;
        read.bytes.tailSize = scratch.tailSize;
        read.bytes.size = scratch.size;
        read.bytes.modified = scratch.modified;
        read.bytes.inode = scratch.inode;
        // The folder's drive is the root's: the walk enters no other.
        if (read.outcome.ok())
            read.identity =
                IdentityOf(scratch.size, scratch.modified, qint64(scratch.inode),
                           QByteArrayView(scratch.tail.data(), scratch.tailSize), m_root.traits());
    }
    return read;
}

TagRead TagReader::readOrFail(FolderChain& chain, int& folder, const OpenFolder*& open,
                              Outcome& failure, int file, TagBytes& scratch, bool& slow) const
{
    try {
        return read(chain, folder, open, failure, file, scratch, slow);
    } catch (const std::bad_alloc&) {
        TagRead failed;
        failed.outcome = {&RenameFailure::ReadCrashed, ENOMEM};
        return failed;
    } catch (const std::exception&) {
        TagRead failed;
        failed.outcome = {&RenameFailure::ReadCrashed, EIO};
        return failed;
    }
}

int TagReader::runEnd(int first) const
{
    // A run never leaves its folder, so a folder of an album is opened by one reader, not by
    // each; nor does it reach past the window, whose slots the renaming thread has not freed.
    const TreeFolder& folder = m_tree.folders[std::size_t(m_tree.folderOf(first))];
    const int end = std::min(
        {folder.firstFile + folder.fileCount, first + RunFiles, m_taken + m_window, m_total});
    return std::max(end, first + 1);
}

void TagReader::readerLoop()
{
    // Each reader reopens folders on its own, relative to their parents and checked against the
    // tree, as the renaming thread does: descriptors are not shared between threads. That is a
    // folder's open per run of its files a reader claims, not per file.
    FolderChain chain(m_root, m_tree);
    int folder = -1;
    const OpenFolder* open = nullptr;
    Outcome failure;
    TagBytes scratch;
    // Whether this reader has had a core to itself lately: asked once every SampleReads reads.
    long preempted = preemptions();
    int sinceSample = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (!(m_stop || m_claimed >= m_total || m_claimed < m_taken + m_window)) {
            // The window is full: woken once a run of slots is free, not for each, or the
            // renaming thread and the readers would wake each other once a file.
            ++m_roomWaiters;
            m_roomMade.wait(lock, [this] {
                return m_stop || m_claimed >= m_total ||
                       m_claimed + roomRun() <= m_taken + m_window;
            });
            --m_roomWaiters;
        }
        if (m_stop || m_claimed >= m_total)
            return;
        const int first = m_claimed;
        const int end = runEnd(first);
        m_claimed = end;
        for (int file = first; file < end; ++file) {
            lock.unlock();
            bool slow = false;
            TagRead tag = readOrFail(chain, folder, open, failure, file, scratch, slow);
            bool sampled = false, ownCore = false;
            if (++sinceSample == SampleReads) {
                const long now = preemptions();
                sampled = true;
                ownCore = now == preempted;
                preempted = now;
                sinceSample = 0;
            }
            lock.lock();
            m_slow[std::size_t(m_judged++ % Judged)] = slow;
            if (sampled)
                m_unpreempted = ownCore ? m_unpreempted + SampleReads : 0;
            // The slot is free: the window never reaches past a file not yet handed over.
            const std::size_t slot = std::size_t(file % m_window);
            m_slots[slot] = std::move(tag);
            m_filled[slot] = 1;
            while (m_ready < m_total && m_ready < m_taken + m_window &&
                   m_filled[std::size_t(m_ready % m_window)])
                ++m_ready;
            if (m_waiting && m_ready >= m_wakeAt)
                m_slotFilled.notify_one();
            if (m_stop)
                return;
        }
    }
}

TagRead TagReader::next(int file)
{
    if (!m_ahead) {
        bool slow = false;
        return readOrFail(*m_chain, m_folder, m_open, m_folderFailure, file, m_scratch, slow);
    }
    const std::size_t slot = std::size_t(file % m_window);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_filled[slot]) {
        // The readers are behind: one more, if their reads wait for the disk and the window has
        // room. Its slow reads start a new count, so the next one is added on new evidence.
        const int slow = int(std::count(m_slow.begin(), m_slow.end(), true));
        const bool room = m_claimed < m_taken + m_window && m_claimed < m_total;
        if (m_judged >= Judged && slow >= SlowOfJudged && room) {
            m_slow.fill(false);
            m_judged = 0;
            addReader();
        } else if (room && m_threads.size() == 1 && m_cores >= 2 && m_unpreempted >= OwnCoreReads) {
            // Fast reads, but more of them than one core makes while this thread renames: a
            // local disk gains from a second reader on a second core, never from a third.
            addReader();
        }
        // Woken once a run of files is ready, not for each: a wake-up costs more than a read
        // from the page cache, and the readers are behind anyway. Never past the window's end,
        // which the readers cannot fill beyond until this file is taken.
        m_wakeAt = std::min(m_total, file + roomRun());
        m_waiting = true;
        m_slotFilled.wait(lock, [&] { return m_ready >= m_wakeAt; });
        m_waiting = false;
    }
    TagRead tag = std::move(m_slots[slot]);
    m_filled[slot] = 0;
    ++m_taken;
    const bool wake = m_roomWaiters > 0 && m_claimed + roomRun() <= m_taken + m_window;
    lock.unlock();
    if (wake)
        m_roomMade.notify_all();
    return tag;
}

} // namespace sorvane
