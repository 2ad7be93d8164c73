#include "rename/tagreader.h"

#include "rename/folderchain.h"
#include "rename/foldertree.h"
#include "rename/openfolder.h"
#include "rename/renamefailures.h"

#include <system_error>

namespace sorvane
{

namespace
{

void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

TagReader::TagReader(const OpenFolder& root, const FolderTree& tree, bool ahead)
    : m_tree(tree), m_chain(std::make_unique<FolderChain>(root, tree))
{
    if (!ahead || tree.files.size() < 2)
        return;
    try {
        m_thread = std::thread([this] { readAhead(); });
    } catch (const std::system_error&) {
        // No thread to be had: read in turn.
    }
}

TagReader::~TagReader()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    wake(m_readerWaiting, m_readerWakes);
    m_thread.join();
}

TagRead TagReader::read(int file)
{
    if (const int folder = m_tree.folderOf(file); folder != m_folder) {
        m_folder = folder;
        m_open = m_chain->open(folder, m_folderFailure);
    }
    TagRead read;
    if (!m_open)
        read.outcome = m_folderFailure;
    else if (const int typeError = m_tree.files.typeError(file); typeError != 0)
        read.outcome = {&RenameFailure::TypeUnreadable, typeError};
    else
        read.outcome = m_open->readTagBytes(m_tree.files.name(file), read.bytes);
    return read;
}

TagRead TagReader::next(int file)
{
    if (!m_thread.joinable())
        return read(file);
    waitUntil(m_renamerWaiting, m_renamerWakes, [&] { return m_read > file; });
    const TagRead read = m_ring[std::size_t(file) % RingSize];
    m_taken = file + 1;
    if (file + 1 >= m_readerNeeds)
        wake(m_readerWaiting, m_readerWakes);
    return read;
}

void TagReader::readAhead()
{
    for (int file = 0; file < m_tree.files.size(); ++file) {
        if (file - m_taken >= RingSize) {
            m_readerNeeds = file - RingSize + Stretch;
            waitUntil(m_readerWaiting, m_readerWakes,
                      [&] { return m_stop || m_taken >= m_readerNeeds; });
        }
        if (m_stop)
            return;
        // The slot is free: the renaming thread took it and will not look at it again.
        m_ring[std::size_t(file) % RingSize] = read(file);
        m_read = file + 1;
        wake(m_renamerWaiting, m_renamerWakes);
    }
}

// Sleeps until the condition holds. The flag is raised under the lock before the condition
// is looked at, and the other side looks at the flag after changing what the condition reads,
// so no wake-up is missed.
template <typename Condition>
void TagReader::waitUntil(std::atomic<bool>& waiting, std::condition_variable& wakes,
                          Condition ready)
{
    // The other thread is usually a file's system calls away: looking again for a few
    // microseconds costs less than sleeping and being woken.
    for (int spin = 0; spin < SpinsBeforeSleep; ++spin) {
        if (ready())
            return;
        relax();
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    waiting = true;
    wakes.wait(lock, ready);
    waiting = false;
}

void TagReader::wake(const std::atomic<bool>& waiting, std::condition_variable& wakes)
{
    if (!waiting)
        return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    wakes.notify_one();
}

} // namespace sorvane
