#include "run/tagreader.h"

#include "walk/folderchain.h"
#include "walk/foldertree.h"
#include "fs/openfolder.h"
#include "names/renamefailures.h"

#include <cerrno>
#include <chrono>
#include <new>
#include <system_error>

namespace sorvane
{

std::thread (*TagReader::StartThread)(std::function<void()> work) = [](std::function<void()> work) {
    return std::thread(std::move(work));
};

TagReader::TagReader(const OpenFolder& root, const FolderTree& tree, bool ahead)
    : m_root(root), m_tree(tree), m_total(tree.files.size()), m_ahead(ahead && m_total > 1)
{
    if (!m_ahead) {
        m_chain = std::make_unique<FolderChain>(root, tree);
        return;
    }
    m_slots.resize(Window);
    m_filled.assign(Window, 0);
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

TagRead TagReader::read(FolderChain& chain, int& folder, const OpenFolder*& open, Outcome& failure,
                        int file) const
{
    if (const int now = m_tree.folderOf(file); now != folder) {
        folder = now;
        open = chain.open(folder, failure);
    }
    TagRead read;
    if (!open)
        read.outcome = failure;
    else if (const int typeError = m_tree.files.typeError(file); typeError != 0)
        read.outcome = {&RenameFailure::TypeUnreadable, typeError};
    else
        read.outcome = ReadTagBytesAt(open->fd(), m_tree.files.name(file), read.bytes);
    return read;
}

TagRead TagReader::readOrFail(FolderChain& chain, int& folder, const OpenFolder*& open,
                              Outcome& failure, int file) const
{
    try {
        return read(chain, folder, open, failure, file);
    } catch (const std::bad_alloc&) {
        return {{&RenameFailure::ReadCrashed, ENOMEM}, TagBytes()};
    } catch (const std::exception&) {
        return {{&RenameFailure::ReadCrashed, EIO}, TagBytes()};
    }
}

void TagReader::readerLoop()
{
    // Each reader reopens folders on its own: descriptors are not shared between threads.
    FolderChain chain(m_root, m_tree);
    int folder = -1;
    const OpenFolder* open = nullptr;
    Outcome failure;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_roomMade.wait(lock, [this] {
            return m_stop || m_claimed >= m_total || m_claimed < m_taken + Window;
        });
        if (m_stop || m_claimed >= m_total)
            return;
        const int file = m_claimed++;
        lock.unlock();
        TagRead tag = readOrFail(chain, folder, open, failure, file);
        lock.lock();
        // The slot is free: the window never reaches past a file not yet handed over.
        const std::size_t slot = std::size_t(file % Window);
        m_slots[slot] = std::move(tag);
        m_filled[slot] = 1;
        if (file == m_taken)
            m_slotFilled.notify_one();
    }
}

TagRead TagReader::next(int file)
{
    if (!m_ahead)
        return readOrFail(*m_chain, m_folder, m_open, m_folderFailure, file);
    const std::size_t slot = std::size_t(file % Window);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_filled[slot]) {
        const auto start = std::chrono::steady_clock::now();
        m_slotFilled.wait(lock, [&] { return m_filled[slot] != 0; });
        // A wait as long as a round trip to a share, twice in a row, while the window has room:
        // one more read at once. A local disk's reads keep ahead, or keep the wait short.
        const bool long_ = std::chrono::steady_clock::now() - start > LongWait;
        m_longWaits = long_ ? m_longWaits + 1 : 0;
        if (m_longWaits >= 2 && m_claimed < m_taken + Window && m_claimed < m_total) {
            m_longWaits = 0;
            addReader();
        }
    }
    TagRead tag = std::move(m_slots[slot]);
    m_filled[slot] = 0;
    ++m_taken;
    lock.unlock();
    m_roomMade.notify_one();
    return tag;
}

} // namespace sorvane
